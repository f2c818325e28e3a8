// The SNTP exchange, built natively (BSD sockets, a clock that only records) and for Windows
// (WinSock, and SetLocalTime itself, which under Wine takes only a time within a moment of the
// host's): the scripted peer, then chrony. No test here moves the host's clock.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#ifdef _WIN32
#include <winsock2.h>
using SocketLength = int;
#else
#include <netinet/in.h>
#include <sys/socket.h>
using SocketLength = socklen_t;
#endif

#include "clock/local_clock.h"
#include "clock/sntp.h"
#include "net/net.h"
#include "tests/support/harness.h"

namespace {

// A scripted SNTP peer: it takes one request and answers it with each datagram of its script,
// from its own socket or a decoy's (127.0.0.1 at another port, 127.0.0.2 at its port). A reply
// carries the request's transmit timestamp as its originate timestamp, unless echo is false.
struct UdpReply {
    enum Source { Server, OtherPort, OtherAddress } source;
    std::string bytes;
    bool echo = true;
};
// A 48-byte server reply with these fields; every other byte is zero.
std::string SntpReply(uint32_t seconds, uint32_t fraction = 0, int leap = 0, int mode = 4, int stratum = 2);

class FaultUdpServer {
public:
    explicit FaultUdpServer(std::vector<UdpReply> replies);
    ~FaultUdpServer();
    int Port() const { return port_; }
    std::string Server() const { return "127.0.0.1:" + std::to_string(port_); }
    std::string Request();  // the first datagram received, empty until then
    int RequestPort();      // the port it came from, 0 until then

private:
    std::vector<UdpReply> replies_;
    intptr_t sockets_[3];  // in the order of UdpReply::Source
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::string request_;
    int requestPort_ = 0;
    std::thread thread_;
};

// Holds a UDP port while it lives; another test program may hold it for a moment, so binding is
// tried for up to 10 s.
struct UdpPortHolder {
    explicit UdpPortHolder(uint16_t port);
    ~UdpPortHolder();
    intptr_t socket;
    bool bound;
};

std::string SntpReply(uint32_t seconds, uint32_t fraction, int leap, int mode, int stratum)
{
    std::string bytes(48, '\0');
    bytes[0] = static_cast<char>((leap << 6) | (4 << 3) | mode);
    bytes[1] = static_cast<char>(stratum);
    for (int i = 0; i < 4; i++) {
        bytes[40 + i] = static_cast<char>(seconds >> (24 - 8 * i));
        bytes[44 + i] = static_cast<char>(fraction >> (24 - 8 * i));
    }
    return bytes;
}

FaultUdpServer::FaultUdpServer(std::vector<UdpReply> replies) : replies_(std::move(replies))
{
    sockets_[0] = OpenTestSocket(SOCK_DGRAM, INADDR_LOOPBACK, 0);
    port_ = LocalPort(sockets_[0]);
    sockets_[1] = OpenTestSocket(SOCK_DGRAM, INADDR_LOOPBACK, 0);
    sockets_[2] = OpenTestSocket(SOCK_DGRAM, 0x7F000002, port_);
    thread_ = std::thread([this] {
        while (!stop_ && !WaitReadable(sockets_[0], 20)) {
        }
        if (stop_)
            return;
        char buffer[2048];
        sockaddr_in client = {};
        SocketLength length = sizeof client;
        int n = recvfrom(sockets_[0], buffer, sizeof buffer, 0, reinterpret_cast<sockaddr *>(&client), &length);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            request_.assign(buffer, n > 0 ? static_cast<size_t>(n) : 0);
            requestPort_ = ntohs(client.sin_port);
        }
        for (UdpReply reply : replies_) {
            if (reply.echo && reply.bytes.size() >= 32 && n >= 48)
                reply.bytes.replace(24, 8, buffer + 40, 8);
            sendto(sockets_[reply.source], reply.bytes.data(), static_cast<int>(reply.bytes.size()), 0,
                   reinterpret_cast<sockaddr *>(&client), sizeof client);
            SleepUnless(stop_, 20);  // datagrams on loopback keep their order; this only spreads them out
        }
    });
}

FaultUdpServer::~FaultUdpServer()
{
    stop_ = true;
    thread_.join();
    for (intptr_t s : sockets_)
        if (s != -1)
            CloseTestSocket(s);
}

std::string FaultUdpServer::Request()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return request_;
}

int FaultUdpServer::RequestPort()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return requestPort_;
}

UdpPortHolder::UdpPortHolder(uint16_t port)
{
    bound = WaitUntil([&] { return (socket = OpenTestSocket(SOCK_DGRAM, INADDR_ANY, port)) != -1; }, 10000);
}

UdpPortHolder::~UdpPortHolder()
{
    if (bound)
        CloseTestSocket(socket);
}

// TZ for this process's C runtime; nullptr: unset.
void SetTimeZone(const char *tz)
{
#ifdef _WIN32
    _putenv_s("TZ", tz != nullptr ? tz : "");
#else
    tz != nullptr ? setenv("TZ", tz, 1) : unsetenv("TZ");
#endif
}

std::vector<std::vector<int>> clockSettings;  // every time the exchange set the clock to

bool RecordClock(const ClockTime *t)
{
    clockSettings.push_back({t->year, t->month, t->day, t->hour, t->minute, t->second, t->milliseconds});
    return true;
}

// Seconds since 1970 of a date and time taken as UTC, for telling how far apart two are.
int64_t Seconds(int y, int mo, int d, int h, int mi, int s)
{
    // Days from the civil date, the year counted from March so that the leap day comes last.
    int64_t years = y - (mo <= 2), era = (years >= 0 ? years : years - 399) / 400, ofEra = years - era * 400;
    int64_t dayOfYear = (153 * (mo + (mo > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    int64_t days = era * 146097 + ofEra * 365 + ofEra / 4 - ofEra / 100 + dayOfYear - 719468;
    return days * 86400 + h * 3600 + mi * 60 + s;
}

// The same of a report's time line, checking how the line ends; -1 if it does not read.
int64_t LineSeconds(const std::string &line, const std::string &ending)
{
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, ms = 0, used = -1;
    sscanf(line.c_str(), "%4d年%2d月%2d日 %2d:%2d:%2d.%3d%n", &y, &mo, &d, &h, &mi, &s, &ms, &used);
    return used < 0 || line.substr(static_cast<size_t>(used)) != ending ? -1 : Seconds(y, mo, d, h, mi, s);
}

const std::string kPcEnding = " （ローカル時刻）\r\n", kServerEnding = " （NTPサーバ時刻）\r\n";
const std::string kSynchronised = "NTPサーバの時刻に同期しました\r\n";
const std::string kSetFailed = "Error: ローカル時刻の設定に失敗\r\n";
constexpr uint32_t k2001 = 3215894400u;  // 2001-11-28 00:00:00 UTC

class SntpTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetTimeZone("JST-9");
        clockSettings.clear();
        SetLocalClock = RecordClock;
    }
    void TearDown() override
    {
        SetLocalClock = platformSetter_;
        SetTimeZone(nullptr);
    }
    int Sync(const std::string &server)
    {
        memset(report_, 'x', sizeof report_ - 1);  // a report replaces whatever was there
        report_[sizeof report_ - 1] = '\0';
        return SyncClock(server.c_str(), report_);
    }
    int SyncWith(std::vector<UdpReply> replies)
    {
        FaultUdpServer server(std::move(replies));
        return Sync(server.Server());
    }
    std::string Report() const { return report_; }

    char report_[kSyncReportSize];
    bool (*platformSetter_)(const ClockTime *) = SetLocalClock;
};

TEST_F(SntpTest, TheServersReplySetsTheClockAndReportsThreeLines)
{
    ASSERT_TRUE(UdpPortHolder(kSntpLocalPort).bound);  // free, so that the request can leave from it
    FaultUdpServer server({{UdpReply::Server, SntpReply(k2001)}});
    EXPECT_EQ(Sync(server.Server()), 0);
    // Nothing but the version and mode, and a transmit timestamp nobody can guess.
    std::string request = server.Request();
    EXPECT_EQ(request.substr(0, 40), std::string("\x0B") + std::string(39, '\0'));
    EXPECT_NE(request.substr(40), std::string(8, '\0'));
    EXPECT_EQ(server.RequestPort(), kSntpLocalPort);
    Lines lines = SplitLines(Report());
    ASSERT_EQ(lines.size(), 3u) << Report();
    EXPECT_EQ(lines[1], "2001年11月28日 09:00:00.000" + kServerEnding);
    EXPECT_EQ(lines[2], kSynchronised);
    EXPECT_EQ(clockSettings, (std::vector<std::vector<int>>{{2001, 11, 28, 9, 0, 0, 0}}));
    FaultUdpServer again({{UdpReply::Server, SntpReply(k2001)}});
    EXPECT_EQ(Sync(again.Server()), 0);
    EXPECT_NE(again.Request().substr(40), request.substr(40));
    // The first line is the PC's clock just before it was set.
    ClockTime now;
    ReadLocalClock(&now);
    EXPECT_LE(std::llabs(LineSeconds(lines[0], kPcEnding) - Seconds(now.year, now.month, now.day, now.hour, now.minute,
                                                                     now.second)),
              2)
        << lines[0];
}

TEST_F(SntpTest, TransmitTimesFrom1970To2104SetTheClockAndEarlierOnesDoNot)
{
    SetTimeZone("UTC0");
    const struct {
        uint32_t seconds, fraction;
        std::vector<int> set;  // empty: refused
    } cases[] = {
        {2208988800u, 0, {1970, 1, 1, 0, 0, 0, 0}},
        {4294967295u, 0xFFFFFFFFu, {2036, 2, 7, 6, 28, 15, 999}},
        {0, 0x80000000u, {2036, 2, 7, 6, 28, 16, 500}},  // zero seconds but a fraction: not zero
        {61505152, 0, {2038, 1, 19, 3, 14, 8, 0}},
        {2147483647, 0, {2104, 2, 26, 9, 42, 23, 0}},
        {2208988799u, 0, {}},
    };
    for (const auto &c : cases) {
        clockSettings.clear();
        EXPECT_EQ(SyncWith({{UdpReply::Server, SntpReply(c.seconds, c.fraction)}}), c.set.empty() ? -1 : 0) << c.seconds;
        EXPECT_EQ(clockSettings, c.set.empty() ? std::vector<std::vector<int>>{} : std::vector<std::vector<int>>{c.set});
        if (c.set.empty())
            EXPECT_EQ(Report(), "Error: 時刻の取得に失敗\r\n");
    }
}

TEST_F(SntpTest, OthersAreIgnoredAndAnUntrustworthyReplyIsRefused)
{
    // Anyone may send to our port, even in the server's name: only the server's own address and
    // port, with our transmit timestamp echoed, count.
    EXPECT_EQ(SyncWith({{UdpReply::OtherPort, SntpReply(3000000000u)},
                        {UdpReply::OtherAddress, SntpReply(3100000000u)},
                        {UdpReply::Server, SntpReply(3200000000u), false},
                        {UdpReply::Server, SntpReply(k2001, 0x80000000u)}}),
              0);
    EXPECT_EQ(clockSettings, (std::vector<std::vector<int>>{{2001, 11, 28, 9, 0, 0, 500}}));
    const std::pair<std::string, std::string> refused[] = {
        {SntpReply(k2001, 0, 0, 4, 0), "Error: サーバが時刻の提供を拒否しました\r\n"},
        {std::string(1025, '\x24'), "Error: サーバからの受信失敗\r\n"},  // longer than any buffer of ours
    };
    for (const auto &[reply, error] : refused) {
        EXPECT_EQ(SyncWith({{UdpReply::Server, reply}}), -1);
        EXPECT_EQ(Report(), error);
    }
    EXPECT_EQ(clockSettings.size(), 1u);
}

TEST_F(SntpTest, OnlyOthersAndImpostorsAnsweringTimesOutAfterThreeSeconds)
{
    uint64_t start = NetClockMs();
    EXPECT_EQ(SyncWith({{UdpReply::OtherPort, SntpReply(k2001)},
                        {UdpReply::OtherAddress, SntpReply(k2001)},
                        {UdpReply::Server, SntpReply(k2001), false}}),
              -1);
    uint64_t took = NetClockMs() - start;
    EXPECT_EQ(Report(), "Error: タイムアウトしました\r\n");
    EXPECT_GE(took, 2950u);  // the platform's tick may run a little coarse
    EXPECT_LT(took, 3600u);
    EXPECT_TRUE(clockSettings.empty());
}

TEST_F(SntpTest, ServerTextsThatReachNoServer)
{
    EXPECT_EQ(Sync("127.0.0.1:"), -1);  // port 0: nothing can be sent there
    EXPECT_EQ(Report(), "Error: サーバへの送信失敗\r\n");
    FaultUdpServer server({{UdpReply::Server, SntpReply(k2001)}});
    EXPECT_EQ(Sync("127.0.0.1:0" + std::to_string(server.Port()) + "0000000"), -1);  // too long to read
    EXPECT_EQ(Report(), "Error: NTPサーバのポート番号が正しくありません\r\n");
    EXPECT_EQ(server.Request(), "");
}

TEST_F(SntpTest, WhenPort1024IsTakenTheRequestLeavesFromAnother)
{
    UdpPortHolder holder(kSntpLocalPort);
    ASSERT_TRUE(holder.bound);
    FaultUdpServer server({{UdpReply::Server, SntpReply(k2001)}});
    EXPECT_EQ(Sync(server.Server()), 0);
    EXPECT_NE(server.RequestPort(), 0);
    EXPECT_NE(server.RequestPort(), kSntpLocalPort);
    EXPECT_EQ(SplitLines(Report()).size(), 3u) << Report();
}

// The platform's own setter: natively it always refuses; under Wine SetLocalTime refuses a time
// far from the host's and takes chrony's, which is the host's.
TEST_F(SntpTest, ThePlatformsClockRefusesAFarTimeAndTakesChronys)
{
    SetLocalClock = platformSetter_;
    EXPECT_EQ(SyncWith({{UdpReply::Server, SntpReply(k2001)}}), -1);
    EXPECT_EQ(Report(), kSetFailed);

    ASSERT_GT(FixtureNumber("chrony/port"), 0) << "the chrony fixture did not run";
    SetTimeZone(nullptr);  // the system's zone, as SetLocalTime has it
#ifndef _WIN32
    SetLocalClock = RecordClock;  // the native build's own would refuse
#endif
    for (const char *host : {"127.0.0.1", "localhost"}) {
        EXPECT_EQ(Sync(std::string(host) + ":" + std::to_string(FixtureNumber("chrony/port"))), 0) << Report();
        Lines lines = SplitLines(Report());
        ASSERT_EQ(lines.size(), 3u) << Report();
        EXPECT_EQ(lines[2], kSynchronised);
        // chrony serves this very host's clock: the two times lie within a moment.
        int64_t served = LineSeconds(lines[1], kServerEnding), pc = LineSeconds(lines[0], kPcEnding);
        EXPECT_GT(served, 0);
        EXPECT_LE(std::llabs(served - pc), 1) << Report();
    }
}

}  // namespace
