// The SNTP exchange, built natively (BSD sockets, a clock that only records) and for Windows
// (WinSock, and SetSystemTime itself, which under Wine takes only a time within a moment of the
// host's): its pure rules, the scripted peer, then chrony. No test here moves the host's clock.
// The consent of Windows' elevation prompt is a stand-in here (Wine has no such prompt); the
// end-to-end suite runs the program's real elevated copy.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <future>
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

// A 48-byte server reply with these fields; every other byte is zero.
std::string SntpReply(uint32_t seconds, uint32_t fraction = 0, int leap = 0, int mode = 4, int stratum = 2)
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

// What the scripted peer sends back: from its own socket or a decoy's (127.0.0.1 at another port,
// 127.0.0.2 at its port); with the request's transmit timestamp as its originate timestamp, unless
// echo is false.
struct UdpReply {
    enum Source { Server, OtherPort, OtherAddress } source;
    std::string bytes;
    bool echo = true;
};

// TZ, which the native build shows times in (Windows shows them in the system's own zone).
void SetTimeZone(const char *tz)
{
#ifndef _WIN32
    tz != nullptr ? setenv("TZ", tz, 1) : unsetenv("TZ");
#else
    (void)tz;
#endif
}

std::vector<int64_t> clockSettings;  // every UTC time (Unix ms) the exchange set the clock to
std::vector<std::string> consents;   // every server an elevated copy was asked to sync with
uint32_t consentAnswer;              // what that copy answers

// A UTC time as Unix milliseconds (days counted from 1 March of year 0, as the civil calendar
// has them; <chrono>'s calendar cannot be compiled for code page 932).
int64_t Utc(int64_t year, int64_t month, int64_t day, int hour, int minute, int second, int ms = 0)
{
    year -= month <= 2;
    int64_t era = year / 400, inEra = year - era * 400;
    int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    int64_t days = era * 146097 + inEra * 365 + inEra / 4 - inEra / 100 + dayOfYear - 719468;
    return ((days * 24 + hour) * 60 + minute) * 60000 + second * 1000 + ms;
}

// A report's time line for t; lines of one ending sort as their times do.
std::string TimeLine(const ClockTime &t, const std::string &ending)
{
    char text[40];
    snprintf(text, sizeof text, "%04d年%02d月%02d日 %02d:%02d:%02d.%03d", t.year, t.month, t.day, t.hour, t.minute,
             t.second, t.milliseconds);
    return text + ending;
}

const std::string kPcEnding = " （ローカル時刻）\r\n", kServerEnding = " （NTPサーバ時刻）\r\n";
const std::string kSynchronised = "NTPサーバの時刻に同期しました\r\n";
const std::string kSetFailed = "Error: ローカル時刻の設定に失敗\r\n";
const std::string kTimedOut = "Error: タイムアウトしました\r\n";
constexpr uint32_t k2001 = 3215894400u;  // 2001-11-28 00:00:00 UTC
constexpr int64_t kNtpToUnix = 2208988800;

TEST(Sntp, ServerTextsTheElevatedCopysCommandLineAndOnlyATrustworthyReply)
{
    const char *badPort = "Error: NTPサーバのポート番号が正しくありません\r\n";
    const struct {
        std::string text, host;
        int port;  // -1: refused with the line below
        const char *error = nullptr;
    } cases[] = {
        {"ntp.example.jp", "ntp.example.jp", 123}, {"192.0.2.1:10123", "192.0.2.1", 10123}, {":123", "", 123},
        {"host:00123", "host", 123}, {"host:65535", "host", 65535}, {"host:1", "host", 1},
        // Only a port number from 1 to 65535: nothing is read as another port.
        {"host:", "", -1, badPort}, {"host:0", "", -1, badPort}, {"host:65536", "", -1, badPort},
        {"host:70000", "", -1, badPort}, {"host:abc", "", -1, badPort}, {"host:42ab", "", -1, badPort},
        {"host:-1", "", -1, badPort}, {"host:10123:5", "", -1, badPort}, {"host:123456789012", "", -1, badPort},
        {std::string(255, 'h') + ":1", std::string(255, 'h'), 1},
        {std::string(256, 'h'), "", -1, "Error: ホストアドレス取得失敗\r\n"},
    };
    for (const auto &c : cases) {
        char host[256] = "";
        uint16_t port = 1;
        const char *refused = SplitServerText(c.text.c_str(), host, sizeof host, &port);
        EXPECT_STREQ(refused != nullptr ? refused : "", c.error != nullptr ? c.error : "") << c.text;
        if (c.port >= 0)
            EXPECT_TRUE(host == c.host && port == c.port) << c.text << ": " << host << " " << port;
    }
    // The elevated copy takes the switch and one server text, and nothing else.
    const std::string exe = "\"C:\\Program Files\\Pollwick\\pollwick.exe\" ", h255(255, 'h');
    const std::pair<std::string, const char *> lines[] = {
        {exe + "/synctime \"ntp.example.jp:123\"", "ntp.example.jp:123"}, {"pollwick.exe /synctime ntp.jp ", "ntp.jp"},
        {"pollwick.exe  /synctime\t\"a b\"", "a b"}, {"p /synctime \"" + h255 + "\"", h255.c_str()},
        {"pollwick.exe", nullptr}, {exe + "/synctime", nullptr}, {exe + "/synctime \"\"", nullptr},
        {exe + "/synctime x y", nullptr}, {exe + "/synctime \"x\" y", nullptr}, {exe + "/synctime \"x", nullptr},
        {exe + "/SYNCTIME x", nullptr}, {exe + "/synctimex y", nullptr}, {exe + "x /synctime y", nullptr},
        {"p /synctime " + h255 + "h", nullptr},
    };
    for (const auto &[line, server] : lines) {
        char taken[256] = "";
        EXPECT_EQ(ParseClockSwitch(line.c_str(), taken, sizeof taken), server != nullptr) << line;
        EXPECT_STREQ(taken, server != nullptr ? server : "") << line;
    }
    char parameters[kClockSwitchSize];
    EXPECT_TRUE(BuildClockSwitch("ntp.example.jp:123", parameters, sizeof parameters));
    EXPECT_STREQ(parameters, "/synctime \"ntp.example.jp:123\"");
    EXPECT_FALSE(BuildClockSwitch("a\"b", parameters, sizeof parameters));  // it would not come back as it is

    // Only a trustworthy server reply is believed.
    const std::pair<std::string, const char *> replies[] = {
        {SntpReply(k2001).substr(0, 47), "Error: サーバからの応答が短すぎます\r\n"},
        {SntpReply(k2001, 0, 0, 3), "Error: サーバからの応答ではありません\r\n"},  // a client's request
        {SntpReply(k2001, 0, 0, 5), "Error: サーバからの応答ではありません\r\n"},  // broadcast
        {SntpReply(k2001, 0, 3), "Error: サーバの時刻が同期していません\r\n"},
        {SntpReply(k2001, 0, 0, 4, 16), "Error: サーバの時刻が同期していません\r\n"},
        {SntpReply(k2001, 0, 0, 4, 0), "Error: サーバが時刻の提供を拒否しました\r\n"},  // kiss-o'-death
        {SntpReply(0), "Error: サーバの時刻が不正です\r\n"},
        // A leap-second warning at stratum 1; stratum 15 with an authenticator after the 48 bytes.
        {SntpReply(k2001, 0, 1, 4, 1), ""}, {SntpReply(k2001, 0, 0, 4, 15) + std::string(20, '\0'), ""},
    };
    for (const auto &[bytes, error] : replies) {
        const char *refused = CheckSntpReply(reinterpret_cast<const unsigned char *>(bytes.data()),
                                             static_cast<int>(bytes.size()));
        EXPECT_STREQ(refused != nullptr ? refused : "", error);
    }
}

class SntpTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetTimeZone("JST-9");
        clockSettings.clear();
        consents.clear();
        SetSystemClock = [](int64_t unixMs) -> uint32_t {
            clockSettings.push_back(unixMs);
            return 0;
        };
        SetClockWithConsent = [](const char *server) {
            consents.push_back(server);
            return consentAnswer;
        };
    }
    void TearDown() override
    {
        SetSystemClock = platformSetter_;
        SetClockWithConsent = platformConsent_;
        SetTimeZone(nullptr);
    }
    int Sync(const std::string &server)
    {
        memset(report_, 'x', sizeof report_ - 1);  // a report replaces whatever was there
        report_[sizeof report_ - 1] = '\0';
        return SyncClock(server.c_str(), report_);
    }
    // Syncs with a scripted peer that takes one request and answers it with each of replies;
    // *request gets the request and the port it came from.
    int SyncWith(std::vector<UdpReply> replies, std::pair<std::string, int> *request = nullptr)
    {
        intptr_t sockets[3] = {OpenTestSocket(SOCK_DGRAM, INADDR_LOOPBACK, 0)};
        sockets[1] = OpenTestSocket(SOCK_DGRAM, INADDR_LOOPBACK, 0);
        sockets[2] = OpenTestSocket(SOCK_DGRAM, 0x7F000002, LocalPort(sockets[0]));
        server_ = "127.0.0.1:" + std::to_string(LocalPort(sockets[0]));
        auto sync = std::async(std::launch::async, [&] { return Sync(server_); });
        while (!WaitReadable(sockets[0], 20) && sync.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
        }
        char buffer[2048];
        sockaddr_in client = {};
        SocketLength length = sizeof client;
        int n = 0;
        if (WaitReadable(sockets[0], 0))
            n = recvfrom(sockets[0], buffer, sizeof buffer, 0, reinterpret_cast<sockaddr *>(&client), &length);
        for (UdpReply &reply : replies) {
            if (reply.echo && reply.bytes.size() >= 32 && n >= 48)
                reply.bytes.replace(24, 8, buffer + 40, 8);
            sendto(sockets[reply.source], reply.bytes.data(), static_cast<int>(reply.bytes.size()), 0,
                   reinterpret_cast<sockaddr *>(&client), sizeof client);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));  // loopback keeps their order anyway
        }
        int result = sync.get();
        if (request != nullptr)
            *request = {std::string(buffer, n > 0 ? static_cast<size_t>(n) : 0), ntohs(client.sin_port)};
        for (intptr_t s : sockets)
            CloseTestSocket(s);
        return result;
    }
    std::string Report() const { return report_; }

    char report_[kSyncReportSize];
    std::string server_;  // the scripted peer's, as the exchange was given it
    uint32_t (*platformSetter_)(int64_t) = SetSystemClock;
    uint32_t (*platformConsent_)(const char *) = SetClockWithConsent;
};

TEST_F(SntpTest, TheServersReplySetsTheClockAndReportsThreeLines)
{
    // With port 1024 taken the request leaves from another. (Another test program may hold it for a
    // moment: binding is tried for up to 10 s.)
    intptr_t held = -1;
    ASSERT_TRUE(WaitUntil([&] { return (held = OpenTestSocket(SOCK_DGRAM, INADDR_ANY, kSntpLocalPort)) != -1; }, 10000));
    std::pair<std::string, int> first, second;
    EXPECT_EQ(SyncWith({{UdpReply::Server, SntpReply(k2001)}}, &first), 0) << Report();
    EXPECT_NE(first.second, kSntpLocalPort);
    CloseTestSocket(held);

    ClockTime before, after;
    ReadLocalClock(&before);
    EXPECT_EQ(SyncWith({{UdpReply::Server, SntpReply(k2001)}}, &second), 0);
    ReadLocalClock(&after);
    // Only the version and mode, and an unguessable transmit timestamp, new each time, from port 1024.
    EXPECT_EQ(second.first.substr(0, 40), std::string("\x0B") + std::string(39, '\0'));
    EXPECT_NE(second.first.substr(40), first.first.substr(40));
    EXPECT_EQ(second.second, kSntpLocalPort);
    // The PC's clock just before it was set, then the server's time in the local zone (natively
    // TZ's, nine hours ahead), and the clock set to it in UTC, in one call each time.
    Lines lines = SplitLines(Report());
    ASSERT_EQ(lines.size(), 3u) << Report();
    EXPECT_TRUE(TimeLine(before, kPcEnding) <= lines[0] && lines[0] <= TimeLine(after, kPcEnding)) << lines[0];
#ifdef _WIN32
    ClockTime shown;
    ASSERT_TRUE(ToLocalClockTime(Utc(2001, 11, 28, 0, 0, 0), &shown));
    EXPECT_EQ(lines[1], TimeLine(shown, kServerEnding));
#else
    EXPECT_EQ(lines[1], "2001年11月28日 09:00:00.000" + kServerEnding);
#endif
    EXPECT_EQ(lines[2], kSynchronised);
    EXPECT_EQ(clockSettings, std::vector<int64_t>(2, Utc(2001, 11, 28, 0, 0, 0)));
}

TEST_F(SntpTest, WhatComesBackDecidesWhatTheClockIsSetTo)
{
    std::vector<UdpReply> decoys = {{UdpReply::OtherPort, SntpReply(3000000000u)},
                                    {UdpReply::OtherAddress, SntpReply(3100000000u)},
                                    {UdpReply::Server, SntpReply(3200000000u), false}},
                          trusted = decoys;
    trusted.push_back({UdpReply::Server, SntpReply(k2001, 4294968)});
    const struct {
        std::vector<UdpReply> replies;
        std::vector<int64_t> set;  // empty: nothing is set, and the report is the error line
        std::string error, server;  // server: when not the scripted peer
    } cases[] = {
        // Transmit times from 1970 into the next era, up to 2104; fractions rounded down.
        {{{UdpReply::Server, SntpReply(2208988800u)}}, {Utc(1970, 1, 1, 0, 0, 0)}},
        {{{UdpReply::Server, SntpReply(4294967295u, 0xFFFFFFFFu)}}, {Utc(2036, 2, 7, 6, 28, 15, 999)}},
        {{{UdpReply::Server, SntpReply(0, 0x80000000u)}}, {Utc(2036, 2, 7, 6, 28, 16, 500)}},  // a fraction: not zero
        {{{UdpReply::Server, SntpReply(61505152)}}, {Utc(2038, 1, 19, 3, 14, 8)}},
        {{{UdpReply::Server, SntpReply(2147483647)}}, {Utc(2104, 2, 26, 9, 42, 23)}},
        {{{UdpReply::Server, SntpReply(2208988799u)}}, {}, "Error: 時刻の取得に失敗\r\n"},
        // Anyone may send to our port, even in the server's name: only the server's own address
        // and port, with our transmit timestamp echoed, count; the wait for it lasts 3 s.
        {trusted, {Utc(2001, 11, 28, 0, 0, 0, 1)}},
        {decoys, {}, kTimedOut},
        {{{UdpReply::Server, std::string(1025, '\x24')}}, {}, "Error: サーバからの受信失敗\r\n"},  // too long for us
        {{}, {}, "Error: NTPサーバのポート番号が正しくありません\r\n", "127.0.0.1:0"},
    };
    for (const auto &c : cases) {
        clockSettings.clear();
        uint64_t start = NetClockMs();
        EXPECT_EQ(c.server.empty() ? SyncWith(c.replies) : Sync(c.server), c.set.empty() ? -1 : 0) << Report();
        uint64_t took = NetClockMs() - start;
        EXPECT_EQ(clockSettings, c.set);
        if (c.set.empty())
            EXPECT_EQ(Report(), c.error);
        EXPECT_TRUE(c.error == kTimedOut ? took >= 2950 && took < 3600 : took < 1000) << took;  // a coarse tick
    }
}

// Where the program may not set the clock, an elevated copy of it does, with the user's consent.
// The times measured stay when the clock is not set, with how far off it is and why.
TEST_F(SntpTest, AClockThePlatformRefusesIsSetWithConsentOrTheReportSaysWhy)
{
    const std::string failed = kSetFailed;
    const struct {
        bool platform;  // the platform's own clock, or one that refuses with error 5
        uint32_t consent;
        uint32_t seconds;
        bool ahead;  // the PC's clock
        Lines why;   // after the difference; empty: the clock was set, with consent
    } cases[] = {
        // The platform's own clock: natively it refuses as Windows refuses a program without
        // elevation, and under Wine SetSystemTime refuses a time this far from the host's alike.
        {true, 0, k2001, true, {}},
        {true, kConsentDeclined, 4294967295u, false, {failed, "時刻の変更が許可されませんでした（エラー 1223）\r\n"}},
        {true, kClockPrivilegeNotHeld, k2001, true, {failed, "時刻を変更する権限がありません（エラー 1314）\r\n"}},
        {true, kConsentTimedOut, k2001, true,
         {failed, "管理者として起動した Pollwick が時間内に終わりませんでした（エラー 1460）\r\n"}},
        {true, kHelperNoTime, k2001, true, {failed, "管理者として起動した Pollwick がNTPサーバの時刻を得られませんでした\r\n"}},
        {false, 0, k2001, true, {failed, "システムが時刻の変更を拒否しました（エラー 5）\r\n"}},  // no consent asked
    };
    for (const auto &c : cases) {
        SetSystemClock = c.platform ? platformSetter_ : [](int64_t) -> uint32_t { return 5; };
        consentAnswer = c.consent;
        consents.clear();
        ClockTime now;
        int64_t beforeMs = ReadLocalClock(&now);
        EXPECT_EQ(SyncWith({{UdpReply::Server, SntpReply(c.seconds)}}), c.why.empty() ? 0 : -1) << Report();
        int64_t afterMs = ReadLocalClock(&now);
        EXPECT_EQ(consents, c.platform ? std::vector<std::string>{server_} : std::vector<std::string>{}) << Report();
        Lines lines = SplitLines(Report());
        ASSERT_EQ(lines.size(), 3 + (c.why.empty() ? 1 : c.why.size())) << Report();
        EXPECT_TRUE(lines[0].ends_with(kPcEnding) && lines[1].ends_with(kServerEnding)) << Report();
        // The PC's clock less the server's, to the millisecond, its sign in words.
        long long seconds = 0;
        int milliseconds = 0, used = 0;
        sscanf(lines[2].c_str(), "PCの時計は %lld.%3d%n", &seconds, &milliseconds, &used);
        EXPECT_EQ(lines[2].substr(static_cast<size_t>(used)), std::string(c.ahead ? " 秒進んで" : " 秒遅れて") +
                                                                 (c.why.empty() ? "いました\r\n" : "います\r\n"));
        int64_t off = (seconds * 1000 + milliseconds) * (c.ahead ? 1 : -1), serverMs = (c.seconds - kNtpToUnix) * 1000;
        EXPECT_TRUE(beforeMs - serverMs <= off && off <= afterMs - serverMs) << lines[2];
        EXPECT_EQ(Lines(lines.begin() + 3, lines.end()), c.why.empty() ? Lines{kSynchronised} : c.why);
    }
}

// chrony serves this very host's clock, by address and by name. Under Wine the platform's own
// clock takes its time (SetSystemTime takes a time within a moment of the host's).
TEST_F(SntpTest, ChronysTimeIsTheHostsOwn)
{
    ASSERT_GT(FixtureNumber("chrony/port"), 0) << "the chrony fixture did not run";
    SetTimeZone(nullptr);  // the system's zone
#ifdef _WIN32
    SetSystemClock = platformSetter_;
#endif
    for (const char *host : {"127.0.0.1", "localhost"}) {
        ClockTime before, after;
        ReadLocalClock(&before);
        EXPECT_EQ(Sync(std::string(host) + ":" + std::to_string(FixtureNumber("chrony/port"))), 0) << Report();
        ReadLocalClock(&after);
        Lines lines = SplitLines(Report());
        ASSERT_EQ(lines.size(), 3u) << Report();
        EXPECT_TRUE(TimeLine(before, kServerEnding) <= lines[1] && lines[1] <= TimeLine(after, kServerEnding))
            << Report();
        EXPECT_EQ(lines[2], kSynchronised);
    }
}

}  // namespace
