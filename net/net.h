// The thin socket layer under the POP3 and SNTP exchanges: WinSock on Windows, BSD sockets elsewhere.
// Every wait is bounded: by NetTimeoutMs, or by the wait the caller gives (a receive's).
#pragma once

#include <cstddef>
#include <cstdint>

using NetSocket = intptr_t;
constexpr NetSocket kNoSocket = -1;

enum NetStatus : int {
    kNetFailed = -1,    // the platform reported an error
    kNetTimedOut = -2,  // nothing happened within NetTimeoutMs
    kNetClosed = -3,    // the peer closed (or reset) the connection
};

// Bound of every single wait (connect, send, each receive), in milliseconds.
constexpr int kDefaultNetTimeoutMs = 30000;
extern int NetTimeoutMs;

// Every NetStartup that succeeds is matched by one NetCleanup: the platform counts them, and the
// socket layer is usable while any is held (a name lookup's thread holds one of its own).
bool NetStartup();
void NetCleanup();

// A dotted IPv4 address, read as inet_addr reads it, without any name lookup. False for anything
// else, including 255.255.255.255, which inet_addr cannot tell from an error.
bool NetParseAddress(const char *text, uint32_t *address);

// The first IPv4 address of host, in network byte order: a dotted address at once (as
// NetParseAddress reads it), a name as the resolver gives it, waiting at most waitMs. 0,
// kNetFailed (no such host) or kNetTimedOut. The lookup runs on a thread of its own; one given up
// on finishes there, and while kMaxAbandonedLookups of them are still running, a new lookup is not
// started and ends as timed out at once.
int NetResolve(const char *host, uint32_t *address, int waitMs);
constexpr int kMaxAbandonedLookups = 16;

// host as DNS and certificates know it, into out (size bytes): a name with characters beyond ASCII
// in its IDN form ("xn--..."), made by the platform (IdnToAscii on Windows, where even Windows 7's
// own lookup would not); any other as it is. False when it has no such form or does not fit.
bool NetAsciiHost(const char *host, char *out, size_t size);

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

// size bytes from the system's random source, which nobody on the network can guess; false when
// it cannot give them.
bool NetRandom(void *data, int size);

// Milliseconds left until deadline (a NetClockMs time); 0 once it has passed.
inline int NetRemainingMs(uint64_t deadline)
{
    uint64_t now = NetClockMs();
    return now >= deadline ? 0 : static_cast<int>(deadline - now);
}

// UDP, for the SNTP exchange. Addresses are in network byte order, ports in host order.

NetSocket NetOpenUdp();

// Binds the socket to port on every local address; false when the port is taken.
bool NetBind(NetSocket socket, uint16_t port);

// Sends one datagram: 0, or kNetFailed.
int NetSendTo(NetSocket socket, uint32_t address, uint16_t port, const char *data, int length);

// Waits at most waitMs for one datagram and receives it with its sender's address and port: the
// byte count (0 for an empty datagram), or a NetStatus. A datagram longer than capacity is a
// failure, as WinSock has it, so both sides agree.
int NetReceiveFrom(NetSocket socket, char *buffer, int capacity, int waitMs, uint32_t *address, uint16_t *port);
