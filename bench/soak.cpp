// The soak: one running pollwick.exe checks thousands of times, as its timer runs a check, with
// everything that goes wrong in a year mixed in on a fixed schedule: counts that change, a refused
// login, a connection reset in the middle of a reply, a server that falls silent until the reply's
// time-out, a name lookup that never answers, the server stopping and starting again, a TLS
// handshake that fails and one that succeeds, a new shell, changes of display and settings, waking
// from sleep, the log window shown and hidden, the settings sheet opened and cancelled. At the end
// the counts, the log, the icon and the armed timer must be right. Started by bench/soak.sh,
// inside a network namespace whose resolver never answers (scripts/fixtures/dead_dns.sh), which
// samples the Wine side in the quiet moments this program announces.
// With POLLWICK_SOAK_STANDINS (bench/soak.sh --growth) every check is plain (or has the one thing of
// POLLWICK_SOAK_ONLY) and nothing else happens, and the stand-ins named there ("net,log;icon",
// bench/standin.cpp) run beside it.
// With POLLWICK_SOAK_ONLY (bench/soak.sh --only NAME) one thing happens at every check and nothing
// else, to tell which of them memory grows with: taskbar, display, log or sheet (besides the
// check), or refused, reset, lookup, tls (succeeding and refused in turn, the sheet switching) or
// resume (the check's own), or stls (every check through STLS, nothing else), or apply (the sheet
// opened, the server's name changed between two that need no lookup that fails, and OK, besides
// the check), or deadname (the lookup that never answers, the name set once).
#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>

#include <atomic>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "resources/names.h"
#include "resources/resource.h"
#include "tests/support/harness.h"
#include "tests/support/win_harness.h"

namespace {

// What the next connection meets.
enum class Peer { Dovecot, RefusedLogin, ResetMidReply, Silent, NotTls };

// Between the program and Dovecot, on one port for the whole run: each connection is relayed, or
// met as the schedule says; Stop and Start close and open the port as a server that stops would.
class Switchboard {
public:
    Switchboard()
    {
        listener_ = ListenOnLoopback(&port_, 16);
        thread_ = std::thread([this] { Run(); });
    }
    ~Switchboard()
    {
        done_ = true;
        thread_.join();
        Stop();
    }
    int Port() const { return port_; }
    int Connections() const { return connections_; }
    void Meet(Peer peer) { next_ = peer; }
    void Stop()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (listener_ != -1)
            CloseTestSocket(listener_);
        listener_ = -1;
    }
    void Start()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        // The same port again, as a restarted server has it.
        SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
        BOOL reuse = TRUE;
        setsockopt(s, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char *>(&reuse), sizeof reuse);
        sockaddr_in local = {};
        local.sin_family = AF_INET;
        local.sin_port = htons(static_cast<u_short>(port_));
        local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(s, reinterpret_cast<sockaddr *>(&local), sizeof local);
        listen(s, 16);
        listener_ = static_cast<intptr_t>(s);
    }

private:
    void Run()
    {
        while (!done_) {
            intptr_t client = -1;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                client = listener_ != -1 ? AcceptClient(listener_) : -1;
            }
            if (client == -1) {
                Sleep(listener_ == -1 ? 10 : 0);
                continue;
            }
            connections_++;
            Serve(client, next_);
            CloseTestSocket(client);
        }
    }
    static bool Line(intptr_t from, std::string *line)
    {
        char c = 0;
        line->clear();
        while (c != '\n' && WaitReadable(from, 40000) && recv(from, &c, 1, 0) == 1)
            *line += c;
        return c == '\n';
    }
    static void Say(intptr_t to, const std::string &text) { send(to, text.data(), static_cast<int>(text.size()), 0); }
    void Serve(intptr_t client, Peer peer)
    {
        std::string line;
        switch (peer) {
        case Peer::RefusedLogin:
            Say(client, "+OK soak ready\r\n");
            if (Line(client, &line))
                Say(client, "+OK\r\n");
            if (Line(client, &line))
                Say(client, "-ERR [AUTH] Authentication failed.\r\n");
            Line(client, &line);
            return;
        case Peer::ResetMidReply: {
            Say(client, "+OK soak ready\r\n");
            for (const char *reply : {"+OK\r\n", "+OK Logged in.\r\n"})
                if (Line(client, &line))
                    Say(client, reply);
            Line(client, &line);
            Say(client, "+OK 12 3");  // half a reply to STAT, then a reset
            linger reset = {1, 0};
            setsockopt(static_cast<SOCKET>(client), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char *>(&reset),
                       sizeof reset);
            return;
        }
        case Peer::Silent:  // until the program gives up waiting for the greeting and hangs up
            while (!done_ && !(WaitReadable(client, 100) && Closed(client))) {
            }
            return;
        case Peer::NotTls:
            Say(client, "+OK soak ready\r\n");
            if (Line(client, &line))
                Say(client, "+OK Begin TLS negotiation now.\r\n");
            WaitReadable(client, 5000);  // the client's hello
            Say(client, "HTTP/1.0 400 Bad Request\r\n\r\n");
            return;
        case Peer::Dovecot:
            Relay(client);
            return;
        }
    }
    static bool Closed(intptr_t s)
    {
        char c;
        return recv(s, &c, 1, MSG_PEEK) <= 0;
    }
    // Both ways at once, until either side closes.
    static void Relay(intptr_t client)
    {
        intptr_t server = ConnectToLoopback(DovecotPort());
        char buffer[16384];
        for (;;) {
            fd_set ready;
            FD_ZERO(&ready);
            FD_SET(static_cast<SOCKET>(client), &ready);
            FD_SET(static_cast<SOCKET>(server), &ready);
            timeval limit = {40, 0};
            if (select(0, &ready, nullptr, nullptr, &limit) <= 0)
                break;
            bool open = true;
            for (intptr_t from : {client, server})
                if (FD_ISSET(static_cast<SOCKET>(from), &ready)) {
                    int n = recv(from, buffer, sizeof buffer, 0);
                    open = open && n > 0 && send(from == client ? server : client, buffer, n, 0) == n;
                }
            if (!open)
                break;
        }
        CloseTestSocket(server);
    }

    int port_ = 0;
    intptr_t listener_ = -1;
    std::mutex mutex_;
    std::atomic<bool> done_{false};
    std::atomic<Peer> next_{Peer::Dovecot};
    std::atomic<int> connections_{0};
    std::thread thread_;
};

// What happens to check i (1-based), on the schedule the report states.
enum class Kind {
    Plain, RefusedLogin, ResetMidReply, Silent, DeadLookup, ServerStopped, TlsSucceeds, TlsFails, Resume,
};
const char *const kKindNames[] = {"plain",          "refused login", "reset mid-reply", "silent server", "dead name lookup",
                                  "server stopped", "TLS succeeds",  "TLS refused",     "after waking"};
constexpr int kKinds = 9;

bool plainOnly;
std::string only;

// Whether the thing named is done at check i: on the schedule, or at every check when it is the only one.
bool Due(int i, int every, int at, const char *name)
{
    return only.empty() ? !plainOnly && i % every == at : only == name;
}

Kind KindOf(int i, int last)
{
    if ((plainOnly && only.empty()) || i == last || i <= 10)
        return Kind::Plain;
    if (!only.empty()) {
        constexpr std::pair<const char *, Kind> kOnly[] = {{"refused", Kind::RefusedLogin},
                                                           {"reset", Kind::ResetMidReply},
                                                           {"lookup", Kind::DeadLookup},
                                                           {"deadname", Kind::DeadLookup},
                                                           {"resume", Kind::Resume}};
        for (const auto &[name, kind] : kOnly)
            if (only == name)
                return kind;
        return only == "tls" ? (i % 2 != 0 ? Kind::TlsSucceeds : Kind::TlsFails) : Kind::Plain;
    }
    if (i % 5000 == 2500)
        return Kind::Silent;
    if (i % 1000 == 400)
        return Kind::DeadLookup;
    if (i % 1000 >= 600 && i % 1000 <= 602)
        return Kind::ServerStopped;
    if (i % 1000 == 800)
        return Kind::TlsSucceeds;
    if (i % 1000 == 801)
        return Kind::TlsFails;
    if (i % 1000 == 900)
        return Kind::Resume;
    if (i % 100 == 37)
        return Kind::ResetMidReply;
    if (i % 10 == 5)
        return Kind::RefusedLogin;
    return Kind::Plain;
}
bool Succeeds(Kind kind) { return kind == Kind::Plain || kind == Kind::TlsSucceeds || kind == Kind::Resume; }
int CountOf(int i) { return (i * 7) % 13; }

// Messages to the program's window as the system sends them, waiting for it to take them.
LRESULT Send(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0, UINT ms = 60000)
{
    DWORD_PTR answer = 0;
    return SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG, ms, &answer) != 0 ? 1 : 0;
}

// The settings sheet as a user works it: opened from the menu, something done on a page, OK or Cancel.
bool WorkSheet(HWND window, int page, int control, const char *text, bool ok)
{
    PostMessageW(window, WM_COMMAND, IDM_SETTINGS, 0);
    HWND sheet = WaitDialog(SHEET_CAPTION, 10000);
    if (sheet == nullptr || !WaitUntil([&] { return IsWindowVisible(sheet) != FALSE; }))
        return false;
    SendMessageW(sheet, PSM_SETCURSEL, static_cast<WPARAM>(page), 0);
    HWND shown = reinterpret_cast<HWND>(SendMessageW(sheet, PSM_GETCURRENTPAGEHWND, 0, 0));
    if (text != nullptr)
        SetDlgItemTextW(shown, control, Wide(text).c_str());
    else if (control != 0)
        SendDlgItemMessageW(shown, control, BM_CLICK, 0, 0);
    PostMessageW(sheet, PSM_PRESSBUTTON, ok ? PSBTN_OK : PSBTN_CANCEL, 0);
    return WaitUntil([&] { return !IsWindow(sheet); }, 10000) && Send(window, WM_NULL) != 0;
}

// The last few lines of the program's log, for a failure's report.
std::string LastLines(const std::string &log)
{
    Lines lines = SplitLines(log);
    std::string last;
    for (size_t k = lines.size() > 6 ? lines.size() - 6 : 0; k < lines.size(); k++)
        last += lines[k];
    return last;
}

int Fail(const std::string &what)
{
    printf("soak: FAILED: %s\n", what.c_str());
    fflush(stdout);
    return 1;
}

}  // namespace

int main()
{
    const int checks = std::stoi(Environment("POLLWICK_SOAK_CHECKS", "20000"));
    if (Environment("POLLWICK_DEAD_DNS").empty())
        return Fail("run me where names never resolve (bench/soak.sh does)");
    Switchboard board;
    const std::string standins = Environment("POLLWICK_SOAK_STANDINS");
    plainOnly = !standins.empty();
    only = Environment("POLLWICK_SOAK_ONLY");
    const std::wstring folder = OwnFolder();
    for (std::string rest = standins; !rest.empty();) {
        std::string parts = rest.substr(0, rest.find(';'));
        rest = rest.find(';') == std::string::npos ? "" : rest.substr(rest.find(';') + 1);
        std::wstring command = L"\"" + folder + L"\\standin.exe\" " + Wide(parts) + L" " + std::to_wstring(checks);
        STARTUPINFOW startup = {sizeof startup};
        PROCESS_INFORMATION standin;
        if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &standin))
            return Fail("the stand-in " + parts + " did not start");
        CloseHandle(standin.hThread);
        CloseHandle(standin.hProcess);
    }
    ClearStore();
    PutStoredText("POP3", "localhost");  // looked up at every check, and the name TLS checks against
    PutStoredText("USER", TestMailbox().user);
    PutStoredText("PASS", TestMailbox().password);
    PutStoredNumber("PORT", board.Port());
    PutStoredNumber("TIME", 1);
    if (only == "stls")  // every check through STLS
        PutStoredNumber("TLSM", 1);
    SetMailboxCount(0);
    Program program;
    HWND window = program.Window();
    if (window == nullptr)
        return Fail("the program did not start");
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, pid);
    const UINT taskbarCreated = RegisterWindowMessageW(L"TaskbarCreated");
    std::map<std::string, int> events;  // what was done to the program besides its checks, and how often
    int kinds[kKinds] = {};
    int sampleEvery = checks >= 40 ? checks / 40 : 1;
    DWORD started = GetTickCount(), paused = 0;
    FILE *schedule = fopen(Environment("POLLWICK_SOAK_SCHEDULE", "soak-schedule.txt").c_str(), "w");

    for (int i = 1; i <= checks; i++) {
        Kind kind = KindOf(i, checks);
        kinds[static_cast<int>(kind)]++;
        if (kind != Kind::Plain && schedule != nullptr)
            fprintf(schedule, "%d %d\n", i, static_cast<int>(kind));
        SetMailboxCount(CountOf(i));
        // The program's surroundings, now and then.
        if (Due(i, 250, 100, "taskbar")) {
            Send(window, taskbarCreated);
            events["a new shell (TaskbarCreated)"]++;
        }
        if (Due(i, 250, 150, "display")) {
            Send(window, WM_DISPLAYCHANGE, 32, MAKELPARAM(1000, 700));
            Send(window, WM_SETTINGCHANGE, SPI_SETWORKAREA);
            events["a change of display and of settings"]++;
        }
        if (Due(i, 100, 50, "log")) {
            Send(window, WM_COMMAND, IDM_SHOWLOG);
            events["the log window shown and hidden"]++;
        }
        if (Due(i, 500, 250, "sheet")) {
            if (!WorkSheet(window, i / 500 % 3, 0, nullptr, false))
                return Fail("the sheet did not open and close at check " + std::to_string(i));
            events["the settings sheet opened and cancelled"]++;
        }
        if (only == "apply" && !WorkSheet(window, 0, IDC_POP3, i % 2 != 0 ? "127.0.0.1" : "localhost", true))
            return Fail("the sheet did not apply at check " + std::to_string(i));
        // The check's own circumstances.
        board.Meet(kind == Kind::RefusedLogin    ? Peer::RefusedLogin
                   : kind == Kind::ResetMidReply ? Peer::ResetMidReply
                   : kind == Kind::Silent        ? Peer::Silent
                   : kind == Kind::TlsFails      ? Peer::NotTls
                                                 : Peer::Dovecot);
        if (kind == Kind::ServerStopped && i % 1000 == 600)
            board.Stop();
        // (With only deadname: set once, before the first, and back after the last but one.)
        if (kind == Kind::DeadLookup && (only != "deadname" || i == 11) &&
            !WorkSheet(window, 0, IDC_POP3, "mail.pollwick.invalid", true))
            return Fail("the server's name was not set");
        if (kind == Kind::TlsSucceeds && !WorkSheet(window, 1, IDC_TLS_STLS, nullptr, true))
            return Fail("STLS was not chosen");
        if (i == checks && Send(window, WM_TRAYNOTIFY, ID_TRAYICON, WM_LBUTTONDOWN) == 0)  // all seen before the last
            return Fail("the click was not taken");

        int before = board.Connections();
        if (kind == Kind::Resume) {
            // Waking checks at once, through the timer; the wait for the window returns after it.
            Send(window, WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC);
            if (!WaitUntil([&] { return board.Connections() > before; }, 10000))
                return Fail("waking did not check at " + std::to_string(i) + "; the log ends:\n" + LastLines(program.Log()));
            if (Send(window, WM_NULL) == 0)
                return Fail("the check after waking did not end at " + std::to_string(i));
        } else if (Send(window, WM_TIMER, ID_CHECKTIMER) == 0) {
            return Fail("check " + std::to_string(i) + " did not end");
        }

        if (Due(i, 100, 50, "log")) {
            HWND log = FindDialog(LOG_WINDOW_CAPTION);
            PostMessageW(log, WM_COMMAND, IDOK, 0);
            WaitUntil([&] { return !IsWindowVisible(log); });
        }
        if (kind == Kind::ServerStopped && i % 1000 == 602)
            board.Start();
        if (kind == Kind::DeadLookup && (only != "deadname" || i == checks - 1) &&
            !WorkSheet(window, 0, IDC_POP3, "localhost", true))
            return Fail("the server's name was not set back");
        if (kind == Kind::TlsFails && !WorkSheet(window, 1, IDC_TLS_NONE, nullptr, true))
            return Fail("plain POP3 was not chosen again");
        if (i % sampleEvery == 0 || i == 10 || i == checks) {
            // A quiet moment, no check running: the script samples the Wine side now.
            DWORD handles = 0;
            GetProcessHandleCount(process, &handles);
            printf("soak: after check %d: %lu handles, %lu GDI and %lu USER objects (as Wine reports them)\n", i,
                   handles, GetGuiResources(process, GR_GDIOBJECTS), GetGuiResources(process, GR_USEROBJECTS));
            fflush(stdout);
            Sleep(1500);
            paused += 1500;
        }
    }
    if (schedule != nullptr)
        fclose(schedule);
    DWORD elapsed = GetTickCount() - started - paused;
    std::string log = program.Log();

    // The timer is still armed: a check of its own within the minute.
    int before = board.Connections();
    bool armed = WaitUntil([&] { return board.Connections() > before; }, 65000);
    Sleep(500);
    bool shown = ShownPicture() != 0;
    bool alive = !program.Ended(0);
    if (!program.Exit())
        return Fail("the program did not end");
    printf("soak: %d checks in %lu s (%.1f ms each, pauses for samples not counted)\n", checks,
           static_cast<unsigned long>(elapsed / 1000), static_cast<double>(elapsed) / checks);
    for (int k = 0; k < kKinds; k++)
        printf("soak: checks: %-18s %6d\n", kKindNames[k], kinds[k]);
    for (const auto &[what, times] : events)
        printf("soak: besides: %-40s %6d\n", what.c_str(), times);

    // The counts as the rules give them: the last check found CountOf(checks) after the user had
    // seen what the one before found (nothing, when it failed).
    int count = CountOf(checks), seen = Succeeds(KindOf(checks - 1, checks)) ? CountOf(checks - 1) : 0;
    int oldm = seen == 0 || count > seen ? seen : count;
    // The log: its last 64 lines in order, ending with the last check's.
    Lines lines = SplitLines(log);
    bool ordered = lines.size() == 64;
    for (size_t k = 1; ordered && k < lines.size(); k++)
        ordered = lines[k - 1].substr(0, 19) <= lines[k].substr(0, 19);
    const std::pair<const char *, bool> verdicts[] = {
        {"ALLM", StoredNumber("ALLM") == count},
        {"OLDM", StoredNumber("OLDM") == oldm},
        {"the log's 64 lines in order", ordered},
        {"the last check in the log", log.find("[recv] +OK " + std::to_string(count) + " ") != std::string::npos},
        {"the icon in the notification area", shown},
        {"the timer armed (a check within the minute after)", armed},
        {"the program running to the end", alive},
    };
    bool right = true;
    for (const auto &[what, good] : verdicts) {
        printf("soak: %s: %s\n", what, good ? "right" : "WRONG");
        right = right && good;
    }
    ClearStore();
    return right ? 0 : Fail("the program's state at the end");
}
