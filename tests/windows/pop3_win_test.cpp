// The POP3 session over real WinSock: against Dovecot and against the scripted peer.
#include <gtest/gtest.h>

#include "mail/net.h"
#include "mail/pop3.h"
#include "tests/support/fault_server.h"
#include "tests/support/test_support.h"

namespace {

using Lines = std::vector<std::string>;

TEST(WinSockDovecot, ExactCountsWithUserPassAndApop)
{
    ASSERT_GT(DovecotPort(), 0) << "the Dovecot fixture did not run";
    for (int count : {0, 1, 37}) {
        SetMailboxCount("wine", count);
        for (bool apop : {false, true}) {
            UseAccount("127.0.0.1", DovecotPort(), "wine", "w1ne-pass", apop);
            EXPECT_EQ(CheckMail(), count) << (apop ? "APOP " : "USER/PASS ") << count;
            Lines lines = LoggedLines();
            ASSERT_EQ(lines.size(), apop ? 8u : 10u);
            EXPECT_EQ(lines[apop ? 2 : 4], apop ? lines[2] : "[send] PASS *********\r\n");
            EXPECT_EQ(lines[apop ? 5 : 7].substr(0, 11 + std::to_string(count).size() + 1),
                      "[recv] +OK " + std::to_string(count) + " ");
        }
    }
    // "localhost" goes through the resolver.
    UseAccount("localhost", DovecotPort(), "wine", "w1ne-pass");
    EXPECT_EQ(CheckMail(), 37);
}

TEST(WinSockFaults, SplitRepliesTimeOutsAndRefusals)
{
    NetTimeoutMs = 500;
    {
        std::vector<FaultAction> script = Pop3Session("+OK split\r\n", "+OK 6 600\r\n");
        for (FaultAction &action : script)
            if (action.kind == FaultAction::Send)
                action = SendSplit(action.segments[0], 2, 10);
        FaultServer server(script);
        UseAccount("127.0.0.1", server.Port(), "u", "pw");
        EXPECT_EQ(CheckMail(), 6);
        EXPECT_EQ(server.Received(), "USER u\r\nPASS pw\r\nSTAT\r\nQUIT\r\n");
        EXPECT_EQ(LoggedLines()[4], "[send] PASS **\r\n");
    }
    {
        FaultServer server({Send("+OK\r\n"), ReadLine(), Hang()});
        UseAccount("127.0.0.1", server.Port(), "u", "pw");
        uint64_t start = NetClockMs();
        EXPECT_EQ(CheckMail(), -1);
        EXPECT_LT(NetClockMs() - start, 1500u);
        EXPECT_EQ(LoggedLines().back(), "[system] Error: タイムアウトしました\r\n");
    }
    {
        FaultServer server({Send("+OK\r\n"), CloseConnection()});
        UseAccount("127.0.0.1", server.Port(), "u", "pw");
        EXPECT_EQ(CheckMail(), -1);
        EXPECT_EQ(LoggedLines().back(), "[system] Error: サーバーが接続を切断しました\r\n");
    }
    int port;
    {
        FaultServer gone({});
        port = gone.Port();
    }
    UseAccount("127.0.0.1", port, "u", "pw");
    EXPECT_EQ(CheckMail(), -1);
    EXPECT_EQ(LoggedLines().back(), "[system] Error: サーバーソケットに接続失敗\r\n");
    NetTimeoutMs = kDefaultNetTimeoutMs;
}

}  // namespace
