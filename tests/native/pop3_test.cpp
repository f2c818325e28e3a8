// The POP3 session against the scripted peer: the exact bytes sent, the exact log lines, the result.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "mail/net.h"
#include "mail/pop3.h"
#include "settings/settings.h"
#include "tests/support/fault_server.h"
#include "tests/support/test_support.h"

namespace {

using Lines = std::vector<std::string>;

std::string ConnectLine(int port) { return "[system] 127.0.0.1:" + std::to_string(port) + " に接続します\r\n"; }

class Pop3Test : public ::testing::Test {
protected:
    void SetUp() override { NetTimeoutMs = 2000; }
    void TearDown() override { NetTimeoutMs = kDefaultNetTimeoutMs; }
};

TEST_F(Pop3Test, UserPassSessionLogsEveryStepAndMasksThePassword)
{
    FaultServer server(Pop3Session("+OK ready\r\n", "+OK 3 4096\r\n"));
    UseAccount("127.0.0.1", server.Port(), "alice", "secret");
    EXPECT_EQ(CheckMail(), 3);
    EXPECT_EQ(server.Received(), "USER alice\r\nPASS secret\r\nSTAT\r\nQUIT\r\n");
    EXPECT_EQ(LoggedLines(), (Lines{ConnectLine(server.Port()), "[recv] +OK ready\r\n", "[send] USER alice\r\n",
                                    "[recv] +OK user\r\n", "[send] PASS ******\r\n", "[recv] +OK logged in\r\n",
                                    "[send] STAT\r\n", "[recv] +OK 3 4096\r\n", "[send] QUIT\r\n",
                                    "[recv] +OK bye\r\n"}));
}

TEST_F(Pop3Test, ApopSendsTheDigestOfTimestampAndPassword)
{
    FaultServer server(Pop3Session("+OK POP3 server ready <1896.697170952@dbc.mtview.ca.us>\r\n", "+OK 12\r\n", true));
    UseAccount("127.0.0.1", server.Port(), "mrose", "tanstaaf", true);
    EXPECT_EQ(CheckMail(), 12);
    EXPECT_EQ(server.Received(), "APOP mrose c4c9334bac560ecc979e58001b3e22fb\r\nSTAT\r\nQUIT\r\n");
    EXPECT_EQ(LoggedLines(), (Lines{ConnectLine(server.Port()),
                                    "[recv] +OK POP3 server ready <1896.697170952@dbc.mtview.ca.us>\r\n",
                                    "[send] APOP mrose c4c9334bac560ecc979e58001b3e22fb\r\n",
                                    "[recv] +OK logged in\r\n", "[send] STAT\r\n", "[recv] +OK 12\r\n",
                                    "[send] QUIT\r\n", "[recv] +OK bye\r\n"}));
}

TEST_F(Pop3Test, ApopTimestampIsTheFirstBracketPairInOrder)
{
    // A '>' before the '<' plays no part; the password follows the '>' with nothing between.
    FaultServer server(Pop3Session("+OK >x <1972.987654321@curl> y>\r\n", "+OK 1 10\r\n", true));
    UseAccount("127.0.0.1", server.Port(), "u", "secret", true);
    EXPECT_EQ(CheckMail(), 1);
    EXPECT_EQ(server.Received(), "APOP u 7501b4cdc224d469940e65e7b5e4d6eb\r\nSTAT\r\nQUIT\r\n");
}

TEST_F(Pop3Test, ApopWithoutUsableTimestampSendsNothing)
{
    for (const char *greeting : {"+OK no stamp\r\n", "+OK >reversed<\r\n", "+OK <open only\r\n"}) {
        FaultServer server({Send(greeting), ReadLine()});
        UseAccount("127.0.0.1", server.Port(), "u", "p", true);
        EXPECT_EQ(CheckMail(), -1) << greeting;
        EXPECT_EQ(server.Received(), "") << greeting;
        EXPECT_EQ(LoggedLines().back(), "[system] Error: このサーバーはAPOP認証に対応していません\r\n");
    }
}

TEST_F(Pop3Test, ApopTimestampTooLongForTheInputIsRefused)
{
    // 1018 bytes of timestamp and a 10-byte password do not fit 1024 bytes with the terminator.
    std::string greeting = "+OK <" + std::string(1016, 'a') + ">\r\n";
    FaultServer server({Send(greeting), ReadLine()});
    UseAccount("127.0.0.1", server.Port(), "u", "0123456789", true);
    EXPECT_EQ(CheckMail(), -1);
    EXPECT_EQ(server.Received(), "");
    EXPECT_EQ(LoggedLines().back(), "[system] Error: このサーバーはAPOP認証に対応していません\r\n");
}

// A negative reply at any stage ends the session there, without QUIT.
// Without the platform's TLS the encrypted modes end before anything but STLS is sent; a mode
// no version knows is refused before connecting.
TEST_F(Pop3Test, TlsModesWithoutTlsNeverFallBackToPlainText)
{
    {
        FaultServer server({Send("+OK ready\r\n"), ReadLine(), Send("+OK begin\r\n"), Pause(500)});
        UseAccount("127.0.0.1", server.Port(), "u", "secret");
        Settings.TLSM = 1;
        EXPECT_EQ(CheckMail(), -1);
        EXPECT_EQ(server.Received(), "STLS\r\n");
        EXPECT_EQ(LoggedLines(), (Lines{ConnectLine(server.Port()), "[recv] +OK ready\r\n", "[send] STLS\r\n",
                                        "[recv] +OK begin\r\n",
                                        "[system] Error: この環境ではTLS（暗号化通信）を使えません\r\n"}));
    }
    {
        FaultServer server({Send("+OK ready\r\n"), Pause(500)});
        UseAccount("127.0.0.1", server.Port(), "u", "secret");
        Settings.TLSM = 2;
        EXPECT_EQ(CheckMail(), -1);
        EXPECT_EQ(server.Received(), "");
        EXPECT_EQ(LoggedLines().size(), 2u);
    }
    UseAccount("127.0.0.1", 9, "u", "secret");
    Settings.TLSM = 3;
    EXPECT_EQ(CheckMail(), -1);
    EXPECT_EQ(LoggedLines(), (Lines{"[system] Error: 暗号化の設定 (TLSM=3) が正しくありません\r\n"}));
}

TEST_F(Pop3Test, NegativeReplyAtEachStageEndsTheSession)
{
    const std::string sent[] = {"", "USER u\r\n", "USER u\r\nPASS p\r\n", "USER u\r\nPASS p\r\nSTAT\r\n",
                                "USER u\r\nPASS p\r\nSTAT\r\nQUIT\r\n"};
    for (int stage = 0; stage < 5; stage++) {
        std::vector<FaultAction> script = Pop3Session("+OK hi\r\n", "+OK 2 20\r\n");
        // The script alternates Send, ReadLine: the reply of stage n sits at index 2n.
        script[static_cast<size_t>(stage) * 2] = Send("-ERR stage " + std::to_string(stage) + "\r\n");
        script.resize(static_cast<size_t>(stage) * 2 + 1);
        script.push_back(ReadLine());
        FaultServer server(script);
        UseAccount("127.0.0.1", server.Port(), "u", "p");
        EXPECT_EQ(CheckMail(), -1) << "stage " << stage;
        EXPECT_EQ(server.Received(), sent[stage]) << "stage " << stage;
        EXPECT_EQ(LoggedLines().back(), "[recv] -ERR stage " + std::to_string(stage) + "\r\n");
    }
}

TEST_F(Pop3Test, RepliesSplitAcrossSegmentsReadAsOne)
{
    std::vector<FaultAction> script = Pop3Session("+OK split greeting\r\n", "+OK 5 500\r\n");
    for (FaultAction &action : script)
        if (action.kind == FaultAction::Send)
            action = SendSplit(action.segments[0], 3, 15);
    FaultServer server(script);
    UseAccount("127.0.0.1", server.Port(), "u", "p");
    EXPECT_EQ(CheckMail(), 5);
    Lines lines = LoggedLines();
    ASSERT_EQ(lines.size(), 10u);
    EXPECT_EQ(lines[1], "[recv] +OK split greeting\r\n");
    EXPECT_EQ(lines[7], "[recv] +OK 5 500\r\n");
}

TEST_F(Pop3Test, OverlongLineIsCutAndDoesNotPoisonTheNextReply)
{
    std::string greeting = "+OK " + std::string(3000, 'g') + "\r\n";
    FaultServer server(Pop3Session(greeting, "+OK 4 44\r\n"));
    UseAccount("127.0.0.1", server.Port(), "u", "p");
    EXPECT_EQ(CheckMail(), 4);
    Lines lines = LoggedLines();
    ASSERT_EQ(lines.size(), 10u);
    EXPECT_EQ(lines[1].substr(0, 11), "[recv] +OK ");
    EXPECT_EQ(lines[1].size(), 1023u - 20u);  // the log line's own bound
    EXPECT_EQ(lines[3], "[recv] +OK user\r\n");
    EXPECT_EQ(server.Received(), "USER u\r\nPASS p\r\nSTAT\r\nQUIT\r\n");
}

TEST_F(Pop3Test, PeerClosingIsAFailureNotAnEmptySuccess)
{
    {
        FaultServer server({Send("+OK hi\r\n"), CloseConnection()});
        UseAccount("127.0.0.1", server.Port(), "u", "p");
        EXPECT_EQ(CheckMail(), -1);
        EXPECT_EQ(LoggedLines().back(), "[system] Error: サーバーが接続を切断しました\r\n");
    }
    {
        FaultServer server({Send("+OK hi\r\n"), ReadLine(), Send("+OK\r\n"), ReadLine(), Send("+OK in\r\n"),
                            ReadLine(), CloseConnection()});
        UseAccount("127.0.0.1", server.Port(), "u", "p");
        EXPECT_EQ(CheckMail(), -1);
        EXPECT_EQ(server.Received(), "USER u\r\nPASS p\r\nSTAT\r\n");
        EXPECT_EQ(LoggedLines().back(), "[system] Error: サーバーが接続を切断しました\r\n");
    }
    {
        // A server that hangs up with the command unread resets the connection: that too is the
        // server cutting it off, whichever of its close and the command comes first.
        FaultServer server({Send("+OK hi\r\n"), Pause(200), CloseConnection()});
        UseAccount("127.0.0.1", server.Port(), "u", "p");
        EXPECT_EQ(CheckMail(), -1);
        EXPECT_EQ(LoggedLines().back(), "[system] Error: サーバーが接続を切断しました\r\n");
    }
    {
        // A line cut off by the close is shown, then the failure.
        FaultServer server({Send("+OK half a gree"), CloseConnection()});
        UseAccount("127.0.0.1", server.Port(), "u", "p");
        EXPECT_EQ(CheckMail(), -1);
        Lines lines = LoggedLines();
        ASSERT_EQ(lines.size(), 3u);
        EXPECT_EQ(lines[1], "[recv] +OK half a gree\r\n");
        EXPECT_EQ(lines[2], "[system] Error: サーバーが接続を切断しました\r\n");
    }
}

TEST_F(Pop3Test, SilentServerTimesOutWithinTheBound)
{
    NetTimeoutMs = 400;
    for (auto script : {std::vector<FaultAction>{Hang()},                        // never a word
                        std::vector<FaultAction>{Send("+OK no line end"), Hang()},  // no CRLF
                        std::vector<FaultAction>{Send("+OK hi\r\n"), ReadLine(), Hang()}}) {
        FaultServer server(script);
        UseAccount("127.0.0.1", server.Port(), "u", "p");
        uint64_t start = NetClockMs();
        EXPECT_EQ(CheckMail(), -1);
        uint64_t elapsed = NetClockMs() - start;
        EXPECT_GE(elapsed, 390u);
        EXPECT_LT(elapsed, 1500u);
        EXPECT_EQ(LoggedLines().back(), "[system] Error: タイムアウトしました\r\n");
    }
}

TEST_F(Pop3Test, TricklingServerCannotStretchOneReplyPastTheBound)
{
    NetTimeoutMs = 500;
    FaultServer server({SendSplit(std::string(200, 'x') + "\r\n", 1, 20)});
    UseAccount("127.0.0.1", server.Port(), "u", "p");
    uint64_t start = NetClockMs();
    EXPECT_EQ(CheckMail(), -1);
    EXPECT_LT(NetClockMs() - start, 1200u);
    EXPECT_EQ(LoggedLines().back(), "[system] Error: タイムアウトしました\r\n");
}

TEST_F(Pop3Test, GarbageRepliesEndInAnErrorNotACount)
{
    std::string garbage("\x01\xff\x00\x7f\x80zz\r\n", 9);
    FaultServer server({Send(garbage), ReadLine(), Send(garbage), ReadLine(), Send(garbage), ReadLine(),
                        Send(garbage), ReadLine()});
    UseAccount("127.0.0.1", server.Port(), "u", "p");
    EXPECT_EQ(CheckMail(), -1);
    Lines lines = LoggedLines();
    // The zero byte is shown, not allowed to end the text early.
    EXPECT_EQ(lines[1], "[recv] \x01\xff?\x7f\x80zz\r\n");
    EXPECT_EQ(lines.back(), "[system] Error: STATの応答から件数を読み取れません\r\n");
    EXPECT_EQ(server.Received(), "USER u\r\nPASS p\r\nSTAT\r\n");
}

TEST_F(Pop3Test, StatWithoutAUsableCountIsAnError)
{
    for (const char *reply : {"+OK\r\n", "+OK -3 100\r\n", "+OK 4294967296 0\r\n", "+OK 2147483648\r\n",
                              "+OK lots\r\n"}) {
        FaultServer server(Pop3Session("+OK\r\n", reply));
        UseAccount("127.0.0.1", server.Port(), "u", "p");
        EXPECT_EQ(CheckMail(), -1) << reply;
        EXPECT_EQ(LoggedLines().back(), "[system] Error: STATの応答から件数を読み取れません\r\n") << reply;
    }
    FaultServer server(Pop3Session("+OK\r\n", "+OK 2147483647 1\r\n"));
    UseAccount("127.0.0.1", server.Port(), "u", "p");
    EXPECT_EQ(CheckMail(), 2147483647);
}

TEST_F(Pop3Test, LineBreakInAccountIsRefusedBeforeConnecting)
{
    for (auto [user, password] : {std::pair{"u\r\nDELE 1", "p"}, std::pair{"u", "p\nQUIT"}}) {
        FaultServer server(Pop3Session("+OK\r\n", "+OK 1 1\r\n"));
        UseAccount("127.0.0.1", server.Port(), user, password);
        EXPECT_EQ(CheckMail(), -1);
        EXPECT_EQ(LoggedLines(), (Lines{"[system] Error: ユーザー名かパスワードに改行文字が含まれています\r\n"}));
        EXPECT_FALSE(server.Accepted());
    }
}

TEST_F(Pop3Test, MissingAccountLogsOneLineAndDoesNothingElse)
{
    for (int missing = 0; missing < 3; missing++) {
        UseAccount(missing == 0 ? "" : "127.0.0.1", 110, missing == 1 ? "" : "u", missing == 2 ? "" : "p");
        EXPECT_EQ(CheckMail(), -1);
        EXPECT_EQ(LoggedLines(), (Lines{"[system] Error: POP3の設定を行ってください\r\n"}));
    }
}

TEST_F(Pop3Test, PortUsesItsLow16BitsButLogsTheWholeValue)
{
    FaultServer server(Pop3Session("+OK\r\n", "+OK 0 0\r\n"));
    UseAccount("127.0.0.1", 65536 + server.Port(), "u", "p");
    EXPECT_EQ(CheckMail(), 0);
    EXPECT_EQ(LoggedLines()[0], ConnectLine(65536 + server.Port()));
}

TEST_F(Pop3Test, RefusedConnectionIsReported)
{
    int port;
    {
        FaultServer closed({});
        port = closed.Port();
    }  // nothing listens there any more
    UseAccount("127.0.0.1", port, "u", "p");
    EXPECT_EQ(CheckMail(), -1);
    EXPECT_EQ(LoggedLines(), (Lines{ConnectLine(port), "[system] Error: サーバーソケットに接続失敗\r\n"}));
}

TEST(ParseStatCount, ReadsTheSecondSpaceSeparatedToken)
{
    EXPECT_EQ(ParseStatCount("+OK 3 4096\r\n"), 3);
    EXPECT_EQ(ParseStatCount("+OK 12\r\n"), 12);
    EXPECT_EQ(ParseStatCount("+OK 0 0\r\n"), 0);
    EXPECT_EQ(ParseStatCount("  +OK  7  900\r\n"), 7);
    EXPECT_EQ(ParseStatCount("+OK +8 1\r\n"), 8);
    EXPECT_EQ(ParseStatCount("+OK 5x\r\n"), 5);
    EXPECT_EQ(ParseStatCount("+OK 2147483647\r\n"), 2147483647);
    EXPECT_EQ(ParseStatCount(""), -1);
    EXPECT_EQ(ParseStatCount("+OK\r\n"), -1);
    EXPECT_EQ(ParseStatCount("+OK\t5\r\n"), -1);  // a tab does not separate
    EXPECT_EQ(ParseStatCount("+OK -1\r\n"), -1);
    EXPECT_EQ(ParseStatCount("+OK 2147483648\r\n"), -1);
    EXPECT_EQ(ParseStatCount("+OK 99999999999999999999999\r\n"), -1);
}

}  // namespace

namespace {

// A listener whose accept queue is full drops further connection attempts on the floor, so a
// connect to it neither succeeds nor fails: only the time-out ends it.
TEST_F(Pop3Test, ConnectThatNeverCompletesTimesOut)
{
    int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listener, 0), 0);
    socklen_t length = sizeof address;
    getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length);
    std::vector<int> fillers;
    for (int i = 0; i < 4; i++) {
        int filler = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        connect(filler, reinterpret_cast<sockaddr *>(&address), sizeof address);
        fillers.push_back(filler);
    }
    NetTimeoutMs = 400;
    UseAccount("127.0.0.1", ntohs(address.sin_port), "u", "p");
    uint64_t start = NetClockMs();
    EXPECT_EQ(CheckMail(), -1);
    uint64_t elapsed = NetClockMs() - start;
    EXPECT_GE(elapsed, 390u);
    EXPECT_LT(elapsed, 1500u);
    EXPECT_EQ(LoggedLines().back(), "[system] Error: タイムアウトしました\r\n");
    for (int filler : fillers)
        close(filler);
    close(listener);
}

}  // namespace
