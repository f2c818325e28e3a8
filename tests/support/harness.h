// What every test program shares, natively and under Wine alike: the activity log as lines, the
// account and mailbox under test, the fixtures, the settings store as another program sees it,
// and a scripted POP3 server over BSD sockets or WinSock.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using Lines = std::vector<std::string>;

Lines LoggedLines();  // every stored log line, oldest first, without its 20-byte time stamp
Lines SplitLines(const std::string &text);  // cut after each CR LF; a rest is a line of its own
// Empties the log and points Settings at an account, everything else at its defaults.
void UseAccount(const std::string &host, int port, const std::string &user, const std::string &password,
                bool apop = false);

std::string Environment(const char *name, const std::string &fallback = "");
int FixtureNumber(const std::string &relative, int index = 0);  // a number in a fixture's file; 0 if none

// The Dovecot fixture: plain and STLS at the first port, TLS from the connect on at the second.
// Each build has a mailbox of its own, so that both builds' tests may run at once.
struct Mailbox {
    std::string user, password;
};
Mailbox TestMailbox();
int DovecotPort(bool implicitTls = false);
void SetMailboxCount(int count);

bool WaitUntil(const std::function<bool()> &done, int ms = 5000);  // asks every 20 ms; its last answer

// The settings store as another program sees it: the program's registry key under Wine (a text
// in code page 932, whatever the system's), the in-memory store natively. A text is stored as such
// when its bytes end in a terminator, else as bytes.
struct Stored {
    bool present, number;
    std::string bytes;
};
Stored ReadStored(const char *name);
int32_t StoredNumber(const char *name);  // -12345 when absent or not four bytes
void PutStored(const char *name, const std::string &bytes);
void PutStoredText(const char *name, const std::string &text);
void PutStoredNumber(const char *name, int32_t value);
void ClearStore();
bool StoreExists();

// Sockets of the peers, on 127.0.0.1.
intptr_t OpenTestSocket(int type, uint32_t address, int port);  // bound there (host order), or -1
int LocalPort(intptr_t socket);
bool WaitReadable(intptr_t socket, int ms);
void CloseTestSocket(intptr_t socket);
intptr_t ListenOnLoopback(int *port, int backlog = 4);
intptr_t AcceptClient(intptr_t listener);  // the next client within 20 ms, or -1
intptr_t ConnectToLoopback(int port, bool wait = true);  // without waiting: the connect goes on

// A scripted POP3 peer: it plays its script once to the first client and keeps every byte the
// client sent.
struct FaultAction {
    enum Kind { Send, ReadLine, Pause, Close } kind;
    std::vector<std::string> segments;  // Send: written one by one, pauseMs apart (TCP_NODELAY)
    int pauseMs = 0;
};
using Script = std::vector<FaultAction>;
inline FaultAction Send(std::string text) { return {FaultAction::Send, {std::move(text)}}; }
FaultAction SendSplit(const std::string &text, size_t pieceSize, int pauseMs);
inline FaultAction ReadLine() { return {FaultAction::ReadLine}; }
inline FaultAction Pause(int ms) { return {FaultAction::Pause, {}, ms}; }
inline FaultAction CloseConnection() { return {FaultAction::Close}; }
inline FaultAction Hang() { return Pause(24 * 3600 * 1000); }  // silent until the peer is stopped
// A well-behaved session after the greeting: replies to USER and PASS (or APOP), STAT and QUIT.
Script Pop3Session(const std::string &greeting, const std::string &statReply, bool apop = false);

class FaultServer {
public:
    explicit FaultServer(Script script);
    ~FaultServer();  // stops at once, also in a Pause
    int Port() const { return port_; }
    std::string Received();
    bool Accepted() const { return accepted_; }

private:
    Script script_;
    int port_ = 0;
    intptr_t listener_;  // after port_, which it sets
    std::atomic<bool> stop_{false}, accepted_{false};
    std::mutex mutex_;
    std::string received_;
    std::thread thread_;
};
