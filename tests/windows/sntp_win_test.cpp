// The SNTP exchange over real WinSock with the real SetLocalTime, which under Wine only takes a
// time within a moment of the host's: chrony's time is taken, a far-off one is refused.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "clock/local_clock.h"
#include "clock/sntp.h"
#include "mail/net.h"
#include "tests/support/fault_udp_server.h"

namespace {

using Lines = std::vector<std::string>;

bool ParseTimeLine(const std::string &line, const std::string &ending, ClockTime *time)
{
    int used = -1;
    sscanf(line.c_str(), "%4d年%2d月%2d日 %2d:%2d:%2d.%3d%n", &time->year, &time->month, &time->day, &time->hour,
           &time->minute, &time->second, &time->milliseconds, &used);
    return used >= 0 && line.substr(static_cast<size_t>(used)) == ending;
}

// A reply carrying the host's current time to the 100 ns, which the platform lets us set: Wine
// takes a time less than a second away from its own.
std::string ReplyWithTimeNow()
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    uint64_t ticks = (uint64_t{now.dwHighDateTime} << 32) | now.dwLowDateTime;  // since 1601
    uint64_t seconds = ticks / 10000000 - 9435484800u;  // 1601 to 1900
    uint64_t fraction = ((ticks % 10000000) << 32) / 10000000;
    return SntpReply(static_cast<uint32_t>(seconds), static_cast<uint32_t>(fraction));
}

const std::string kSetFailed = "Error: ローカル時刻の設定に失敗\r\n";
const std::string kSynchronised = "NTPサーバの時刻に同期しました\r\n";
constexpr uint32_t kExample2001 = 3215894400u;

std::string Sync(const std::string &server, int *result)
{
    char report[kSyncReportSize];
    *result = SyncClock(server.c_str(), report);
    return report;
}

std::string Server(int port) { return "127.0.0.1:" + std::to_string(port); }

TEST(WinSockSntp, ChronysTimeIsSetAndReportedInThreeLines)
{
    ASSERT_GT(ChronyPort(), 0) << "the chrony fixture did not run";
    for (const char *host : {"127.0.0.1", "localhost"}) {
        int result = -1;
        std::string report = Sync(std::string(host) + ":" + std::to_string(ChronyPort()), &result);
        EXPECT_EQ(result, 0) << report;
        Lines lines = ReportLines(report);
        ASSERT_EQ(lines.size(), 3u) << report;
        ClockTime pc, served;
        ASSERT_TRUE(ParseTimeLine(lines[0], " （ローカル時刻）\r\n", &pc)) << lines[0];
        ASSERT_TRUE(ParseTimeLine(lines[1], " （NTPサーバ時刻）\r\n", &served)) << lines[1];
        EXPECT_EQ(lines[2], kSynchronised);
        // The server line went through the C runtime's localtime, the PC line through
        // GetLocalTime: the same zone, so the same time within a moment.
        EXPECT_LE(std::llabs(SecondsOf(served) - SecondsOf(pc)), 1) << report;
    }
}

TEST(WinSockSntp, AFarOffTimeIsRefusedByThePlatform)
{
    ASSERT_TRUE(UdpPortHolder(kSntpLocalPort).bound);  // free, so the request can leave from it
    FaultUdpServer server({{UdpReply::Server, SntpReply(kExample2001)}});
    int result = -1;
    EXPECT_EQ(Sync(Server(server.Port()), &result), kSetFailed);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(server.Request(), std::string("\x0B") + std::string(47, '\0'));
    EXPECT_EQ(server.RequestPort(), kSntpLocalPort);
}

TEST(WinSockSntp, OnlyTheServersOwnTrustworthyReplyCounts)
{
    int result = -1;
    {
        // Far-off times from others would be refused by the platform; the server's own is now.
        FaultUdpServer server({{UdpReply::OtherPort, SntpReply(kExample2001)},
                               {UdpReply::OtherAddress, SntpReply(kExample2001)},
                               {UdpReply::Server, ReplyWithTimeNow()}});
        std::string report = Sync(Server(server.Port()), &result);
        EXPECT_EQ(result, 0);
        ASSERT_EQ(ReportLines(report).size(), 3u) << report;
        EXPECT_EQ(ReportLines(report)[2], kSynchronised);
    }
    {
        // WinSock itself refuses a datagram longer than the buffer.
        FaultUdpServer server({{UdpReply::Server, ReplyWithTimeNow() + std::string(1000, 'x')}});
        EXPECT_EQ(Sync(Server(server.Port()), &result), "Error: サーバからの受信失敗\r\n");
        EXPECT_EQ(result, -1);
    }
    {
        FaultUdpServer server({{UdpReply::OtherPort, ReplyWithTimeNow()}});
        uint64_t start = NetClockMs();
        EXPECT_EQ(Sync(Server(server.Port()), &result), "Error: タイムアウトしました\r\n");
        EXPECT_EQ(result, -1);
        EXPECT_GE(NetClockMs() - start, 2900u);  // the platform's tick may run a little coarse
        EXPECT_LT(NetClockMs() - start, 3600u);
    }
}

TEST(WinSockSntp, WhenPort1024IsTakenTheExchangeStillWorks)
{
    UdpPortHolder holder(kSntpLocalPort);
    ASSERT_TRUE(holder.bound);
    FaultUdpServer server({{UdpReply::Server, ReplyWithTimeNow()}});
    int result = -1;
    std::string report = Sync(Server(server.Port()), &result);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(ReportLines(report).size(), 3u) << report;
    EXPECT_NE(server.RequestPort(), kSntpLocalPort);
}

TEST(WinSockSntp, LocalTimeConversionReachesPast2038)
{
    _putenv("TZ=JST-9");
    ClockTime local;
    ASSERT_TRUE(ToLocalClockTime(NtpSecondsToUnix(kExample2001), 250, &local));
    EXPECT_EQ((std::vector<int>{local.year, local.month, local.day, local.hour, local.minute, local.second,
                                local.milliseconds}),
              (std::vector<int>{2001, 11, 28, 9, 0, 0, 250}));
    ASSERT_TRUE(ToLocalClockTime(NtpSecondsToUnix(61505152), 0, &local));  // 2038-01-19 03:14:08 UTC
    EXPECT_EQ((std::vector<int>{local.year, local.month, local.day, local.hour, local.minute, local.second}),
              (std::vector<int>{2038, 1, 19, 12, 14, 8}));
    ASSERT_TRUE(ToLocalClockTime(NtpSecondsToUnix(2147483647), 0, &local));  // 2104-02-26 09:42:23 UTC
    EXPECT_EQ((std::vector<int>{local.year, local.month, local.day, local.hour, local.minute, local.second}),
              (std::vector<int>{2104, 2, 26, 18, 42, 23}));
    _putenv("TZ=");
}

}  // namespace
