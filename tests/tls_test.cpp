// The POP3 session over TLS through SChannel, under Wine, against the Dovecot fixture's TLS side
// and scripted peers that speak plain text where TLS is due.
#include <gtest/gtest.h>

#define SECURITY_WIN32
#define SCHANNEL_USE_BLACKLISTS
#include <windows.h>
#include <subauth.h>
#include <security.h>
#include <schannel.h>
#include <wincrypt.h>

#include <string>

#include "base/log.h"
#include "mail/pop3.h"
#include "mail/tls_schannel.h"
#include "net/net.h"
#include "settings/settings.h"
#include "tests/support/harness.h"

namespace {

// A check through SChannel against the Dovecot fixture's TLS side (whose certificate authority the
// Wine fixture trusts in the tests' prefix), or against port.
int Check(const std::string &host, int mode, int port = 0, bool apop = false)
{
    UseAccount(host, port != 0 ? port : DovecotPort(mode == 2), TestMailbox().user, TestMailbox().password, apop);
    Settings.TLSM = mode;
    NetTimeoutMs = 10000;
    int result = CheckMail();
    NetTimeoutMs = kDefaultNetTimeoutMs;
    return result;
}

TEST(Tls, StlsAndTlsFromTheConnectWithTheServersName)
{
    // The certificate for "localhost" goes only to a client that asks for that name (SNI). The
    // server on .6 asks for a client certificate (we show none and go on at once); the revocation
    // list named by the one on .8 cannot be had, which is no refusal.
    SetMailboxCount(4);
    for (const char *host : {"localhost", "127.0.0.6", "127.0.0.8"})
        for (int mode : {1, 2})
            for (bool apop : {false, true})
                EXPECT_EQ(Check(host, mode, 0, apop), 4) << host << " TLSM " << mode << (apop ? " APOP" : "");
    ASSERT_EQ(Check("localhost", 1), 4);
    Lines log = LoggedLines();
    ASSERT_EQ(log.size(), 13u);
    EXPECT_EQ(log[2], "[send] STLS\r\n");
    EXPECT_TRUE(log[4].starts_with("[system] TLS 1.") && log[4].find(" で暗号化しました（") != std::string::npos) << log[4];
    EXPECT_EQ(log[5], "[send] USER " + TestMailbox().user + "\r\n");
    // From the connect on: the channel first, then the greeting.
    ASSERT_EQ(Check("localhost", 2), 4);
    EXPECT_TRUE(LoggedLines()[1].starts_with("[system] TLS 1.")) << LoggedLines()[1];
}

TEST(Tls, CertificatesThatMustBeRefused)
{
    // In the modes from the first one given on. Wine 8 keeps a verdict of "revoked" on disk as
    // "good" until the list's next update: a revoked certificate is judged right only once.
    const struct { const char *host, *error; int first; } cases[] = {
        {"127.0.0.2", "[system] Error: サーバーの証明書の発行元を信頼できません\r\n", 1},  // self-signed
        {"127.0.0.1", "[system] Error: サーバーの証明書の名前が「POP3サーバ名」と一致しません\r\n", 1},  // no SNI: another name
        {"127.0.0.3", "[system] Error: サーバーの証明書が有効期間外です（期限切れか、PCの時計がずれています）\r\n", 1},
        {"127.0.0.4", "[system] Error: サーバーの証明書の発行元を信頼できません\r\n", 1},  // issuer not sent
        {"127.0.0.9", "[system] Error: サーバーの証明書の発行元を信頼できません\r\n", 1},  // issuer sent
        {"127.0.0.7", "[system] Error: サーバーの証明書は失効しています\r\n", 2},
    };
    for (auto [host, error, first] : cases)
        for (int mode = first; mode <= 2; mode++) {
            EXPECT_EQ(Check(host, mode), -1) << host << " TLSM " << mode;
            EXPECT_EQ(LoggedLines().back(), error) << host << " TLSM " << mode;
            EXPECT_EQ(LoggedLines().size(), mode == 1 ? 5u : 2u) << host << " TLSM " << mode;
            EXPECT_FALSE(LastCheckFailedOnNetwork()) << host;  // the server's word, not the network's
        }
}

// Wine 8's SChannel offers no TLS 1.3, whatever a client asks for: a server of TLS 1.3 alone ends
// the handshake at once, and the log tells so. A connection that ends in the handshake is one
// the network may have ended: after waking, such a check is tried again.
TEST(Tls, ServerOfTls13Alone)
{
    for (int mode : {1, 2}) {
        EXPECT_EQ(Check("127.0.0.5", mode), -1) << "TLSM " << mode;
        EXPECT_TRUE(LoggedLines().back().starts_with("[system] Error: TLSのハンドシェイク中にサーバーが接続を切断しました"))
            << LoggedLines().back();
        EXPECT_TRUE(LastCheckFailedOnNetwork());
    }
}

TEST(Tls, ASystemThatRefusesTheCurrentFormIsAskedInTheOlder)
{
    // A form that no system knows stands for the current one on a system from before it.
    const TlsCredentialForm forms[] = {{SCH_CREDENTIALS_VERSION + 1, kTlsCredentialForms[0].protocols},
                                       kTlsCredentialForms[1]};
    NetSocket socket = ConnectToLoopback(DovecotPort(true));
    char greeting[4] = {};
    bool started = TlsStartWith(socket, "localhost", forms, 2);
    EXPECT_TRUE(started) << LoggedLines().back();
    EXPECT_EQ(started ? TlsReceive(greeting, 3, 5000) : 0, 3);
    EXPECT_STREQ(greeting, "+OK");
    TlsEnd();
    CloseTestSocket(socket);
}

TEST(Tls, NothingButStlsCrossesInPlainText)
{
    // Plain text where the handshake's reply was due ends the check at once: no login, only a
    // TLS hello went out.
    for (int mode : {1, 2}) {
        Script plain = {Send("+OK plain text here\r\n"), Pause(200), Send("-ERR no TLS here\r\n"), ReadLine(), Hang()};
        if (mode == 1)
            plain.insert(plain.begin() + 1, {ReadLine(), Send("+OK begin\r\n")});
        FaultServer server(plain);
        uint64_t start = NetClockMs();
        EXPECT_EQ(Check("127.0.0.1", mode, server.Port()), -1);
        EXPECT_LT(NetClockMs() - start, 2000u) << "TLSM " << mode;
        WaitUntil([&] { return server.Received().size() > (mode == 1 ? 6u : 0u); }, 2000);  // it reads on its own
        std::string hello = server.Received().substr(mode == 1 ? 6 : 0);
        ASSERT_FALSE(hello.empty());
        EXPECT_EQ(hello[0], '\x16') << "not a TLS handshake record";
        EXPECT_TRUE(LoggedLines().back().starts_with("[system] Error: TLSのハンドシェイクに失敗しました")) << mode;
    }
}
}  // namespace
