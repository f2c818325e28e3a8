// The scripted SNTP peer, over BSD sockets or WinSock.
#include "tests/support/fault_udp_server.h"

#include <chrono>
#include <fstream>

#include "tests/support/fault_server.h"
#include "tests/support/test_support.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
using SocketLength = int;
static void CloseUdpSocket(intptr_t s) { closesocket(static_cast<SOCKET>(s)); }
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
using SocketLength = socklen_t;
static void CloseUdpSocket(intptr_t s) { close(static_cast<int>(s)); }
#endif

namespace {

// A UDP socket bound to address:port (port 0: the system's choice); -1 when that fails.
intptr_t BindUdp(uint32_t address, uint16_t port)
{
    intptr_t s = static_cast<intptr_t>(socket(AF_INET, SOCK_DGRAM, 0));
    sockaddr_in local = {};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    local.sin_addr.s_addr = htonl(address);
    if (bind(s, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0) {
        CloseUdpSocket(s);
        return -1;
    }
    return s;
}

uint16_t LocalPort(intptr_t s)
{
    sockaddr_in local = {};
    SocketLength length = sizeof local;
    getsockname(s, reinterpret_cast<sockaddr *>(&local), &length);
    return ntohs(local.sin_port);
}

bool WaitReadable(intptr_t s, int ms)
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

void PutBigEndian32(std::string &bytes, size_t at, uint32_t value)
{
    for (int i = 0; i < 4; i++)
        bytes[at + i] = static_cast<char>(value >> (24 - 8 * i));
}

constexpr uint32_t kLoopback = 0x7F000001;
constexpr uint32_t kOtherLoopback = 0x7F000002;

}  // namespace

std::string SntpReply(uint32_t seconds, uint32_t fraction, int leap, int mode, int stratum)
{
    std::string bytes(48, '\0');
    bytes[0] = static_cast<char>((leap << 6) | (4 << 3) | mode);
    bytes[1] = static_cast<char>(stratum);
    PutBigEndian32(bytes, 40, seconds);
    PutBigEndian32(bytes, 44, fraction);
    return bytes;
}

FaultUdpServer::FaultUdpServer(std::vector<UdpReply> replies) : replies_(std::move(replies))
{
    StartTestSockets();
    server_ = BindUdp(kLoopback, 0);
    port_ = LocalPort(server_);
    otherPort_ = BindUdp(kLoopback, 0);
    otherAddress_ = BindUdp(kOtherLoopback, static_cast<uint16_t>(port_));
    thread_ = std::thread([this] { Run(); });
}

FaultUdpServer::~FaultUdpServer()
{
    stop_ = true;
    thread_.join();
    for (intptr_t s : {server_, otherPort_, otherAddress_})
        if (s != -1)
            CloseUdpSocket(s);
}

std::string FaultUdpServer::Request()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return request_;
}

int FaultUdpServer::RequestPort()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return requestPort_;
}

void FaultUdpServer::Run()
{
    while (!stop_ && !WaitReadable(server_, 20)) {
    }
    if (stop_)
        return;
    char buffer[2048];
    sockaddr_in client = {};
    SocketLength length = sizeof client;
    int n = recvfrom(server_, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr *>(&client), &length);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        request_.assign(buffer, n > 0 ? static_cast<size_t>(n) : 0);
        requestPort_ = ntohs(client.sin_port);
    }
    for (const UdpReply &reply : replies_) {
        intptr_t from = reply.source == UdpReply::Server      ? server_
                        : reply.source == UdpReply::OtherPort ? otherPort_
                                                              : otherAddress_;
        sendto(from, reply.bytes.data(), static_cast<int>(reply.bytes.size()), 0,
               reinterpret_cast<sockaddr *>(&client), sizeof client);
        // Datagrams on loopback keep their order; the pause only spreads them out in time.
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

UdpPortHolder::UdpPortHolder(uint16_t port, int waitMs)
{
    StartTestSockets();
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    while ((socket = BindUdp(INADDR_ANY, port)) == -1 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    bound = socket != -1;
}

UdpPortHolder::~UdpPortHolder()
{
    if (bound)
        CloseUdpSocket(socket);
}

int ChronyPort()
{
    std::string root = Environment("POLLWICK_FIXTURES");
#ifdef _WIN32
    root = "Z:" + root;  // the Unix file system as Wine shows it
#endif
    std::ifstream file(root + "/chrony/port");
    int port = 0;
    file >> port;
    return port;
}

std::vector<std::string> ReportLines(const std::string &report)
{
    std::vector<std::string> lines;
    for (size_t at = 0; at < report.size();) {
        size_t end = report.find("\r\n", at);
        size_t next = end == std::string::npos ? report.size() : end + 2;
        lines.push_back(report.substr(at, next - at));
        at = next;
    }
    return lines;
}

int64_t SecondsOf(const ClockTime &t)
{
    // Days from the civil date, counting years from March so that the leap day comes last.
    int64_t y = t.year - (t.month <= 2 ? 1 : 0);
    int64_t era = (y >= 0 ? y : y - 399) / 400;
    int64_t yearOfEra = y - era * 400;
    int64_t dayOfYear = (153 * (t.month + (t.month > 2 ? -3 : 9)) + 2) / 5 + t.day - 1;
    int64_t days = era * 146097 + yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear - 719468;
    return days * 86400 + t.hour * 3600 + t.minute * 60 + t.second;
}
