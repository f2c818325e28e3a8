// What every test program shares, natively and under Wine alike: the activity log as lines, the
// account and mailbox under test, the fixtures' places, the settings store as another program
// sees it, and scripted peers (a POP3 server, an SNTP server, a relay) over BSD sockets or WinSock.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using Lines = std::vector<std::string>;

// Every stored log line, oldest first, without its 20-byte time stamp.
Lines LoggedLines();
// A text cut after each CR LF; an unterminated rest is a line of its own.
Lines SplitLines(const std::string &text);

// Empties the log and points Settings at an account, everything else at its defaults.
void UseAccount(const std::string &host, int port, const std::string &user, const std::string &password,
                bool apop = false);

std::string Environment(const char *name, const std::string &fallback = "");
// A file of the fixtures (under POLLWICK_FIXTURES), named as this process can open it.
std::string FixturePath(const std::string &relative);
// The index-th number in a fixture's file (its ports), 0 when there is none.
int FixtureNumber(const std::string &relative, int index = 0);

// The Dovecot fixture: plain and STLS on the first port, TLS from the connect on at the second.
// Each build has a mailbox of its own, so that both builds' tests may run at once.
struct Mailbox {
    std::string user, password;
};
Mailbox TestMailbox();
int DovecotPort(bool implicitTls = false);
void SetMailboxCount(int count);

// Asks done every 20 ms until it holds or ms have passed; its last answer.
bool WaitUntil(const std::function<bool()> &done, int ms = 5000);
// Sets TZ for this process (nullptr: unset), as the C runtime reads it.
void SetTimeZone(const char *tz);

// The settings store as another program sees it: the program's registry key under Wine, the
// in-memory store natively.
struct Stored {
    bool present;
    bool number;
    std::string bytes;
};
Stored ReadStored(const char *name);
void PutStored(const char *name, bool number, const std::string &bytes);
void PutStoredText(const char *name, const std::string &text);  // with its terminator
void PutStoredNumber(const char *name, int32_t value);
void ClearStore();
bool StoreExists();
// Runs save with the key impossible to create; what the user was told, "" when nothing.
std::string SaveWithStoreDenied(void (*save)());

// Sockets of the peers.
void StartTestSockets();
bool WaitReadable(intptr_t socket, int ms);
void CloseTestSocket(intptr_t socket);
intptr_t ListenOnLoopback(int *port, int backlog = 4);
intptr_t ConnectToLoopback(int port);

// One step of a scripted POP3 peer.
struct FaultAction {
    enum Kind { Send, ReadLine, Pause, Close, Hang } kind;
    std::vector<std::string> segments;  // Send: written one by one, pauseMs apart
    int pauseMs = 0;
};
FaultAction Send(std::string text);
FaultAction SendSplit(const std::string &text, size_t pieceSize, int pauseMs);  // TCP_NODELAY keeps pieces apart
FaultAction ReadLine();
FaultAction Pause(int ms);
FaultAction CloseConnection();
FaultAction Hang();  // silent until the peer is stopped
using Script = std::vector<FaultAction>;
// A well-behaved session after the greeting: replies to USER and PASS (or APOP), STAT and QUIT.
Script Pop3Session(const std::string &greeting, const std::string &statReply, bool apop = false);

// Plays its script once to the first client on 127.0.0.1 and keeps every byte the client sent.
class FaultServer {
public:
    explicit FaultServer(Script script);
    ~FaultServer();  // stops at once, also in a Hang or a Pause
    int Port() const { return port_; }
    std::string Received();
    bool Accepted() const { return accepted_; }

private:
    void Run();
    Script script_;
    intptr_t listener_;
    int port_ = 0;
    std::atomic<bool> stop_{false}, accepted_{false};
    std::mutex mutex_;
    std::string received_;
    std::thread thread_;
};

// A port on 127.0.0.1 whose listener's queue is full: a connect there neither succeeds nor fails.
class UnansweredPort {
public:
    UnansweredPort();
    ~UnansweredPort();
    int Port() const { return port_; }

private:
    intptr_t listener_;
    std::vector<intptr_t> fillers_;
    int port_ = 0;
};

// Relays each connection on 127.0.0.1 to serverPort, keeping what clients sent; with refuseEvery
// n, every n-th connection (the 5th of each 10 for 10) gets a negative greeting instead.
class Relay {
public:
    explicit Relay(int serverPort, int refuseEvery = 0);
    ~Relay();
    int Port() const { return port_; }
    int Connections() const { return connections_; }
    std::string FromClients();  // stops the relay

private:
    void Run();
    void Pump(intptr_t client);
    int serverPort_, refuseEvery_, port_ = 0;
    intptr_t listener_;
    std::atomic<bool> stop_{false};
    std::atomic<int> connections_{0};
    std::string fromClients_;
    std::thread thread_;
};

// A scripted SNTP peer: takes one request on 127.0.0.1 and answers it with each datagram of its
// script, from its own socket or a decoy's. An empty script never answers.
struct UdpReply {
    enum Source { Server, OtherPort, OtherAddress } source;  // decoys: 127.0.0.1 elsewhere, 127.0.0.2
    std::string bytes;
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
    void Run();
    std::vector<UdpReply> replies_;
    intptr_t sockets_[3];  // server, other port, other address
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::string request_;
    int requestPort_ = 0;
    std::thread thread_;
};

// Holds a UDP port on every local address while it lives; another test program may hold it for
// a moment, so binding is tried for up to 10 s. bound tells.
struct UdpPortHolder {
    explicit UdpPortHolder(uint16_t port);
    ~UdpPortHolder();
    intptr_t socket;
    bool bound;
};
