// The SNTP exchange: server text, timestamps and report, against our scripted peer and chrony.
// The clock setter is replaced by one that records: no test here moves the host's clock.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "clock/local_clock.h"
#include "clock/sntp.h"
#include "mail/net.h"
#include "tests/support/fault_udp_server.h"

bool operator==(const ClockTime &a, const ClockTime &b)
{
    return memcmp(&a, &b, sizeof a) == 0;
}

void PrintTo(const ClockTime &t, std::ostream *out)
{
    char text[64];
    snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", t.year, t.month, t.day, t.hour, t.minute,
             t.second, t.milliseconds);
    *out << text;
}

namespace {

using Lines = std::vector<std::string>;

std::vector<ClockTime> clockSettings;  // every time the exchange set the clock to

bool RecordClock(const ClockTime *time)
{
    clockSettings.push_back(*time);
    return true;
}

// Reads a report's time line ("2001年11月28日 09:00:00.000 （...）\r\n") and checks its ending.
bool ParseTimeLine(const std::string &line, const std::string &ending, ClockTime *time)
{
    int used = -1;
    sscanf(line.c_str(), "%4d年%2d月%2d日 %2d:%2d:%2d.%3d%n", &time->year, &time->month, &time->day, &time->hour,
           &time->minute, &time->second, &time->milliseconds, &used);
    return used >= 0 && line.substr(static_cast<size_t>(used)) == ending;
}

const std::string kServerEnding = " （NTPサーバ時刻）\r\n";
const std::string kPcEnding = " （ローカル時刻）\r\n";
const std::string kSynchronised = "NTPサーバの時刻に同期しました\r\n";
const std::string kSetFailed = "Error: ローカル時刻の設定に失敗\r\n";
const std::string kTimedOut = "Error: タイムアウトしました\r\n";

constexpr uint32_t kExample2001 = 3215894400u;  // 2001-11-28 00:00:00 UTC

class SntpTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char *tz = getenv("TZ");
        hadTz_ = tz != nullptr;
        if (hadTz_)
            savedTz_ = tz;
        setenv("TZ", "JST-9", 1);
        clockSettings.clear();
        SetLocalClock = RecordClock;
        memset(report_, 'x', sizeof report_);
        report_[sizeof report_ - 1] = '\0';  // a report must replace whatever was there
    }
    void TearDown() override
    {
        SetLocalClock = saved_;
        if (hadTz_)
            setenv("TZ", savedTz_.c_str(), 1);
        else
            unsetenv("TZ");
    }

    void UseTheBuildsOwnSetter() { SetLocalClock = saved_; }
    int Sync(const std::string &server) { return SyncClock(server.c_str(), report_); }
    std::string Report() const { return report_; }

    // One exchange with a peer that answers with reply from its own address.
    int SyncWith(const std::string &reply)
    {
        FaultUdpServer server({{UdpReply::Server, reply}});
        return Sync("127.0.0.1:" + std::to_string(server.Port()));
    }

    char report_[kSyncReportSize];

private:
    bool (*saved_)(const ClockTime *) = SetLocalClock;
    bool hadTz_ = false;
    std::string savedTz_;
};

TEST(SntpServerText, HostAndPortAreSplitAtTheFirstColonAndReadLikeAtoi)
{
    struct Case {
        const char *text;
        const char *host;
        int port;
    } cases[] = {
        {"ntp.example.jp", "ntp.example.jp", 123},
        {"192.0.2.1:10123", "192.0.2.1", 10123},
        {"host:", "host", 0},
        {"host:abc", "host", 0},
        {"host:42ab", "host", 42},
        {"host:65659", "host", 123},  // only the low 16 bits count
        {"host:-1", "host", 65535},
        {"host:1234567", "host", 1234567 & 0xFFFF},  // seven characters still fit
        {"host:10123:5", "host", 10123},
        {"a::", "a", 0},
        {":123", "", 123},
    };
    for (const Case &c : cases) {
        char host[256] = "?";
        uint16_t port = 1;
        ASSERT_TRUE(SplitServerText(c.text, host, sizeof host, &port)) << c.text;
        EXPECT_STREQ(host, c.host) << c.text;
        EXPECT_EQ(port, c.port) << c.text;
    }

    char host[256];
    uint16_t port;
    EXPECT_FALSE(SplitServerText("host:12345678", host, sizeof host, &port));
    EXPECT_TRUE(SplitServerText((std::string(255, 'h') + ":1").c_str(), host, sizeof host, &port));
    EXPECT_EQ(strlen(host), 255u);
    EXPECT_FALSE(SplitServerText(std::string(256, 'h').c_str(), host, sizeof host, &port));
}

TEST(SntpServerText, OnlyADottedAddressIsReadWithoutLookup)
{
    uint32_t address = 0;
    EXPECT_TRUE(NetParseAddress("127.0.0.1", &address));
    EXPECT_EQ(address, htonl(0x7F000001));
    EXPECT_TRUE(NetParseAddress("10.1", &address));  // inet_addr's short forms
    EXPECT_EQ(address, htonl(0x0A000001));
    EXPECT_FALSE(NetParseAddress("localhost", &address));
    EXPECT_FALSE(NetParseAddress("", &address));
}

TEST(SntpTimestamps, SecondsFollowTheEraRuleAndFractionsRoundDown)
{
    EXPECT_EQ(NtpSecondsToUnix(2208988800u), 0);
    EXPECT_EQ(NtpSecondsToUnix(kExample2001), 1006905600);
    EXPECT_EQ(NtpSecondsToUnix(4294967295u), 2085978495);  // 2036-02-07 06:28:15, end of era 0
    EXPECT_EQ(NtpSecondsToUnix(0), 2085978496);            // the next second, start of era 1
    EXPECT_EQ(NtpSecondsToUnix(61505152), int64_t{2147483648});  // past 2038-01-19 03:14:07
    EXPECT_EQ(NtpSecondsToUnix(2147483647), int64_t{4233462143});  // 2104-02-26 09:42:23
    EXPECT_EQ(NtpSecondsToUnix(2147483648u), -61505152);   // 1968: before Unix time
    EXPECT_EQ(NtpSecondsToUnix(2208988799u), -1);

    EXPECT_EQ(FractionToMilliseconds(0), 0);
    EXPECT_EQ(FractionToMilliseconds(4294967), 0);  // just short of a millisecond
    EXPECT_EQ(FractionToMilliseconds(4294968), 1);
    EXPECT_EQ(FractionToMilliseconds(0x80000000u), 500);
    EXPECT_EQ(FractionToMilliseconds(0xFFFFFFFFu), 999);
}

TEST_F(SntpTest, ReplyFromTheServerSetsTheClockAndReportsThreeLines)
{
    ASSERT_TRUE(UdpPortHolder(kSntpLocalPort).bound);  // free, so the request can leave from it
    FaultUdpServer server({{UdpReply::Server, SntpReply(kExample2001)}});
    EXPECT_EQ(Sync("127.0.0.1:" + std::to_string(server.Port())), 0);

    EXPECT_EQ(server.Request(), std::string("\x0B") + std::string(47, '\0'));
    EXPECT_EQ(server.RequestPort(), kSntpLocalPort);
    Lines lines = ReportLines(Report());
    ASSERT_EQ(lines.size(), 3u) << Report();
    EXPECT_EQ(lines[1], "2001年11月28日 09:00:00.000" + kServerEnding);
    EXPECT_EQ(lines[2], kSynchronised);
    EXPECT_EQ(clockSettings, (std::vector<ClockTime>{{2001, 11, 28, 9, 0, 0, 0}}));

    // The first line is the PC's clock just before it was set.
    ClockTime pc;
    ASSERT_TRUE(ParseTimeLine(lines[0], kPcEnding, &pc)) << lines[0];
    EXPECT_LE(std::llabs(SecondsOf(pc) - (static_cast<int64_t>(time(nullptr)) + 9 * 3600)), 2);
}

TEST_F(SntpTest, TransmitTimesFrom1970To2104SetTheClockAndEarlierOnesDoNot)
{
    setenv("TZ", "UTC0", 1);
    struct Case {
        uint32_t seconds, fraction;
        ClockTime expected;
    } cases[] = {
        {2208988800u, 0, {1970, 1, 1, 0, 0, 0, 0}},
        {4294967295u, 0xFFFFFFFFu, {2036, 2, 7, 6, 28, 15, 999}},
        {0, 0x80000000u, {2036, 2, 7, 6, 28, 16, 500}},  // zero seconds but a fraction: not zero
        {61505151, 0, {2038, 1, 19, 3, 14, 7, 0}},
        {61505152, 0, {2038, 1, 19, 3, 14, 8, 0}},
        {2147483647, 0, {2104, 2, 26, 9, 42, 23, 0}},
    };
    for (const Case &c : cases) {
        clockSettings.clear();
        EXPECT_EQ(SyncWith(SntpReply(c.seconds, c.fraction)), 0) << c.seconds;
        EXPECT_EQ(clockSettings, std::vector<ClockTime>{c.expected}) << c.seconds;
    }

    clockSettings.clear();
    for (uint32_t seconds : {2147483648u, 2208988799u}) {
        EXPECT_EQ(SyncWith(SntpReply(seconds)), -1) << seconds;
        EXPECT_EQ(Report(), "Error: 時刻の取得に失敗\r\n") << seconds;
    }
    EXPECT_TRUE(clockSettings.empty());
}

TEST_F(SntpTest, UntrustworthyRepliesAreRefusedAndTheClockStays)
{
    struct Case {
        std::string reply;
        std::string error;
    } cases[] = {
        {SntpReply(kExample2001).substr(0, 47), "Error: サーバからの応答が短すぎます\r\n"},
        {"", "Error: サーバからの応答が短すぎます\r\n"},
        {SntpReply(kExample2001, 0, 0, 3), "Error: サーバからの応答ではありません\r\n"},  // a client's request
        {SntpReply(kExample2001, 0, 0, 5), "Error: サーバからの応答ではありません\r\n"},  // broadcast
        {SntpReply(kExample2001, 0, 3), "Error: サーバの時刻が同期していません\r\n"},
        {SntpReply(kExample2001, 0, 0, 4, 16), "Error: サーバの時刻が同期していません\r\n"},
        {SntpReply(kExample2001, 0, 0, 4, 0), "Error: サーバが時刻の提供を拒否しました\r\n"},  // kiss-o'-death
        {SntpReply(0, 0), "Error: サーバの時刻が不正です\r\n"},
        {std::string(1025, '\x24'), "Error: サーバからの受信失敗\r\n"},  // longer than any buffer of ours
    };
    for (const Case &c : cases) {
        EXPECT_EQ(SyncWith(c.reply), -1) << c.error;
        EXPECT_EQ(Report(), c.error);
    }
    EXPECT_TRUE(clockSettings.empty());

    // What may still be trusted: a leap-second warning, stratum 1 and 15, an authenticator after
    // the 48 bytes.
    std::string signedReply = SntpReply(kExample2001) + std::string(20, '\x5A');
    for (const std::string &reply : {SntpReply(kExample2001, 0, 1), SntpReply(kExample2001, 0, 2, 4, 1),
                                     SntpReply(kExample2001, 0, 0, 4, 15), signedReply})
        EXPECT_EQ(SyncWith(reply), 0) << Report();
    EXPECT_EQ(clockSettings.size(), 4u);
}

TEST_F(SntpTest, DatagramsFromAnyoneButTheServerAreIgnored)
{
    FaultUdpServer server({{UdpReply::OtherPort, SntpReply(3000000000u)},
                           {UdpReply::OtherAddress, SntpReply(3100000000u)},
                           {UdpReply::OtherPort, "short"},
                           {UdpReply::Server, SntpReply(kExample2001, 0x80000000u)}});
    EXPECT_EQ(Sync("127.0.0.1:" + std::to_string(server.Port())), 0);
    EXPECT_EQ(clockSettings, (std::vector<ClockTime>{{2001, 11, 28, 9, 0, 0, 500}}));
    EXPECT_EQ(ReportLines(Report()).size(), 3u) << Report();
}

TEST_F(SntpTest, NoReplyFromTheServerTimesOutAfterThreeSeconds)
{
    // A silent server, and one whose address only others answer from.
    for (std::vector<UdpReply> replies : {std::vector<UdpReply>{},
                                          std::vector<UdpReply>{{UdpReply::OtherPort, SntpReply(kExample2001)},
                                                                {UdpReply::OtherAddress, SntpReply(kExample2001)}}}) {
        FaultUdpServer server(replies);
        uint64_t start = NetClockMs();
        EXPECT_EQ(Sync("127.0.0.1:" + std::to_string(server.Port())), -1);
        uint64_t took = NetClockMs() - start;
        EXPECT_EQ(Report(), kTimedOut);
        EXPECT_GE(took, 3000u);
        EXPECT_LT(took, 3500u);
    }
    EXPECT_TRUE(clockSettings.empty());
}

TEST_F(SntpTest, AClockThatCannotBeSetLeavesTheOneErrorLineAndResultZero)
{
    // The native build's own setter always refuses: the host's clock is never set.
    UseTheBuildsOwnSetter();
    EXPECT_EQ(SyncWith(SntpReply(kExample2001)), 0);
    EXPECT_EQ(Report(), kSetFailed);
}

TEST_F(SntpTest, ServerTextsThatReachNoServer)
{
    // Port 0: nothing can be sent there.
    EXPECT_EQ(Sync("127.0.0.1:"), -1);
    EXPECT_EQ(Report(), "Error: サーバへの送信失敗\r\n");
    // A port text too long to read is refused before anything is sent.
    FaultUdpServer server({{UdpReply::Server, SntpReply(kExample2001)}});
    EXPECT_EQ(Sync("127.0.0.1:0" + std::to_string(server.Port()) + "0000000"), -1);
    EXPECT_EQ(Report(), "Error: ホストアドレス取得失敗\r\n");
    EXPECT_EQ(server.Request(), "");
    EXPECT_TRUE(clockSettings.empty());
}

TEST_F(SntpTest, WhenPort1024IsTakenTheRequestLeavesFromAnotherPort)
{
    UdpPortHolder holder(kSntpLocalPort);
    ASSERT_TRUE(holder.bound);
    FaultUdpServer server({{UdpReply::Server, SntpReply(kExample2001)}});
    EXPECT_EQ(Sync("127.0.0.1:" + std::to_string(server.Port())), 0);
    EXPECT_NE(server.RequestPort(), 0);
    EXPECT_NE(server.RequestPort(), kSntpLocalPort);
    EXPECT_EQ(ReportLines(Report()).size(), 3u) << Report();
}

TEST_F(SntpTest, ChronyAnswersAndTheClockIsSetToItsTime)
{
    ASSERT_GT(ChronyPort(), 0) << "the chrony fixture did not run";
    for (const char *host : {"127.0.0.1", "localhost"}) {
        clockSettings.clear();
        EXPECT_EQ(Sync(std::string(host) + ":" + std::to_string(ChronyPort())), 0) << Report();
        Lines lines = ReportLines(Report());
        ASSERT_EQ(lines.size(), 3u) << Report();
        ClockTime pc, served;
        ASSERT_TRUE(ParseTimeLine(lines[0], kPcEnding, &pc)) << lines[0];
        ASSERT_TRUE(ParseTimeLine(lines[1], kServerEnding, &served)) << lines[1];
        EXPECT_EQ(lines[2], kSynchronised);
        ASSERT_EQ(clockSettings.size(), 1u);
        EXPECT_EQ(clockSettings[0], served);
        // chrony serves this very host's clock, so the two times lie within a moment.
        EXPECT_LE(std::llabs(SecondsOf(served) - SecondsOf(pc)), 1) << Report();
    }
}

}  // namespace
