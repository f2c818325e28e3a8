// The soak: thousands of checks by one running pollwick.exe against Dovecot, the mailbox changing
// between checks and every tenth check refused by a failing server. Resources must stay flat
// and the counts and the log must be right at the end. Run on demand (docs/benchmarks.md).
#include <gtest/gtest.h>

#include <winsock2.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>
#include <thread>

#include "tests/support/fault_server.h"
#include "tests/support/win_support.h"
#include "tests/support/test_support.h"

namespace {

const char kKey[] = "Software\\Quorvane\\Pollwick";
constexpr UINT kTrayNotify = WM_USER;
constexpr WPARAM kTrayId = 5000;
constexpr WPARAM kCheckTimer = 1000;
constexpr DWORD kQuietMs = 3000;  // after the reported checks, for the sampler

// Between Pollwick and Dovecot: relays each connection, except every tenth, which it refuses
// with a negative greeting as a failing server would.
class Relay {
public:
    explicit Relay(int dovecotPort) : dovecotPort_(dovecotPort)
    {
        listener_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(listener_, reinterpret_cast<sockaddr *>(&address), sizeof address);
        int length = sizeof address;
        getsockname(listener_, reinterpret_cast<sockaddr *>(&address), &length);
        port_ = ntohs(address.sin_port);
        listen(listener_, 4);
        thread_ = std::thread([this] { Run(); });
    }
    ~Relay()
    {
        closesocket(listener_);
        thread_.join();
    }
    int Port() const { return port_; }
    int Connections() const { return connections_; }

private:
    void Run()
    {
        for (;;) {
            SOCKET client = accept(listener_, nullptr, nullptr);
            if (client == INVALID_SOCKET)
                return;
            if (++connections_ % 10 == 5) {
                const char refusal[] = "-ERR soak: this server is failing\r\n";
                send(client, refusal, sizeof refusal - 1, 0);
            } else {
                Pump(client);
            }
            closesocket(client);
        }
    }
    void Pump(SOCKET client)
    {
        SOCKET server = socket(AF_INET, SOCK_STREAM, 0);
        BOOL on = TRUE;
        setsockopt(server, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char *>(&on), sizeof on);
        setsockopt(client, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char *>(&on), sizeof on);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<u_short>(dovecotPort_));
        if (connect(server, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0) {
            char buffer[4096];
            for (bool open = true; open;) {
                fd_set readable;
                FD_ZERO(&readable);
                FD_SET(client, &readable);
                FD_SET(server, &readable);
                timeval wait = {30, 0};
                if (select(0, &readable, nullptr, nullptr, &wait) <= 0)
                    break;
                for (SOCKET from : {client, server}) {
                    if (!FD_ISSET(from, &readable))
                        continue;
                    int received = recv(from, buffer, sizeof buffer, 0);
                    if (received <= 0 || send(from == client ? server : client, buffer, received, 0) != received)
                        open = false;
                }
            }
        }
        closesocket(server);
    }

    int dovecotPort_;
    SOCKET listener_;
    int port_ = 0;
    std::atomic<int> connections_{0};
    std::thread thread_;
};

BOOL CALLBACK CountChildren(HWND, LPARAM data)
{
    ++*reinterpret_cast<DWORD *>(data);
    return TRUE;
}

struct WindowCount {
    DWORD pid, windows;
};

BOOL CALLBACK CountProcessWindows(HWND window, LPARAM data)
{
    auto *c = reinterpret_cast<WindowCount *>(data);
    DWORD pid;
    GetWindowThreadProcessId(window, &pid);
    if (pid == c->pid) {
        c->windows++;
        EnumChildWindows(window, CountChildren, reinterpret_cast<LPARAM>(&c->windows));
    }
    return TRUE;
}

// What the process holds. Windows reports GDI and USER objects and handles; Wine answers 0 for
// all three (the soak script counts the Wine side's file descriptors instead). Its windows,
// top-level and child, are counted on both.
struct Usage {
    DWORD gdi, user, handles, windows;
};

Usage Measure(HANDLE process)
{
    Usage usage = {GetGuiResources(process, GR_GDIOBJECTS), GetGuiResources(process, GR_USEROBJECTS), 0, 0};
    GetProcessHandleCount(process, &usage.handles);
    WindowCount count = {GetProcessId(process), 0};
    EnumWindows(CountProcessWindows, reinterpret_cast<LPARAM>(&count));
    usage.windows = count.windows;
    return usage;
}

std::string LogText()
{
    static char text[81920];
    text[0] = '\0';
    HWND log = FindWindowA("#32770", "Pollwick ログ");
    DWORD_PTR copied = 0;
    if (log != nullptr)
        SendMessageTimeoutA(GetDlgItem(log, 3010), WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text),
                            SMTO_ABORTIFHUNG, 5000, &copied);
    return text;
}

TEST(Soak, ThousandsOfChecksLeaveNothingBehind)
{
    const int checks = std::stoi(Environment("POLLWICK_SOAK_CHECKS", "2000"));
    StartTestSockets();
    Relay relay(DovecotPort());
    RegDeleteKeyA(HKEY_CURRENT_USER, kKey);
    PutText("POP3", "127.0.0.1");
    PutText("USER", "wine");
    PutText("PASS", "w1ne-pass");
    PutNumber("PORT", static_cast<DWORD>(relay.Port()));
    PutNumber("TIME", 60);
    PutNumber("STCH", 0);
    SetMailboxCount("wine", 0);

    std::string program = ProgramCommandLine();
    STARTUPINFOA startup = {sizeof startup};
    PROCESS_INFORMATION process;
    ASSERT_TRUE(CreateProcessA(nullptr, &program[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process));
    // Whatever stops the test early, the program does not outlive it.
    struct Guard {
        PROCESS_INFORMATION *process;
        ~Guard()
        {
            if (WaitForSingleObject(process->hProcess, 0) == WAIT_TIMEOUT)
                TerminateProcess(process->hProcess, 1);
            CloseHandle(process->hProcess);
            CloseHandle(process->hThread);
        }
    } guard = {&process};
    HWND window = nullptr;
    for (int waited = 0; window == nullptr && waited < 10000; waited += 50) {
        Sleep(50);
        window = FindProgramWindow(process.dwProcessId);
    }
    ASSERT_NE(window, nullptr);

    // The window procedure runs a whole check on WM_TIMER: sent, it returns when the check is done.
    auto check = [&] {
        DWORD_PTR ignored;
        return SendMessageTimeoutA(window, WM_TIMER, kCheckTimer, 0, SMTO_ABORTIFHUNG, 60000, &ignored) != 0;
    };
    ASSERT_TRUE(check());
    Usage start = Measure(process.hProcess);
    DWORD started = GetTickCount(), paused = 0;
    int count = 0;
    Usage first = start, peak = start;
    for (int i = 2; i <= checks; i++) {
        count = (i * 7) % 13;
        SetMailboxCount("wine", count);
        DWORD_PTR ignored;
        if (i == checks)  // all seen before the last check
            SendMessageTimeoutA(window, kTrayNotify, kTrayId, WM_LBUTTONDOWN, SMTO_ABORTIFHUNG, 10000, &ignored);
        ASSERT_TRUE(check()) << "check " << i;
        Usage now = Measure(process.hProcess);
        if (i % 500 == 0 || i == 10 || i == checks) {
            printf("soak: after check %d: %lu windows, %lu GDI, %lu USER, %lu handles\n", i, now.windows, now.gdi,
                   now.user, now.handles);
            // A quiet moment, no check running: bench/soak.sh samples the Wine side now.
            fflush(stdout);
            Sleep(kQuietMs);
            paused += kQuietMs;
        }
        // The first checks create what every later one reuses (the log window's parts, the
        // tooltip): the baseline is taken after ten.
        if (i <= 10) {
            first = peak = now;
            continue;
        }
        peak = {std::max(peak.gdi, now.gdi), std::max(peak.user, now.user), std::max(peak.handles, now.handles),
                std::max(peak.windows, now.windows)};
    }
    DWORD elapsed = GetTickCount() - started - paused;
    Usage last = Measure(process.hProcess);
    std::string log = LogText();

    PostMessageA(window, WM_COMMAND, 201, 0);  // 終了: writes the counts back
    ASSERT_EQ(WaitForSingleObject(process.hProcess, 10000), WAIT_OBJECT_0);

    printf("soak: %d checks (%d refused) in %lu ms, %.1f ms each\n", checks, relay.Connections() / 10,
           static_cast<unsigned long>(elapsed), static_cast<double>(elapsed) / (checks - 1));
    printf("soak: after the first check: %lu windows\n", start.windows);
    printf("soak: GDI objects %lu -> %lu (peak %lu), USER objects %lu -> %lu (peak %lu), handles %lu -> %lu (peak %lu), "
           "windows %lu -> %lu (peak %lu)\n",
           first.gdi, last.gdi, peak.gdi, first.user, last.user, peak.user, first.handles, last.handles, peak.handles,
           first.windows, last.windows, peak.windows);
    EXPECT_EQ(relay.Connections(), checks);
    EXPECT_GT(first.windows, 0u);
    EXPECT_EQ(peak.windows, first.windows);
    EXPECT_LE(peak.gdi, first.gdi);
    EXPECT_LE(peak.user, first.user);
    if (first.handles != 0) {  // not reported under Wine
        EXPECT_LE(peak.handles, first.handles + 2);  // room for the system's own short-lived handles
        EXPECT_EQ(last.handles, first.handles);
    }

    // The last check found `count` after the user had seen the previous one's.
    int previous = ((checks - 1) * 7) % 13;
    if ((checks - 1) % 10 == 5)
        previous = 0;  // that check failed: nothing was left to acknowledge
    EXPECT_EQ(StoredNumber("ALLM"), count);
    EXPECT_EQ(StoredNumber("OLDM"), previous == 0 || count > previous ? previous : count);

    size_t lines = 0;
    for (size_t at = log.find("\r\n"); at != std::string::npos; at = log.find("\r\n", at + 2))
        lines++;
    EXPECT_EQ(lines, 64u);
    EXPECT_NE(log.find("[recv] +OK " + std::to_string(count) + " "), std::string::npos);
    RegDeleteKeyA(HKEY_CURRENT_USER, kKey);
}

}  // namespace
