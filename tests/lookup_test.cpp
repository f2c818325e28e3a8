// Name lookups under a resolver that never answers (run by scripts/fixtures/dead_dns.sh), built
// natively and for Windows: a check and a clock synchronisation give up at their bound, and the
// lookups given up on leave no thread behind once the resolver gives up too. On Windows, WinSock
// stays started while such a lookup runs, and is released once the last one ends.
#include <gtest/gtest.h>

#include <string>

#include "clock/sntp.h"
#include "net/net.h"
#include "mail/pop3.h"
#include "tests/support/harness.h"

#ifdef _WIN32
#include <winsock2.h>
#include <windows.h>
#include <tlhelp32.h>
#else
#include <filesystem>
#endif

namespace {

int ThreadCount()
{
    int count = 0;
#ifdef _WIN32
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry = {sizeof entry};
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        count += entry.th32OwnerProcessID == GetCurrentProcessId() ? 1 : 0;
    CloseHandle(snapshot);
#else
    for (const auto &task : std::filesystem::directory_iterator("/proc/self/task"))
        count += task.is_directory() ? 1 : 0;
#endif
    return count;
}

#ifdef _WIN32
// Whether WinSock is started, asked without starting it: a socket needs it.
bool WinSockStarted()
{
    SOCKET s = socket(AF_INET, SOCK_DGRAM, 0);
    closesocket(s);
    return s != INVALID_SOCKET;
}
#endif

TEST(Lookup, ANameThatNeverResolvesEndsAtTheBoundAndLeavesNoThreadBehind)
{
    ASSERT_FALSE(Environment("POLLWICK_DEAD_DNS").empty()) << "run me with scripts/fixtures/dead_dns.sh";
    int threads = ThreadCount();
#ifdef _WIN32
    // Only the program's own starts may count: under Wine, loading secur32 leaves one of Kerberos's.
    while (WSACleanup() == 0) {
    }
#endif
    UseAccount("mail.pollwick.invalid", 110, "u", "p");
    NetTimeoutMs = 400;
    uint64_t start = NetClockMs();
    EXPECT_EQ(CheckMail(), -1);
    uint64_t took = NetClockMs() - start;
    EXPECT_TRUE(took >= 380 && took < 1500) << took;
    EXPECT_EQ(LoggedLines().back(), "[system] Error: mail.pollwick.invalidの名前解決がタイムアウトしました\r\n");
#ifdef _WIN32
    EXPECT_TRUE(WinSockStarted()) << "the check ended WinSock under its lookup";
#endif
    char report[kSyncReportSize];
    EXPECT_EQ(SyncClock("ntp.pollwick.invalid", report), -1);
    EXPECT_STREQ(report, "Error: ホストアドレス取得失敗\r\n");

    NetTimeoutMs = 20;
    start = NetClockMs();
    for (int i = 0; i < 100; i++)
        EXPECT_EQ(CheckMail(), -1);
    EXPECT_LT(NetClockMs() - start, 4000u);
    NetTimeoutMs = kDefaultNetTimeoutMs;
    EXPECT_TRUE(WaitUntil([&] { return ThreadCount() == threads; }, 15000))
        << ThreadCount() << " threads, " << threads << " before";
#ifdef _WIN32
    EXPECT_FALSE(WinSockStarted()) << "a start was never released";
#endif
}

// A name beyond ASCII is looked up, sent and checked in its IDN form, made once by Windows.
TEST(Lookup, ANameBeyondAsciiTakesItsIdnForm)
{
    char ascii[256];
    EXPECT_TRUE(NetAsciiHost("pop.example.jp", ascii, sizeof ascii));
    EXPECT_STREQ(ascii, "pop.example.jp");
#ifdef _WIN32
    EXPECT_TRUE(NetAsciiHost("例え.テスト", ascii, sizeof ascii));
    EXPECT_STREQ(ascii, "xn--r8jz45g.xn--zckzah");
    EXPECT_FALSE(NetAsciiHost("例え.テスト", ascii, 10));  // it does not fit
#endif
}

}  // namespace
