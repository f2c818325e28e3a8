// The socket loops both sides share: every wait bounded, a send that goes on until all is out, a
// receive that waits out readiness without data.
#include "net/net.h"

#include "net/net_side.h"

int NetTimeoutMs = kDefaultNetTimeoutMs;

int NetConnect(NetSocket socket, uint32_t address, uint16_t port)
{
    // Without blocking, so that a host that never answers costs at most the time-out. The socket
    // stays non-blocking: sends go out at once and wait only when the system would block, and a
    // receive never waits past its bound.
    int result = SideConnect(socket, address, port);
    if (result == kNetAgain) {
        result = SideWait(socket, true, NetTimeoutMs);
        if (result == 1)
            result = SideConnectResult(socket);
    }
    return result;
}

int NetSend(NetSocket socket, const char *data, int length)
{
    uint64_t deadline = NetClockMs() + static_cast<uint64_t>(NetTimeoutMs);
    for (int sent = 0; sent < length;) {
        int n = SideSend(socket, data + sent, length - sent);
        if (n > 0) {
            sent += n;
            continue;
        }
        if (n != kNetAgain)
            return kNetFailed;
        int ready = SideWait(socket, true, NetRemainingMs(deadline));
        if (ready != 1)
            return ready;
    }
    return 0;
}

int NetReceive(NetSocket socket, char *buffer, int capacity, int waitMs)
{
    uint64_t deadline = NetClockMs() + static_cast<uint64_t>(waitMs < 0 ? 0 : waitMs);
    for (;;) {
        int ready = SideWait(socket, false, NetRemainingMs(deadline));
        if (ready != 1)
            return ready;
        int n = SideReceive(socket, buffer, capacity);
        if (n != kNetAgain)
            return n;  // else readiness without data: wait for the rest of the bound
    }
}

int NetReceiveFrom(NetSocket socket, char *buffer, int capacity, int waitMs, uint32_t *address, uint16_t *port)
{
    uint64_t deadline = NetClockMs() + static_cast<uint64_t>(waitMs < 0 ? 0 : waitMs);
    for (;;) {
        int ready = SideWait(socket, false, NetRemainingMs(deadline));
        if (ready != 1)
            return ready;
        int n = SideReceiveFrom(socket, buffer, capacity, address, port);
        if (n != kNetAgain)
            return n;
    }
}
