// A scripted POP3 peer for tests: it plays one connection from a script of actions (send, read a
// line, pause, close, hang) and records every byte the client sent.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct FaultAction {
    enum Kind { Send, ReadLine, Pause, Close, Hang } kind;
    std::vector<std::string> segments;  // Send: written one by one, pauseMs apart
    int pauseMs = 0;
};

FaultAction Send(std::string text);
// Sends text in pieces of at most pieceSize bytes, pauseMs apart (TCP_NODELAY keeps them apart).
FaultAction SendSplit(const std::string &text, size_t pieceSize, int pauseMs);
FaultAction ReadLine();
FaultAction Pause(int ms);
FaultAction CloseConnection();
// Keeps the connection open without a word until the server is stopped.
FaultAction Hang();

// The well-behaved exchange after a greeting: replies to USER, PASS (or APOP), STAT and QUIT.
std::vector<FaultAction> Pop3Session(const std::string &greeting, const std::string &statReply,
                                     bool apop = false);

class FaultServer {
public:
    // Listens on 127.0.0.1 at a port of the system's choosing and plays the script once.
    explicit FaultServer(std::vector<FaultAction> script);
    ~FaultServer();  // stops at once, also in the middle of a Hang or a Pause

    int Port() const { return port_; }
    std::string Received();  // every byte received so far
    bool Accepted() const { return accepted_; }

private:
    void Run();
    bool WaitReadable(intptr_t socket, int ms);

    std::vector<FaultAction> script_;
    intptr_t listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<bool> accepted_{false};
    std::mutex mutex_;
    std::string received_;
    std::thread thread_;
};

// Starts the platform's sockets for test code (a no-op outside Windows).
void StartTestSockets();
