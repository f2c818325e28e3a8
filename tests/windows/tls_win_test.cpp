// POP3 over TLS through SChannel under Wine: against the TLS-only Dovecot (STLS and TLS from the
// connect on), its certificates that must be refused, servers without STLS, and the bytes on the
// wire. The test run's certificate authority is trusted by this process only: Wine builds each
// process's root store afresh from the host's bundle, and what is added to it stays in memory.
#include <gtest/gtest.h>

#include <winsock2.h>
#include <windows.h>
#include <wincrypt.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "mail/net.h"
#include "mail/pop3.h"
#include "settings/settings.h"
#include "tests/support/fault_server.h"
#include "tests/support/test_support.h"

namespace {

using Lines = std::vector<std::string>;

const char kPassword[] = "w1ne-pass";

std::string TlsFixture(const std::string &relative)
{
    return "Z:" + Environment("POLLWICK_FIXTURES") + "/dovecot-tls/" + relative;
}

int TlsPort(int mode)
{
    std::ifstream file(TlsFixture("ports"));
    int stls = 0, pop3s = 0;
    file >> stls >> pop3s;
    return mode == 1 ? stls : pop3s;
}

void SetTlsMailboxCount(int count)
{
    namespace fs = std::filesystem;
    fs::path maildir = fs::path(TlsFixture("home")) / "wine" / "Maildir";
    for (const char *sub : {"new", "cur"})
        for (const auto &entry : fs::directory_iterator(maildir / sub))
            fs::remove(entry.path());
    for (int i = 0; i < count; i++) {
        std::ofstream file(maildir / "new" / ("1765000000.M" + std::to_string(i) + "P1.test"), std::ios::binary);
        file << "Subject: message " << i << "\r\n\r\nbody\r\n";
    }
}

void UseTls(const std::string &host, int port, int mode, bool apop = false)
{
    UseAccount(host, port, "wine", kPassword, apop);
    Settings.TLSM = mode;
}

// A TCP relay on loopback between the program and a server, which keeps every byte the program
// sent: what anyone on the path would see.
class Relay {
public:
    explicit Relay(int serverPort) : serverPort_(serverPort)
    {
        listener_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in local = {};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(listener_, reinterpret_cast<sockaddr *>(&local), sizeof local);
        listen(listener_, 1);
        int length = sizeof local;
        getsockname(listener_, reinterpret_cast<sockaddr *>(&local), &length);
        port_ = ntohs(local.sin_port);
        thread_ = std::thread([this] { Run(); });
    }
    ~Relay()
    {
        FromClient();
        closesocket(listener_);
    }
    int Port() const { return port_; }
    std::string FromClient()
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
        return fromClient_;
    }

private:
    bool Readable(SOCKET s, int ms)
    {
        fd_set set;
        FD_ZERO(&set);
        FD_SET(s, &set);
        timeval limit = {0, ms * 1000};
        return select(0, &set, nullptr, nullptr, &limit) == 1;
    }
    void Run()
    {
        while (!stop_ && !Readable(listener_, 50)) {
        }
        if (stop_)
            return;
        SOCKET client = accept(listener_, nullptr, nullptr);
        SOCKET server = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in peer = {};
        peer.sin_family = AF_INET;
        peer.sin_port = htons(static_cast<u_short>(serverPort_));
        peer.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connect(server, reinterpret_cast<sockaddr *>(&peer), sizeof peer);
        char buffer[4096];
        for (bool open = true; open && !stop_;) {
            for (SOCKET from : {client, server}) {
                if (!Readable(from, 10))
                    continue;
                int n = recv(from, buffer, sizeof buffer, 0);
                if (n <= 0) {
                    open = false;
                    break;
                }
                if (from == client)
                    fromClient_.append(buffer, static_cast<size_t>(n));
                send(from == client ? server : client, buffer, n, 0);
            }
        }
        closesocket(client);
        closesocket(server);
    }

    int serverPort_;
    SOCKET listener_;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::string fromClient_;
    std::thread thread_;
};

class TlsTest : public ::testing::Test {
protected:
    // The CA's certificate into the current user's root store of this prefix, for the run.
    static void SetUpTestSuite()
    {
        StartTestSockets();
        std::ifstream file(TlsFixture("ca.pem"), std::ios::binary);
        std::stringstream pem;
        pem << file.rdbuf();
        std::string text = pem.str();
        BYTE der[4096];
        DWORD length = sizeof der;
        if (!CryptStringToBinaryA(text.c_str(), static_cast<DWORD>(text.size()), CRYPT_STRING_BASE64HEADER, der,
                                  &length, nullptr, nullptr))
            return;
        HCERTSTORE root = CertOpenSystemStoreA(0, "ROOT");
        CertAddEncodedCertificateToStore(root, X509_ASN_ENCODING, der, length, CERT_STORE_ADD_REPLACE_EXISTING,
                                         &authority_);
        CertCloseStore(root, 0);
    }
    static void TearDownTestSuite()
    {
        if (authority_ != nullptr)
            CertDeleteCertificateFromStore(authority_);  // also frees the context
        authority_ = nullptr;
    }
    void SetUp() override
    {
        ASSERT_NE(authority_, nullptr) << "the test CA could not be trusted (did the dovecot_tls fixture run?)";
        ASSERT_GT(TlsPort(1), 0);
        NetTimeoutMs = 10000;
    }
    void TearDown() override { NetTimeoutMs = kDefaultNetTimeoutMs; }

    static PCCERT_CONTEXT authority_;
};

PCCERT_CONTEXT TlsTest::authority_ = nullptr;

bool StartsWith(const std::string &text, const std::string &start) { return text.compare(0, start.size(), start) == 0; }

TEST_F(TlsTest, StlsAndTlsFromTheConnectGiveExactCountsAndTheUsualLog)
{
    // The server shows its certificate for "localhost" only to a client that sends that name
    // (SNI): every success here also shows that the name went out.
    for (int count : {0, 4}) {
        SetTlsMailboxCount(count);
        for (int mode : {1, 2})
            for (bool apop : {false, true}) {
                UseTls("localhost", TlsPort(mode), mode, apop);
                EXPECT_EQ(CheckMail(), count) << "TLSM " << mode << (apop ? " APOP" : "");
            }
    }

    UseTls("localhost", TlsPort(1), 1);
    ASSERT_EQ(CheckMail(), 4);
    Lines lines = LoggedLines();
    ASSERT_EQ(lines.size(), 13u);
    EXPECT_EQ(lines[0], "[system] localhost:" + std::to_string(TlsPort(1)) + " に接続します\r\n");
    EXPECT_TRUE(StartsWith(lines[1], "[recv] +OK ")) << lines[1];
    EXPECT_EQ(lines[2], "[send] STLS\r\n");
    EXPECT_TRUE(StartsWith(lines[3], "[recv] +OK ")) << lines[3];
    EXPECT_TRUE(StartsWith(lines[4], "[system] TLS 1.")) << lines[4];
    EXPECT_NE(lines[4].find(" で暗号化しました ("), std::string::npos) << lines[4];
    EXPECT_EQ(Lines(lines.begin() + 5, lines.begin() + 10),
              (Lines{"[send] USER wine\r\n", "[recv] +OK\r\n", "[send] PASS *********\r\n",
                     "[recv] +OK Logged in.\r\n", "[send] STAT\r\n"}));
    EXPECT_TRUE(StartsWith(lines[10], "[recv] +OK 4 ")) << lines[10];
    EXPECT_EQ(Lines(lines.begin() + 11, lines.end()), (Lines{"[send] QUIT\r\n", "[recv] +OK Logging out.\r\n"}));
    std::printf("TLS line: %s", lines[4].c_str());

    // From the connect on: the channel first, then the greeting; APOP uses its timestamp.
    UseTls("localhost", TlsPort(2), 2, true);
    ASSERT_EQ(CheckMail(), 4);
    lines = LoggedLines();
    ASSERT_EQ(lines.size(), 9u);
    EXPECT_TRUE(StartsWith(lines[1], "[system] TLS 1.")) << lines[1];
    EXPECT_TRUE(StartsWith(lines[2], "[recv] +OK ")) << lines[2];
    EXPECT_TRUE(StartsWith(lines[3], "[send] APOP wine ")) << lines[3];
}

TEST_F(TlsTest, UntrustedOrMisnamedCertificatesAndServersWithoutStlsAreRefused)
{
    SetTlsMailboxCount(1);
    struct Case {
        const char *host;
        const char *error;
    } const cases[] = {
        // 127.0.0.2 shows a self-signed certificate; to a client that does not ask for
        // "localhost", 127.0.0.1 shows one from the trusted CA for another name.
        {"127.0.0.2", "[system] Error: サーバーの証明書は信頼された発行元のものではありません\r\n"},
        {"127.0.0.1", "[system] Error: サーバーの証明書の名前がPOP3サーバ名と一致しません\r\n"},
    };
    for (const Case &c : cases)
        for (int mode : {1, 2}) {
            UseTls(c.host, TlsPort(mode), mode);
            EXPECT_EQ(CheckMail(), -1) << c.host << " TLSM " << mode;
            Lines lines = LoggedLines();
            ASSERT_EQ(lines.size(), mode == 1 ? 5u : 2u) << c.host << " TLSM " << mode;
            EXPECT_EQ(lines.back(), c.error) << c.host << " TLSM " << mode;
        }

    // A real server without TLS: its refusal of STLS ends the check before the login.
    ASSERT_GT(DovecotPort(), 0);
    UseTls("127.0.0.1", DovecotPort(), 1);
    EXPECT_EQ(CheckMail(), -1);
    Lines lines = LoggedLines();
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[2], "[send] STLS\r\n");
    EXPECT_TRUE(StartsWith(lines[3], "[recv] -ERR ")) << lines[3];
    EXPECT_EQ(lines[4], "[system] Error: このサーバーはSTLSに対応していません\r\n");
}

TEST_F(TlsTest, NothingButStlsTravelsInPlainText)
{
    // The scripted peer: no STLS; an acceptance with bytes behind it; plain text where TLS was
    // due. None of them hears more than it must, and none gets a login.
    {
        FaultServer server({Send("+OK hello\r\n"), ReadLine(), Send("-ERR what?\r\n"), ReadLine(), Hang()});
        UseTls("127.0.0.1", server.Port(), 1);
        EXPECT_EQ(CheckMail(), -1);
        EXPECT_EQ(server.Received(), "STLS\r\n");
        EXPECT_EQ(LoggedLines().back(), "[system] Error: このサーバーはSTLSに対応していません\r\n");
    }
    {
        FaultServer server({Send("+OK hello\r\n"), ReadLine(), Send("+OK go on\r\n+OK 99 0\r\n"), Pause(1000)});
        UseTls("127.0.0.1", server.Port(), 1);
        EXPECT_EQ(CheckMail(), -1);
        EXPECT_EQ(server.Received(), "STLS\r\n");
        EXPECT_EQ(LoggedLines().back(), "[system] Error: STLSの応答の後に暗号化されていないデータが続いています\r\n");
    }
    {
        FaultServer server({Send("+OK plain text here\r\n"), ReadLine(), Hang()});
        UseTls("127.0.0.1", server.Port(), 2);
        NetTimeoutMs = 1000;  // SChannel may take the text for the start of a record and wait
        EXPECT_EQ(CheckMail(), -1);
        std::string hello = server.Received();
        ASSERT_FALSE(hello.empty());
        EXPECT_EQ(hello[0], '\x16') << "not a TLS handshake record";
        EXPECT_EQ(hello.find("wine"), std::string::npos);
        EXPECT_TRUE(StartsWith(LoggedLines().back(), "[system] Error: TLSのハンドシェイク")) << LoggedLines().back();
    }

    // Through a relay to the real server: the password never crosses in any form we sent.
    SetTlsMailboxCount(2);
    for (int mode : {1, 2}) {
        Relay relay(TlsPort(mode));
        UseTls("localhost", relay.Port(), mode);
        EXPECT_EQ(CheckMail(), 2) << "TLSM " << mode;
        std::string wire = relay.FromClient();
        EXPECT_EQ(wire.find(kPassword), std::string::npos) << "TLSM " << mode;
        EXPECT_EQ(wire.find("USER"), std::string::npos) << "TLSM " << mode;
        if (mode == 1)
            EXPECT_EQ(wire.substr(0, 7), std::string("STLS\r\n\x16", 7));
        else
            EXPECT_EQ(wire.substr(0, 1), "\x16");
    }
}

}  // namespace
