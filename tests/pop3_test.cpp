// The POP3 session, built natively (BSD sockets) and for Windows (WinSock under Wine). Most of it
// is one table of transcripts: each row scripts the server and names every byte the client must
// send, the last lines of the log and the result. Then the real Dovecot and the heap.
#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "net/net.h"
#include "mail/pop3.h"
#include "settings/settings.h"
#include "base/log.h"
#include "base/text.h"
#include "tests/support/harness.h"

namespace {

// A port whose listener's queue is full: a connect there neither succeeds nor fails.
struct UnansweredPort {
    UnansweredPort();
    ~UnansweredPort();
    int port;
    intptr_t sockets[5];
};

UnansweredPort::UnansweredPort()
{
    sockets[0] = ListenOnLoopback(&port, 0);
    for (int i = 1; i < 5; i++)
        sockets[i] = ConnectToLoopback(port, false);
}

UnansweredPort::~UnansweredPort()
{
    for (intptr_t s : sockets)
        CloseTestSocket(s);
}

struct Transcript {
    const char *name;
    Script server;
    std::string sent;  // every byte the server received
    Lines log;         // the log's last lines, or its first when they begin with the connect line;
                       // "{port}" is the port as logged
    int result;
    bool apop = false;
    std::string user = "u", password = "p";
    int tlsm = 0;
    int timeoutMs = 2000;     // NetTimeoutMs for the row
    bool timesOut = false;    // the check must end by the bound, not before
    bool connects = true;     // false: refused before any connection
    int portOffset = 0;       // added to the server's port in Settings.PORT
    std::string host = "127.0.0.1";
};

const char kConnect[] = "[system] 127.0.0.1:{port} に接続します\r\n";
const char kClosed[] = "[system] Error: サーバーが接続を切断しました\r\n";
const char kTimedOut[] = "[system] Error: タイムアウトしました\r\n";
const char kNoApop[] = "[system] Error: このサーバーはAPOP認証に対応していません\r\n";
const char kNoCount[] = "[system] Error: STATの応答から件数を読み取れません\r\n";
const char kNoAccount[] = "[system] Error: POP3の設定を行ってください\r\n";
const std::string kGarbage("\x01\xff\x00\x7f\x80zz\r\n", 9);

// The same script with every reply sent in 3-byte segments.
Script InPieces(Script script)
{
    for (FaultAction &action : script)
        if (action.kind == FaultAction::Send)
            action = SendSplit(action.segments[0], 3, 15);
    return script;
}

Script OverlongGreeting()
{
    Script script = Pop3Session("+OK " + std::string(2043, 'g') + "\r\n+OK user\r\n", "+OK 4 44\r\n");
    script.erase(script.begin() + 1, script.begin() + 3);  // the reply to USER came with the greeting
    script.insert(script.begin() + 1, ReadLine());
    return script;
}

std::vector<Transcript> Transcripts()
{
    std::vector<Transcript> rows = {
        {"user/pass, every step logged and the password masked", Pop3Session("+OK ready\r\n", "+OK 3 4096\r\n"),
         "USER alice\r\nPASS secret\r\nSTAT\r\nQUIT\r\n",
         {kConnect, "[recv] +OK ready\r\n", "[send] USER alice\r\n", "[recv] +OK user\r\n", "[send] PASS ******\r\n",
          "[recv] +OK logged in\r\n", "[send] STAT\r\n", "[recv] +OK 3 4096\r\n", "[send] QUIT\r\n", "[recv] +OK bye\r\n"},
         3, false, "alice", "secret"},
        {"apop, RFC 1939's example",
         Pop3Session("+OK POP3 server ready <1896.697170952@dbc.mtview.ca.us>\r\n", "+OK 12\r\n", true),
         "APOP mrose c4c9334bac560ecc979e58001b3e22fb\r\nSTAT\r\nQUIT\r\n",
         {kConnect, "[recv] +OK POP3 server ready <1896.697170952@dbc.mtview.ca.us>\r\n",
          "[send] APOP mrose c4c9334bac560ecc979e58001b3e22fb\r\n", "[recv] +OK logged in\r\n", "[send] STAT\r\n",
          "[recv] +OK 12\r\n", "[send] QUIT\r\n", "[recv] +OK bye\r\n"},
         12, true, "mrose", "tanstaaf"},
        {"apop, the stamp from the first '<' through the next '>'",
         Pop3Session("+OK >x <7.1234@pollwick.test> y>\r\n", "+OK 1 10\r\n", true),
         "APOP u 7ae2db999e17846d74f55e6ea4a0f3ef\r\nSTAT\r\nQUIT\r\n", {"[recv] +OK bye\r\n"}, 1, true, "u", "tanstaaf"},
        {"apop without a stamp", {Send("+OK no stamp\r\n"), ReadLine()}, "", {kNoApop}, -1, true},
        {"apop with '>' before '<'", {Send("+OK >reversed<\r\n"), ReadLine()}, "", {kNoApop}, -1, true},
        {"apop with '<' alone", {Send("+OK <open only\r\n"), ReadLine()}, "", {kNoApop}, -1, true},
        {"apop stamp and password beyond 1024 bytes", {Send("+OK <" + std::string(1016, 'a') + ">\r\n"), ReadLine()},
         "", {kNoApop}, -1, true, "u", "0123456789"},
        {"replies split into 3-byte segments", InPieces(Pop3Session("+OK split greeting\r\n", "+OK 5 500\r\n")), "USER u\r\nPASS p\r\nSTAT\r\nQUIT\r\n",
         {"[recv] +OK 5 500\r\n", "[send] QUIT\r\n", "[recv] +OK bye\r\n"}, 5},
        // Its line feed opens the third 1024-byte receive, and the next reply follows at once.
        {"an overlong line is cut and does not poison the next reply", OverlongGreeting(),
         "USER u\r\nPASS p\r\nSTAT\r\nQUIT\r\n",
         {kConnect, "[recv] +OK " + std::string(1003 - 13, 'g') + "\r\n", "[send] USER u\r\n", "[recv] +OK user\r\n",
          "[send] PASS *\r\n", "[recv] +OK logged in\r\n", "[send] STAT\r\n", "[recv] +OK 4 44\r\n", "[send] QUIT\r\n",
          "[recv] +OK bye\r\n"},
         4},
        {"garbage with a zero byte is shown and gives no count",
         {Send(kGarbage), ReadLine(), Send(kGarbage), ReadLine(), Send(kGarbage), ReadLine(), Send(kGarbage), ReadLine()},
         "USER u\r\nPASS p\r\nSTAT\r\n", {"[recv] \x01\xff?\x7f\x80zz\r\n", kNoCount}, -1},
        {"a STAT reply without a count", Pop3Session("+OK\r\n", "+OK\r\n"), "USER u\r\nPASS p\r\nSTAT\r\n", {kNoCount}, -1},
        {"a negative STAT count", Pop3Session("+OK\r\n", "+OK -3 100\r\n"), "USER u\r\nPASS p\r\nSTAT\r\n", {kNoCount}, -1},
        {"the largest count", Pop3Session("+OK\r\n", "+OK 2147483647 1\r\n"), "USER u\r\nPASS p\r\nSTAT\r\nQUIT\r\n",
         {"[recv] +OK bye\r\n"}, 2147483647},
        {"closed after the greeting", {Send("+OK hi\r\n"), CloseConnection()}, "", {"[send] USER u\r\n", kClosed}, -1},
        {"closed after reading STAT",
         {Send("+OK hi\r\n"), ReadLine(), Send("+OK\r\n"), ReadLine(), Send("+OK in\r\n"), ReadLine(), CloseConnection()},
         "USER u\r\nPASS p\r\nSTAT\r\n", {"[send] STAT\r\n", kClosed}, -1},
        // Closing with the command unread resets the connection: the server cut it off all the same.
        {"reset with the command unread", {Send("+OK hi\r\n"), Pause(200), CloseConnection()}, "",
         {"[send] USER u\r\n", kClosed}, -1},
        {"a line cut off by the close", {Send("+OK half a gree"), CloseConnection()}, "",
         {kConnect, "[recv] +OK half a gree\r\n", kClosed}, -1},
        {"never a word", {Hang()}, "", {kConnect, kTimedOut}, -1, false, "u", "p", 0, 400, true},
        {"no line end", {Send("+OK no line end"), Hang()}, "", {"[recv] +OK no line end\r\n", kTimedOut}, -1, false, "u",
         "p", 0, 400, true},
        {"silent after a command", {Send("+OK hi\r\n"), ReadLine(), Hang()}, "USER u\r\n", {"[send] USER u\r\n", kTimedOut},
         -1, false, "u", "p", 0, 400, true},
        {"a trickle cannot stretch one reply past the bound", {SendSplit(std::string(200, 'x') + "\r\n", 1, 20)}, "",
         {kTimedOut}, -1, false, "u", "p", 0, 500, true},
        {"a line break in the user name", Pop3Session("+OK\r\n", "+OK 1 1\r\n"), "",
         {"[system] Error: ユーザー名かパスワードに改行文字が含まれています\r\n"}, -1, false, "u\r\nDELE 1", "p", 0, 2000, false,
         false},
        {"a line break in the password", Pop3Session("+OK\r\n", "+OK 1 1\r\n"), "",
         {"[system] Error: ユーザー名かパスワードに改行文字が含まれています\r\n"}, -1, false, "u", "p\nQUIT", 0, 2000, false,
         false},
        {"no server", {}, "", {kNoAccount}, -1, false, "u", "p", 0, 2000, false, false, 0, ""},
        {"no user name", {}, "", {kNoAccount}, -1, false, "", "p", 0, 2000, false, false},
        {"no password", {}, "", {kNoAccount}, -1, false, "u", "", 0, 2000, false, false},
        {"STLS refused", {Send("+OK hello\r\n"), ReadLine(), Send("-ERR what?\r\n"), ReadLine(), Hang()}, "STLS\r\n",
         {"[recv] -ERR what?\r\n", "[system] Error: このサーバーはSTLSに対応していません\r\n"}, -1, false, "u", "p", 1},
        // Bytes behind the reply came before the channel: whoever sent them could speak for the server.
        {"bytes behind the STLS reply", {Send("+OK hello\r\n"), ReadLine(), Send("+OK go on\r\n+OK 99 0\r\n"), Pause(1000)},
         "STLS\r\n", {"[system] Error: STLSの応答の後に暗号化されていないデータが続いています\r\n"}, -1, false, "u", "p", 1},
        {"an encryption no version knows", {}, "", {"[system] Error: 暗号化の設定 (TLSM=3) が正しくありません\r\n"}, -1, false,
         "u", "p", 3, 2000, false, false},
        {"a port beyond 16 bits: its low bits connect, the whole value is logged", Pop3Session("+OK\r\n", "+OK 0 0\r\n"),
         "USER u\r\nPASS p\r\nSTAT\r\nQUIT\r\n", {kConnect, "[recv] +OK\r\n"}, 0, false, "u", "p", 0, 2000, false, true,
         65536},
    };
    // A negative reply at each step ends the session there, without QUIT.
    const char *steps[] = {"", "USER u\r\n", "PASS p\r\n", "STAT\r\n", "QUIT\r\n"};
    std::string sent;
    for (size_t step = 0; step < 5; step++) {
        Script script = Pop3Session("+OK hi\r\n", "+OK 2 20\r\n");
        script.resize(step * 2);  // greeting, then a ReadLine and a reply per step
        std::string error = "-ERR step " + std::to_string(step) + "\r\n";
        script.insert(script.end(), {Send(error), ReadLine()});
        sent += steps[step];
        rows.push_back({"a negative reply", script, sent, {"[recv] " + error}, -1});
    }
    rows.back().log.insert(rows.back().log.begin(), "[send] QUIT\r\n");  // even after a count
    return rows;
}

Lines WithPort(Lines lines, int port)
{
    for (std::string &line : lines)
        if (size_t at = line.find("{port}"); at != std::string::npos)
            line.replace(at, 6, std::to_string(port));
    return lines;
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
        EXPECT_EQ(server.Accepted(), row.connects);
        Lines log = LoggedLines();
        ASSERT_GE(log.size(), row.log.size());
        auto first = row.log.front() == kConnect ? log.begin() : log.end() - static_cast<long>(row.log.size());
        EXPECT_EQ(Lines(first, first + static_cast<long>(row.log.size())), WithPort(row.log, server.Port() + row.portOffset));
        if (row.timesOut) {
            EXPECT_GE(took, static_cast<uint64_t>(row.timeoutMs) - 20);
            EXPECT_LT(took, static_cast<uint64_t>(row.timeoutMs) + 1000);
        }
    }
}

TEST(Pop3, RefusedAndUnansweredConnections)
{
    int closedPort;
    {
        FaultServer gone({});
        closedPort = gone.Port();
    }  // nothing listens there any more
    UseAccount("127.0.0.1", closedPort, "u", "p");
    EXPECT_EQ(CheckMail(), -1);
    EXPECT_EQ(LoggedLines(), WithPort({kConnect, "[system] Error: サーバーソケットに接続失敗\r\n"}, closedPort));

    UnansweredPort unanswered;
    UseAccount("127.0.0.1", unanswered.port, "u", "p");
    NetTimeoutMs = 400;
    uint64_t start = NetClockMs();
    EXPECT_EQ(CheckMail(), -1);
    uint64_t took = NetClockMs() - start;
    NetTimeoutMs = kDefaultNetTimeoutMs;
    EXPECT_GE(took, 380u);
    EXPECT_LT(took, 1400u);
    EXPECT_EQ(LoggedLines().back(), kTimedOut);
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
            if (!apop)
                EXPECT_EQ(log[4], "[send] PASS " + std::string(box.password.size(), '*') + "\r\n");
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

TEST(Pop3, AWholeCheckAndItsLogLinesAllocateNothing)
{
    ASSERT_NE(__sanitizer_install_malloc_and_free_hooks(OnMalloc, OnFree), 0);
    counting = true;
    delete new volatile int(1);  // the counter sees what it should
    counting = false;
    EXPECT_EQ(allocations, 1);
    for (bool apop : {false, true})
        for (int round = 0; round < 2; round++) {  // the first warms up the C library's own buffers
            FaultServer server(Pop3Session("+OK <1.2@host>\r\n", "+OK 3 300\r\n", apop));
            UseAccount("127.0.0.1", server.Port(), "u", "p", apop);
            std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the server's thread starts
            allocations = 0;
            counting = true;
            int result = CheckMail();
            for (int i = 0; i < 100; i++)
                AppendLog("[recv] ", "+OK\r\n");
            counting = false;
            EXPECT_EQ(result, 3);
            if (round == 1)
                EXPECT_EQ(allocations, 0) << (apop ? "APOP" : "USER/PASS");
        }
}

TEST(Pop3, WithoutAPlatformTlsNothingButStlsIsSent)
{
    for (int mode : {1, 2}) {
        FaultServer server({Send("+OK ready\r\n"), ReadLine(), Send("+OK begin\r\n"), Pause(500)});
        UseAccount("127.0.0.1", server.Port(), "u", "secret");
        Settings.TLSM = mode;
        EXPECT_EQ(CheckMail(), -1);
        EXPECT_EQ(server.Received(), mode == 1 ? "STLS\r\n" : "");
        EXPECT_EQ(LoggedLines().back(), "[system] Error: この環境ではTLS（暗号化通信）を使えません\r\n");
    }
}
#endif

}  // namespace
