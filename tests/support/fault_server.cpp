// The scripted POP3 peer, over BSD sockets or WinSock.
#include "tests/support/fault_server.h"

#include <chrono>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
using SocketLength = int;
constexpr int kSendFlags = 0;
static void CloseSocket(intptr_t s) { closesocket(static_cast<SOCKET>(s)); }
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
using SocketLength = socklen_t;
constexpr int kSendFlags = MSG_NOSIGNAL;  // a client that hung up must not end the test run
static void CloseSocket(intptr_t s) { close(static_cast<int>(s)); }
#endif

FaultAction Send(std::string text) { return {FaultAction::Send, {std::move(text)}, 0}; }

FaultAction SendSplit(const std::string &text, size_t pieceSize, int pauseMs)
{
    FaultAction action{FaultAction::Send, {}, pauseMs};
    for (size_t at = 0; at < text.size(); at += pieceSize)
        action.segments.push_back(text.substr(at, pieceSize));
    return action;
}

FaultAction ReadLine() { return {FaultAction::ReadLine, {}, 0}; }
FaultAction Pause(int ms) { return {FaultAction::Pause, {}, ms}; }
FaultAction CloseConnection() { return {FaultAction::Close, {}, 0}; }
FaultAction Hang() { return {FaultAction::Hang, {}, 0}; }

std::vector<FaultAction> Pop3Session(const std::string &greeting, const std::string &statReply, bool apop)
{
    std::vector<FaultAction> script = {Send(greeting)};
    if (!apop)
        script.insert(script.end(), {ReadLine(), Send("+OK user\r\n")});
    script.insert(script.end(), {ReadLine(), Send("+OK logged in\r\n"), ReadLine(), Send(statReply),
                                 ReadLine(), Send("+OK bye\r\n"), ReadLine()});
    return script;
}

void StartTestSockets()
{
#ifdef _WIN32
    static bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    (void)started;
#endif
}

FaultServer::FaultServer(std::vector<FaultAction> script) : script_(std::move(script))
{
    StartTestSockets();
    listener_ = static_cast<intptr_t>(socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listener_, reinterpret_cast<sockaddr *>(&address), sizeof address);
    listen(listener_, 4);
    SocketLength length = sizeof address;
    getsockname(listener_, reinterpret_cast<sockaddr *>(&address), &length);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Run(); });
}

FaultServer::~FaultServer()
{
    stop_ = true;
    thread_.join();
    CloseSocket(listener_);
}

std::string FaultServer::Received()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
}

bool FaultServer::WaitReadable(intptr_t s, int ms)
{
#ifdef _WIN32
    fd_set set;
    FD_ZERO(&set);
    FD_SET(static_cast<SOCKET>(s), &set);
    timeval limit = {ms / 1000, (ms % 1000) * 1000};
    return select(0, &set, nullptr, nullptr, &limit) > 0;
#else
    pollfd entry = {static_cast<int>(s), POLLIN, 0};
    return poll(&entry, 1, ms) > 0;
#endif
}

void FaultServer::Run()
{
    while (!stop_ && !WaitReadable(listener_, 20)) {
    }
    if (stop_)
        return;
    intptr_t peer = static_cast<intptr_t>(accept(listener_, nullptr, nullptr));
    accepted_ = true;
    int one = 1;
    setsockopt(peer, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char *>(&one), sizeof one);

    auto sleepFor = [this](int ms) {
        auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (!stop_ && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    };

    bool closed = false;
    for (const FaultAction &action : script_) {
        if (stop_)
            break;
        switch (action.kind) {
        case FaultAction::Send:
            for (size_t i = 0; i < action.segments.size(); i++) {
                if (i > 0)
                    sleepFor(action.pauseMs);
                send(peer, action.segments[i].data(), static_cast<int>(action.segments[i].size()), kSendFlags);
            }
            break;
        case FaultAction::ReadLine:
            for (;;) {
                while (!stop_ && !WaitReadable(peer, 20)) {
                }
                char c;
                if (stop_ || recv(peer, &c, 1, 0) != 1) {
                    closed = true;
                    break;
                }
                std::lock_guard<std::mutex> lock(mutex_);
                received_ += c;
                if (c == '\n')
                    break;
            }
            break;
        case FaultAction::Pause:
            sleepFor(action.pauseMs);
            break;
        case FaultAction::Close:
            closed = true;
            break;
        case FaultAction::Hang:
            sleepFor(24 * 3600 * 1000);
            break;
        }
        if (closed)
            break;
    }
    // Take in whatever else the client sends before it hangs up, so the transcript is complete.
    char buffer[256];
    while (!closed && !stop_ && WaitReadable(peer, 50)) {
        int n = recv(peer, buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        std::lock_guard<std::mutex> lock(mutex_);
        received_.append(buffer, static_cast<size_t>(n));
    }
    CloseSocket(peer);
}
