// The socket layer replaced at link time by the in-memory peer of net_memory.h.
#include "fuzz/net_memory.h"

#include <cstring>

#include "net/net.h"
#include "net/net_lookup.h"

MemoryPeer Peer;
int NetTimeoutMs = kDefaultNetTimeoutMs;

void LoadPeer(const uint8_t *data, size_t size)
{
    Peer = MemoryPeer();
    size_t at = 0;
    while (at < size) {
        uint8_t length = data[at++];
        if (length == 0 || length == 255) {
            Peer.segments.push_back({"", length == 0 ? kNetTimedOut : kNetClosed});
            continue;
        }
        size_t take = length < size - at ? length : size - at;
        Peer.segments.push_back({std::string(reinterpret_cast<const char *>(data + at), take), 0});
        at += take;
    }
}

bool NetStartup() { return true; }
void NetCleanup() {}

int ResolveOnThread(const char *, uint32_t *address, int)
{
    *address = 0x0100007F;
    return 0;
}

NetSocket NetOpenTcp() { return 3; }
void NetClose(NetSocket) {}
int NetConnect(NetSocket, uint32_t, uint16_t) { return Peer.connectFails ? kNetFailed : 0; }

int NetSend(NetSocket, const char *data, int length)
{
    if (static_cast<int>(Peer.sent.size()) == Peer.failSendAt)
        return kNetFailed;
    Peer.sent.emplace_back(data, static_cast<size_t>(length));
    return 0;
}

int NetReceive(NetSocket, char *buffer, int capacity, int)
{
    if (Peer.next >= Peer.segments.size())
        return kNetClosed;
    MemoryPeer::Segment &segment = Peer.segments[Peer.next];
    if (segment.data.empty()) {
        Peer.next++;
        return segment.status;
    }
    // A segment longer than the caller's buffer is handed over in parts, as a socket would.
    int take = static_cast<int>(segment.data.size()) < capacity ? static_cast<int>(segment.data.size()) : capacity;
    memcpy(buffer, segment.data.data(), static_cast<size_t>(take));
    segment.data.erase(0, static_cast<size_t>(take));
    if (segment.data.empty())
        Peer.next++;
    return take;
}

// Time stands still: every wait ends by the peer's word, never by the clock.
uint64_t NetClockMs() { return 1000; }

bool NetRandom(void *data, int size)
{
    memset(data, 0x5A, static_cast<size_t>(size));
    return true;
}

NetSocket NetOpenUdp() { return kNoSocket; }
bool NetBind(NetSocket, uint16_t) { return false; }
bool NetParseAddress(const char *, uint32_t *) { return false; }
int NetSendTo(NetSocket, uint32_t, uint16_t, const char *, int) { return kNetFailed; }
int NetReceiveFrom(NetSocket, char *, int, int, uint32_t *, uint16_t *) { return kNetFailed; }
