// The socket layer replaced at link time by the in-memory peer of net_memory.h.
#include "fuzz/net_memory.h"

#include <algorithm>
#include <cstring>

#include "net/net.h"
#include "net/net_lookup.h"

MemoryPeer Peer;
int NetTimeoutMs = kDefaultNetTimeoutMs;

void LoadPeer(const uint8_t *data, size_t size)
{
    Peer = MemoryPeer();
    for (size_t at = 0; at < size;) {
        uint8_t length = data[at++];
        size_t take = length == 0 || length == 255 ? 0 : std::min<size_t>(length, size - at);
        Peer.pieces.emplace_back(std::string(reinterpret_cast<const char *>(data + at), take),
                                 length == 0 ? kNetTimedOut : length == 255 ? kNetClosed : 0);
        at += take;
    }
}

bool NetStartup() { return true; }
void NetCleanup() {}
bool NetParseAddress(const char *, uint32_t *) { return false; }
NetSocket NetOpenTcp() { return 3; }
void NetClose(NetSocket) {}
int NetConnect(NetSocket, uint32_t, uint16_t) { return Peer.connectFails ? kNetFailed : 0; }
uint64_t NetClockMs() { return 1000; }  // time stands still: every wait ends by the peer's word

int ResolveOnThread(const char *, uint32_t *address, int)
{
    *address = 0x0100007F;
    return 0;
}

bool NetRandom(void *data, int size)
{
    memset(data, 0x5A, static_cast<size_t>(size));
    return true;
}

int NetSend(NetSocket, const char *data, int length)
{
    if (static_cast<int>(Peer.sent.size()) == Peer.failSendAt)
        return kNetFailed;
    Peer.sent.emplace_back(data, static_cast<size_t>(length));
    return 0;
}

int NetReceive(NetSocket, char *buffer, int capacity, int)
{
    if (Peer.next >= Peer.pieces.size())
        return kNetClosed;
    // A piece longer than the caller's buffer is handed over in parts, as a socket would.
    auto &[data, status] = Peer.pieces[Peer.next];
    size_t take = std::min(data.size(), static_cast<size_t>(capacity));
    memcpy(buffer, data.data(), take);
    data.erase(0, take);
    Peer.next += data.empty() ? 1 : 0;
    return take > 0 ? static_cast<int>(take) : status;
}
