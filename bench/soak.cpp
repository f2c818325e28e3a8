// The soak: thousands of checks by one running pollwick.exe against Dovecot, the mailbox changing
// between checks and every tenth check refused by a failing server. Its windows must stay as many
// and the counts and the log must be right at the end; bench/soak.sh samples the Wine side in the
// quiet moments it announces. Run on demand (docs/benchmarks.md).
#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <thread>
#include <string>

#include "resources/names.h"
#include "resources/resource.h"
#include "tests/support/harness.h"
#include "tests/support/win_harness.h"

namespace {

// Between the program and Dovecot: relays each connection, except the 5th of every 10, which it
// refuses with a negative greeting as a failing server would.
class Relay {
public:
    explicit Relay(int serverPort) : serverPort_(serverPort), listener_(ListenOnLoopback(&port_))
    {
        thread_ = std::thread([this] {
            while (!stop_) {
                intptr_t client = AcceptClient(listener_);
                if (client == -1)
                    continue;
                if (++connections_ % 10 == 5) {
                    const char refusal[] = "-ERR soak: this server is failing\r\n";
                    send(client, refusal, sizeof refusal - 1, 0);
                } else {
                    Pump(client);
                }
                CloseTestSocket(client);
            }
        });
    }
    ~Relay()
    {
        stop_ = true;
        thread_.join();
        CloseTestSocket(listener_);
    }
    int Port() const { return port_; }
    int Connections() const { return connections_; }

private:
    void Pump(intptr_t client)
    {
        intptr_t server = ConnectToLoopback(serverPort_);
        char buffer[4096];
        for (bool open = true; open && !stop_;)
            for (intptr_t from : {client, server}) {
                if (!open || !WaitReadable(from, 5))
                    continue;
                int n = recv(from, buffer, sizeof buffer, 0);
                open = n > 0 && send(from == client ? server : client, buffer, n, 0) == n;
            }
        CloseTestSocket(server);
    }
    int serverPort_, port_ = 0;
    intptr_t listener_;
    std::atomic<bool> stop_{false};
    std::atomic<int> connections_{0};
    std::thread thread_;
};

BOOL CALLBACK CountOne(HWND window, LPARAM data)
{
    DWORD pid;
    GetWindowThreadProcessId(window, &pid);
    auto *count = reinterpret_cast<std::pair<DWORD, int> *>(data);
    if (pid == count->first) {
        count->second++;
        EnumChildWindows(window, CountOne, data);
    }
    return TRUE;
}

// The windows of the process, top-level and child. (Wine answers 0 for the GDI and USER object
// and handle counts: the script counts the Wine side's file descriptors instead.)
int Windows(HWND window)
{
    std::pair<DWORD, int> count(0, 0);
    GetWindowThreadProcessId(window, &count.first);
    EnumWindows(CountOne, reinterpret_cast<LPARAM>(&count));
    return count.second;
}

int Fail(const char *what)
{
    printf("soak: FAILED: %s\n", what);
    return 1;
}

}  // namespace

int main()
{
    const int checks = std::stoi(Environment("POLLWICK_SOAK_CHECKS", "2000"));
    Relay relay(DovecotPort());
    ClearStore();
    PutStoredText("POP3", "127.0.0.1");
    PutStoredText("USER", TestMailbox().user);
    PutStoredText("PASS", TestMailbox().password);
    PutStoredNumber("PORT", relay.Port());
    PutStoredNumber("TIME", 60);
    SetMailboxCount(0);
    Program program;
    if (program.Window() == nullptr)
        return Fail("the program did not start");
    // The window procedure runs a whole check on WM_TIMER: sent, it returns when the check is done.
    auto check = [&] {
        DWORD_PTR ignored;
        return SendMessageTimeoutA(program.Window(), WM_TIMER, ID_CHECKTIMER, 0, SMTO_ABORTIFHUNG, 60000, &ignored) != 0;
    };
    // The click is sent too: posted, it would wait behind the check sent right after it (a thread
    // takes sent messages before posted ones) and mark that check's mail as seen as well.
    auto click = [&] {
        DWORD_PTR ignored;
        return SendMessageTimeoutA(program.Window(), WM_TRAYNOTIFY, ID_TRAYICON, WM_LBUTTONDOWN, SMTO_ABORTIFHUNG, 10000,
                                   &ignored) != 0;
    };
    DWORD started = GetTickCount(), paused = 0;
    int count = 0, first = 0, peak = 0;
    for (int i = 1; i <= checks; i++) {
        count = (i * 7) % 13;
        SetMailboxCount(count);
        if (i == checks && !click())  // all seen before the last check
            return Fail("the click was not taken");
        if (!check())
            return Fail("a check did not end");
        int windows = Windows(program.Window());
        first = i <= 10 ? windows : first;  // the first checks make what every later one reuses
        peak = i <= 10 ? windows : std::max(peak, windows);
        if (i % 500 == 0 || i == 10 || i == checks) {
            printf("soak: after check %d: %d windows\n", i, windows);
            fflush(stdout);
            Sleep(3000);  // a quiet moment, no check running: the script samples the Wine side now
            paused += 3000;
        }
    }
    DWORD elapsed = GetTickCount() - started - paused;
    std::string log = program.Log();
    if (!program.Exit())
        return Fail("the program did not end");
    printf("soak: %d checks (%d refused) in %lu ms, %.1f ms each; windows %d -> peak %d\n", checks,
           relay.Connections() / 10, static_cast<unsigned long>(elapsed), static_cast<double>(elapsed) / checks, first,
           peak);
    // The last check found count after the user had seen the previous one's (none, if it failed).
    int previous = (checks - 1) % 10 == 5 ? 0 : ((checks - 1) * 7) % 13;
    Stored allm = ReadStored("ALLM"), oldm = ReadStored("OLDM");
    int lines = 0;
    for (size_t at = log.find("\r\n"); at != std::string::npos; at = log.find("\r\n", at + 2))
        lines++;
    bool right = relay.Connections() == checks && peak == first && first > 0 &&
                 allm.bytes == std::string(reinterpret_cast<char *>(&count), 4) &&
                 *reinterpret_cast<const int *>(oldm.bytes.data()) == (previous == 0 || count > previous ? previous : count) &&
                 lines == 64 && log.find("[recv] +OK " + std::to_string(count) + " ") != std::string::npos;
    ClearStore();
    return right ? 0 : Fail("connections, windows, counts or the log were not as they should be");
}
