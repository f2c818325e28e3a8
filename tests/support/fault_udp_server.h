// SNTP peers for tests: a scripted one that takes one request on 127.0.0.1 and answers with the
// datagrams of its script, each from the server's own socket or a decoy's; the chrony fixture's
// port; and help with the reports that the exchange writes.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "clock/sntp.h"

struct UdpReply {
    enum Source {
        Server,        // the server's own address and port
        OtherPort,     // 127.0.0.1, another port
        OtherAddress,  // 127.0.0.2, the server's port
    } source;
    std::string bytes;
};

// A 48-byte server reply with the given fields; every other byte is zero.
std::string SntpReply(uint32_t seconds, uint32_t fraction = 0, int leap = 0, int mode = 4, int stratum = 2);

class FaultUdpServer {
public:
    // Binds 127.0.0.1 at a port of the system's choosing and answers the first request with
    // replies, in order, to the address and port it came from. An empty script never answers.
    explicit FaultUdpServer(std::vector<UdpReply> replies);
    ~FaultUdpServer();  // stops at once, also while it waits

    int Port() const { return port_; }
    std::string Request();  // the first datagram received, empty until then
    int RequestPort();      // the port it came from, 0 until then

private:
    void Run();

    std::vector<UdpReply> replies_;
    intptr_t server_ = -1;
    intptr_t otherPort_ = -1;
    intptr_t otherAddress_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::string request_;
    int requestPort_ = 0;
    std::thread thread_;
};

// Holds a UDP port on every local address for as long as it lives. Another test run (of another
// build) may hold it for a moment, so binding is tried again for up to waitMs; bound tells.
struct UdpPortHolder {
    explicit UdpPortHolder(uint16_t port, int waitMs = 10000);
    ~UdpPortHolder();
    intptr_t socket = -1;
    bool bound = false;
};

// The port of the tests' chrony on 127.0.0.1, from the fixture's state; 0 when it did not run.
int ChronyPort();

// A report cut after each CR LF (an unterminated rest is a line of its own).
std::vector<std::string> ReportLines(const std::string &report);

// Seconds since 1970-01-01 of a date and time taken as UTC, for telling how far apart two are.
int64_t SecondsOf(const ClockTime &time);
