// The thin socket layer under the POP3 and SNTP exchanges: WinSock on Windows, BSD sockets elsewhere.
// Every wait is bounded by NetTimeoutMs.
#pragma once

#include <cstdint>

using NetSocket = intptr_t;
constexpr NetSocket kNoSocket = -1;

enum NetStatus : int {
    kNetFailed = -1,    // the platform reported an error
    kNetTimedOut = -2,  // nothing happened within NetTimeoutMs
    kNetClosed = -3,    // the peer closed the connection
};

// Bound of every single wait (connect, send, each receive), in milliseconds.
constexpr int kDefaultNetTimeoutMs = 30000;
extern int NetTimeoutMs;

bool NetStartup();
void NetCleanup();

// The first IPv4 address of host, in network byte order, as the resolver gives it.
bool NetResolve(const char *host, uint32_t *address);

NetSocket NetOpenTcp();
void NetClose(NetSocket socket);

// 0 once connected, else a NetStatus.
int NetConnect(NetSocket socket, uint32_t address, uint16_t port);

// Sends all length bytes: 0, or a NetStatus.
int NetSend(NetSocket socket, const char *data, int length);

// Waits at most waitMs for data and receives up to capacity bytes: the byte count (> 0), or a
// NetStatus.
int NetReceive(NetSocket socket, char *buffer, int capacity, int waitMs);

// A millisecond clock for deadlines; it never goes back, whatever happens to the wall clock.
uint64_t NetClockMs();
