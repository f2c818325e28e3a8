// The POP3 session, built natively (BSD sockets) and for Windows (WinSock under Wine). Most of it
// is one table of transcripts: each row scripts the server and names every byte the client must
// send, the last lines of the log and the result. Then the real Dovecot, the heap and the secrets.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>

#include "base/log.h"
#include "mail/md5.h"
#include "mail/pop3.h"
#include "net/net.h"
#include "settings/settings.h"
#include "tests/support/harness.h"

namespace {

struct Transcript {
    const char *name;
    Script server;     // none: the check must not connect
    std::string sent;  // every byte the server received
    Lines log;         // the log's last lines, or its first when they begin with kConnect
    int result;
    bool apop = false;
    std::string user = "u", password = "p";
    int tlsm = 0;
    int timeoutMs = 2000;  // NetTimeoutMs; a row that times out must end by it, not before
    int portOffset = 0;    // added to the server's port in Settings.PORT
    std::string host = "127.0.0.1";
};

const char kConnect[] = "(the connect line)";
std::string Connected(int port) { return "[system] 127.0.0.1:" + std::to_string(port) + " に接続します\r\n"; }
const char kClosed[] = "[system] Error: サーバーが接続を切断しました\r\n";
const char kTimedOut[] = "[system] Error: タイムアウトしました\r\n";
const char kNoApop[] = "[system] Error: このサーバーはAPOP認証に対応していません\r\n";
const char kNoCount[] = "[system] Error: STATの応答から件数を読み取れません\r\n";
const char kNoAccount[] = "[system] Error: POP3の設定を行ってください\r\n";
const char kLineBreak[] = "[system] Error: ユーザ名かパスワードに改行文字が含まれています\r\n";
const std::string kGarbage("\x01\xff\x00\x7f\x80zz\r\n", 9);

std::vector<Transcript> Transcripts()
{
    std::vector<Transcript> rows = {
        {.name = "user/pass, every step logged and the password masked",
         .server = Pop3Session("+OK ready\r\n", "+OK 3 4096\r\n"),
         .sent = "USER alice\r\nPASS secret\r\nSTAT\r\nQUIT\r\n",
         .log = {kConnect, "[recv] +OK ready\r\n", "[send] USER alice\r\n", "[recv] +OK user\r\n", "[send] PASS ******\r\n",
                 "[recv] +OK logged in\r\n", "[send] STAT\r\n", "[recv] +OK 3 4096\r\n", "[send] QUIT\r\n",
                 "[recv] +OK bye\r\n"},
         .result = 3, .user = "alice", .password = "secret"},
        {.name = "apop, RFC 1939's example",
         .server = Pop3Session("+OK POP3 server ready <1896.697170952@dbc.mtview.ca.us>\r\n", "+OK 12\r\n", true),
         .sent = "APOP mrose c4c9334bac560ecc979e58001b3e22fb\r\nSTAT\r\nQUIT\r\n",
         .log = {kConnect, "[recv] +OK POP3 server ready <1896.697170952@dbc.mtview.ca.us>\r\n",
                 "[send] APOP mrose c4c9334bac560ecc979e58001b3e22fb\r\n", "[recv] +OK logged in\r\n", "[send] STAT\r\n",
                 "[recv] +OK 12\r\n", "[send] QUIT\r\n", "[recv] +OK bye\r\n"},
         .result = 12, .apop = true, .user = "mrose", .password = "tanstaaf"},
        {.name = "apop, the stamp from the first '<' through the next '>'",
         .server = Pop3Session("+OK >x <7.1234@pollwick.test> y>\r\n", "+OK 1 10\r\n", true),
         .sent = "APOP u 7ae2db999e17846d74f55e6ea4a0f3ef\r\nSTAT\r\nQUIT\r\n", .log = {"[recv] +OK bye\r\n"}, .result = 1,
         .apop = true, .password = "tanstaaf"},
        {.name = "apop stamp and password beyond 1024 bytes",
         .server = {Send("+OK <" + std::string(1016, 'a') + ">\r\n"), ReadLine()}, .log = {kNoApop}, .result = -1,
         .apop = true, .password = "0123456789"},
        {.name = "replies split into 3-byte segments",
         .server = {SendSplit("+OK split greeting\r\n", 3, 15), ReadLine(), SendSplit("+OK user\r\n", 3, 15), ReadLine(),
                    SendSplit("+OK logged in\r\n", 3, 15), ReadLine(), SendSplit("+OK 5 500\r\n", 3, 15), ReadLine(),
                    SendSplit("+OK bye\r\n", 3, 15), ReadLine()},
         .sent = "USER u\r\nPASS p\r\nSTAT\r\nQUIT\r\n",
         .log = {"[recv] +OK 5 500\r\n", "[send] QUIT\r\n", "[recv] +OK bye\r\n"}, .result = 5},
        // Its line feed opens the third 1024-byte receive, and the reply to USER follows at once.
        {.name = "an overlong line is cut and does not poison the next reply",
         .server = {Send("+OK " + std::string(2043, 'g') + "\r\n+OK user\r\n"), ReadLine(), ReadLine(),
                    Send("+OK logged in\r\n"), ReadLine(), Send("+OK 4 44\r\n"), ReadLine(), Send("+OK bye\r\n"), ReadLine()},
         .sent = "USER u\r\nPASS p\r\nSTAT\r\nQUIT\r\n",
         .log = {kConnect, "[recv] +OK " + std::string(1003 - 13, 'g') + "\r\n", "[send] USER u\r\n",
                 "[recv] +OK user\r\n", "[send] PASS *\r\n", "[recv] +OK logged in\r\n", "[send] STAT\r\n",
                 "[recv] +OK 4 44\r\n", "[send] QUIT\r\n", "[recv] +OK bye\r\n"},
         .result = 4},
        {.name = "garbage with a zero byte is shown and gives no count",
         .server = {Send(kGarbage), ReadLine(), Send(kGarbage), ReadLine(), Send(kGarbage), ReadLine(), Send(kGarbage),
                    ReadLine()},
         .sent = "USER u\r\nPASS p\r\nSTAT\r\n", .log = {"[recv] \x01\xff?\x7f\x80zz\r\n", kNoCount}, .result = -1},
        {.name = "closed after the greeting", .server = {Send("+OK hi\r\n"), CloseConnection()},
         .log = {"[send] USER u\r\n", kClosed}, .result = -1},
        {.name = "closed after reading STAT",
         .server = {Send("+OK hi\r\n"), ReadLine(), Send("+OK\r\n"), ReadLine(), Send("+OK in\r\n"), ReadLine(),
                    CloseConnection()},
         .sent = "USER u\r\nPASS p\r\nSTAT\r\n", .log = {"[send] STAT\r\n", kClosed}, .result = -1},
        // Closing with the command unread resets the connection: the server cut it off all the same.
        {.name = "reset with the command unread", .server = {Send("+OK hi\r\n"), Pause(200), CloseConnection()},
         .log = {"[send] USER u\r\n", kClosed}, .result = -1},
        {.name = "a line cut off by the close", .server = {Send("+OK half a gree"), CloseConnection()},
         .log = {kConnect, "[recv] +OK half a gree\r\n", kClosed}, .result = -1},
        {.name = "never a word", .server = {Hang()}, .log = {kConnect, kTimedOut}, .result = -1, .timeoutMs = 400},
        {.name = "no line end", .server = {Send("+OK no line end"), Hang()},
         .log = {"[recv] +OK no line end\r\n", kTimedOut}, .result = -1, .timeoutMs = 400},
        {.name = "silent after a command", .server = {Send("+OK hi\r\n"), ReadLine(), Hang()}, .sent = "USER u\r\n",
         .log = {"[send] USER u\r\n", kTimedOut}, .result = -1, .timeoutMs = 400},
        {.name = "a trickle cannot stretch one reply past the bound",
         .server = {SendSplit(std::string(200, 'x') + "\r\n", 1, 20)}, .log = {kTimedOut}, .result = -1, .timeoutMs = 500},
        {.name = "a line break in the user name", .log = {kLineBreak}, .result = -1, .user = "u\r\nDELE 1"},
        {.name = "a line break in the password", .log = {kLineBreak}, .result = -1, .password = "p\nQUIT"},
        {.name = "no server", .log = {kNoAccount}, .result = -1, .host = ""},
        {.name = "no user name", .log = {kNoAccount}, .result = -1, .user = ""},
        {.name = "no password", .log = {kNoAccount}, .result = -1, .password = ""},
        {.name = "STLS refused",
         .server = {Send("+OK hello\r\n"), ReadLine(), Send("-ERR what?\r\n"), ReadLine(), Hang()}, .sent = "STLS\r\n",
         .log = {"[recv] -ERR what?\r\n", "[system] Error: このサーバーはSTLSに対応していません\r\n"}, .result = -1,
         .tlsm = 1},
        // Bytes behind the reply came before the channel: whoever sent them could speak for the server.
        {.name = "bytes behind the STLS reply",
         .server = {Send("+OK hello\r\n"), ReadLine(), Send("+OK go on\r\n+OK 99 0\r\n"), Pause(1000)},
         .sent = "STLS\r\n",
         .log = {"[system] Error: STLSの応答の後に暗号化されていないデータが続いています\r\n"}, .result = -1, .tlsm = 1},
        {.name = "an encryption no version knows",
         .log = {"[system] Error: 暗号化の設定（TLSM=3）が正しくありません\r\n"}, .result = -1, .tlsm = 3},
        {.name = "a port beyond 16 bits: its low bits connect, the whole value is logged",
         .server = Pop3Session("+OK\r\n", "+OK 0 0\r\n"), .sent = "USER u\r\nPASS p\r\nSTAT\r\nQUIT\r\n",
         .log = {kConnect, "[recv] +OK\r\n"}, .result = 0, .portOffset = 65536},
    };
    // APOP without a whole stamp: none, '>' before '<', '<' alone.
    for (const char *greeting : {"+OK no stamp\r\n", "+OK >reversed<\r\n", "+OK <open only\r\n"})
        rows.push_back({.name = greeting, .server = {Send(greeting), ReadLine()}, .log = {kNoApop}, .result = -1, .apop = true});
    // A negative reply at each step ends the session there, without QUIT.
    const char *steps[] = {"", "USER u\r\n", "PASS p\r\n", "STAT\r\n", "QUIT\r\n"};
    std::string sent;
    for (size_t step = 0; step < 5; step++) {
        Script script = Pop3Session("+OK hi\r\n", "+OK 2 20\r\n");
        script.resize(step * 2);  // greeting, then a ReadLine and a reply per step
        std::string error = "-ERR step " + std::to_string(step) + "\r\n";
        script.insert(script.end(), {Send(error), ReadLine()});
        sent += steps[step];
        rows.push_back({.name = "a negative reply", .server = script, .sent = sent, .log = {"[recv] " + error},
                        .result = -1});
    }
    rows.back().log.insert(rows.back().log.begin(), "[send] QUIT\r\n");  // even after a count
    return rows;
}

TEST(Pop3, Transcripts)
{
    for (const Transcript &row : Transcripts()) {
        SCOPED_TRACE(row.name);
        FaultServer server(row.server);
        UseAccount(row.host, server.Port() + row.portOffset, row.user, row.password, row.apop);
        Settings.TLSM = row.tlsm;
        NetTimeoutMs = row.timeoutMs;
        uint64_t start = NetClockMs();
        EXPECT_EQ(CheckMail(), row.result);
        uint64_t took = NetClockMs() - start;
        NetTimeoutMs = kDefaultNetTimeoutMs;
        EXPECT_EQ(server.Received(), row.sent);
        EXPECT_EQ(server.Accepted(), !row.server.empty());
        Lines log = LoggedLines();
        ASSERT_GE(log.size(), row.log.size());
        Lines expected = row.log;
        auto first = expected.front() == kConnect ? log.begin() : log.end() - static_cast<long>(expected.size());
        if (expected.front() == kConnect)
            expected.front() = Connected(server.Port() + row.portOffset);
        EXPECT_EQ(Lines(first, first + static_cast<long>(expected.size())), expected);
        if (row.log.back() == kTimedOut)
            EXPECT_TRUE(took + 20 >= static_cast<uint64_t>(row.timeoutMs) && took < row.timeoutMs + 1000u) << took;
    }
}

TEST(Pop3, RefusedAndUnansweredConnections)
{
    int closedPort;
    CloseTestSocket(ListenOnLoopback(&closedPort));  // nothing listens there any more
    UseAccount("127.0.0.1", closedPort, "u", "p");
    EXPECT_EQ(CheckMail(), -1);
    EXPECT_EQ(LoggedLines(), (Lines{Connected(closedPort), "[system] Error: サーバーソケットに接続失敗\r\n"}));

    // A listener whose queue is full: a connect there neither succeeds nor fails.
    int port;
    intptr_t sockets[5] = {ListenOnLoopback(&port, 0)};
    for (int i = 1; i < 5; i++)
        sockets[i] = ConnectToLoopback(port, false);
    UseAccount("127.0.0.1", port, "u", "p");
    NetTimeoutMs = 400;
    uint64_t start = NetClockMs();
    EXPECT_EQ(CheckMail(), -1);
    uint64_t took = NetClockMs() - start;
    NetTimeoutMs = kDefaultNetTimeoutMs;
    EXPECT_TRUE(took >= 380 && took < 1400) << took;
    EXPECT_EQ(LoggedLines().back(), kTimedOut);
    for (intptr_t s : sockets)
        CloseTestSocket(s);
}

TEST(Pop3, DovecotCountsWithUserPassAndApop)
{
    ASSERT_GT(DovecotPort(), 0) << "the Dovecot fixture did not run";
    Mailbox box = TestMailbox();
    for (int count : {0, 37}) {
        SetMailboxCount(count);
        for (bool apop : {false, true}) {
            UseAccount("127.0.0.1", DovecotPort(), box.user, box.password, apop);
            EXPECT_EQ(CheckMail(), count) << (apop ? "APOP " : "USER/PASS ") << count;
            Lines log = LoggedLines();
            ASSERT_EQ(log.size(), apop ? 8u : 10u);
            EXPECT_EQ(log[apop ? 5 : 7].substr(0, 12 + std::to_string(count).size()), "[recv] +OK " + std::to_string(count) + " ");
        }
    }
    UseAccount("localhost", DovecotPort(), box.user, box.password);  // a name, through the resolver
    EXPECT_EQ(CheckMail(), 37);
}

#ifndef _WIN32
// The sanitizer runtime calls these hooks on every allocation, whoever makes it, on any thread:
// a lookup or a thread started for the check counts too (the scripted server allocates nothing
// while it plays).
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*)(const volatile void *, size_t),
                                                         void (*)(const volatile void *));
std::atomic<bool> counting;
std::atomic<int> allocations;
void OnMalloc(const volatile void *, size_t) { allocations += counting ? 1 : 0; }
void OnFree(const volatile void *) {}

// The frames of the functions this one calls lie below its own on the stack, and stay there after
// they return. Zeroed before a step and searched after it, they show what the step left behind.
constexpr size_t kDeadStack = 64 * 1024;

__attribute__((noinline)) void ClearDeadStack()
{
    volatile char area[kDeadStack];
    for (size_t i = 0; i < kDeadStack; i++)
        area[i] = 0;
}

__attribute__((noinline, no_sanitize_address)) bool DeadStackHolds(const char *secret)
{
    const char *bottom = reinterpret_cast<const char *>(__builtin_frame_address(0)) - kDeadStack;
    size_t length = strlen(secret);
    for (size_t at = 0; at + length <= kDeadStack; at++)
        if (bottom[at] == secret[0] && memcmp(bottom + at, secret, length) == 0)
            return true;
    return false;
}

const char kPassword[] = "Wip3d-Secret!";
const std::string kApopInput = std::string("<1.2@host>") + kPassword;

// The password goes into the APOP input, the MD5 state and the settings' working buffers; each is
// wiped once it has done its work.
TEST(Pop3, AWholeCheckAllocatesNothingAndLeavesNoCopyOfThePassword)
{
    ASSERT_NE(__sanitizer_install_malloc_and_free_hooks(OnMalloc, OnFree), 0);
    counting = true;
    delete new volatile int(1);  // the counter sees what it should
    counting = false;
    ASSERT_EQ(allocations, 1);
    for (bool apop : {false, true})
        for (int round = 0; round < 2; round++) {  // the first warms up the C library's own buffers
            FaultServer server(Pop3Session("+OK <1.2@host>\r\n", "+OK 3 300\r\n", apop));
            UseAccount("127.0.0.1", server.Port(), "u", kPassword, apop);
            std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the server's thread starts
            allocations = 0;
            counting = true;
            for (int i = 0; i < 100; i++)
                AppendLog("[recv] ", "+OK\r\n");
            ClearDeadStack();
            int result = CheckMail();
            counting = false;
            EXPECT_FALSE(DeadStackHolds(kPassword)) << (apop ? "APOP" : "USER/PASS");
            EXPECT_EQ(result, 3);
            EXPECT_EQ(round == 0 ? 0 : allocations.load(), 0) << (apop ? "APOP" : "USER/PASS");
        }
    // Each step alone, with nothing after it to cover what it left.
    const std::pair<const char *, void (*)()> steps[] = {
        {"digest", [] { char digest[33]; ApopDigest(digest, kApopInput.c_str()); }},
        {"saved", [] { ClearStore(); SaveAllSettings(); }},
        {"loaded", [] { Settings.PASS[0] = '\0'; LoadSettings(); }},
    };
    for (auto [what, step] : steps) {
        ClearDeadStack();
        step();
        EXPECT_FALSE(DeadStackHolds(kPassword)) << what;
    }
    EXPECT_STREQ(Settings.PASS, kPassword);
    ClearStore();
}
#endif

}  // namespace
