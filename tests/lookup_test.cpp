// Name lookups under a resolver that never answers (run by tests/fixtures/dead_dns.sh), built
// natively and for Windows: a check and a clock synchronisation give up at their bound, and the
// lookups given up on leave no thread behind once the resolver gives up too.
#include <gtest/gtest.h>

#include <string>

#include "clock/sntp.h"
#include "net/net.h"
#include "mail/pop3.h"
#include "tests/support/harness.h"

#ifdef _WIN32
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

TEST(Lookup, ANameThatNeverResolvesEndsAtTheBoundAndLeavesNoThreadBehind)
{
    ASSERT_FALSE(Environment("POLLWICK_DEAD_DNS").empty()) << "run me with tests/fixtures/dead_dns.sh";
    int threads = ThreadCount();
    UseAccount("mail.pollwick.invalid", 110, "u", "p");
    NetTimeoutMs = 400;
    uint64_t start = NetClockMs();
    EXPECT_EQ(CheckMail(), -1);
    uint64_t took = NetClockMs() - start;
    EXPECT_GE(took, 380u);
    EXPECT_LT(took, 1500u);
    EXPECT_EQ(LoggedLines().back(), "[system] Error: mail.pollwick.invalidの名前解決がタイムアウトしました\r\n");
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
}

}  // namespace
