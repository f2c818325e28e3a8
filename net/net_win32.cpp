// Socket layer over WinSock (version 1.1 is all it asks for), and name lookups in UTF-16.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <cstring>

#include "base/wide.h"
#include "net/net.h"
#include "net/net_lookup.h"
#include "net/net_side.h"

namespace {

sockaddr_in Address(uint32_t address, uint16_t port)
{
    sockaddr_in peer = {};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(port);
    peer.sin_addr.s_addr = address;
    return peer;
}

}  // namespace

// For a connect in progress, a failure shows up in the exception set, not the write set.
int SideWait(NetSocket socket, bool forWrite, int waitMs)
{
    SOCKET s = static_cast<SOCKET>(socket);
    fd_set ready, failed;
    FD_ZERO(&ready);
    FD_ZERO(&failed);
    FD_SET(s, &ready);
    FD_SET(s, &failed);
    timeval limit = {waitMs / 1000, (waitMs % 1000) * 1000};
    int n = select(0, forWrite ? nullptr : &ready, forWrite ? &ready : nullptr, &failed, &limit);
    if (n == SOCKET_ERROR)
        return kNetFailed;
    if (n == 0)
        return kNetTimedOut;
    return FD_ISSET(s, &failed) ? kNetFailed : 1;
}

bool NetStartup()
{
    WSADATA data;
    return WSAStartup(0x0101, &data) == 0;
}

void NetCleanup() { WSACleanup(); }

namespace {

// A name lookup runs on a thread of its own, so that the wait for it can end.
SRWLOCK lookupLock = SRWLOCK_INIT;
CONDITION_VARIABLE lookupDone = CONDITION_VARIABLE_INIT;

DWORD WINAPI RunLookup(void *data)
{
    auto *lookup = static_cast<Lookup *>(data);
    // An ASCII name (NetAsciiHost has made any other one so), in UTF-16 as the function takes it.
    wchar_t name[sizeof lookup->host];
    ToWide(lookup->host, name, sizeof lookup->host);
    ADDRINFOW hints = {};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    ADDRINFOW *result = nullptr;
    bool found = GetAddrInfoW(name, nullptr, &hints, &result) == 0 && result != nullptr;
    uint32_t address = found ? reinterpret_cast<const sockaddr_in *>(result->ai_addr)->sin_addr.s_addr : 0;
    if (result != nullptr)
        FreeAddrInfoW(result);
    AcquireSRWLockExclusive(&lookupLock);
    FinishLookup(lookup, found, address);
    WakeAllConditionVariable(&lookupDone);
    ReleaseSRWLockExclusive(&lookupLock);
    NetCleanup();  // the start ResolveOnThread took for this thread
    return 0;
}

}  // namespace

bool ToIdnForm(const char *host, char *out, size_t size)
{
    wchar_t name[256], ascii[256];
    ToWide(host, name, 256);
    return IdnToAscii(0, name, -1, ascii, 256) > 0 && ToCodePage(ascii, out, size) == Narrowed::Whole;
}

int ResolveOnThread(const char *host, uint32_t *address, int waitMs)
{
    AcquireSRWLockExclusive(&lookupLock);
    Lookup *lookup = ClaimLookup(host);
    int status = kNetTimedOut;  // too many lookups given up on are still hanging
    if (lookup != nullptr) {
        // The thread holds a start of WinSock of its own, taken before it exists: a lookup given
        // up on may still be inside GetAddrInfoW long after its caller has released its start,
        // and WinSock must not be cleaned up under it.
        bool started = NetStartup();
        HANDLE thread = started ? CreateThread(nullptr, 0, RunLookup, lookup, 0, nullptr) : nullptr;
        if (thread == nullptr) {
            FinishLookup(lookup, false, 0);
            if (started)
                NetCleanup();
        } else {
            CloseHandle(thread);  // the thread runs on; nobody waits for the handle
        }
        uint64_t deadline = NetClockMs() + static_cast<uint64_t>(waitMs);
        while (LookupRunning(lookup) && NetRemainingMs(deadline) > 0)
            SleepConditionVariableSRW(&lookupDone, &lookupLock, static_cast<DWORD>(NetRemainingMs(deadline)), 0);
        status = CollectLookup(lookup, address);
    }
    ReleaseSRWLockExclusive(&lookupLock);
    return status;
}

NetSocket NetOpenTcp()
{
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    return s == INVALID_SOCKET ? kNoSocket : static_cast<NetSocket>(s);
}

void NetClose(NetSocket socket) { closesocket(static_cast<SOCKET>(socket)); }

int SideConnect(NetSocket socket, uint32_t address, uint16_t port)
{
    SOCKET s = static_cast<SOCKET>(socket);
    u_long nonBlocking = 1;
    ioctlsocket(s, FIONBIO, &nonBlocking);
    sockaddr_in peer = Address(address, port);
    if (connect(s, reinterpret_cast<sockaddr *>(&peer), sizeof peer) == 0)
        return 0;
    return WSAGetLastError() == WSAEWOULDBLOCK ? kNetAgain : kNetFailed;
}

int SideConnectResult(NetSocket) { return 0; }  // SideWait has seen a failure already

int SideSend(NetSocket socket, const char *data, int length)
{
    int n = send(static_cast<SOCKET>(socket), data, length, 0);
    return n > 0 ? n : n == 0 || WSAGetLastError() != WSAEWOULDBLOCK ? kNetFailed : kNetAgain;
}

int SideReceive(NetSocket socket, char *buffer, int capacity)
{
    int n = recv(static_cast<SOCKET>(socket), buffer, capacity, 0);
    if (n > 0)
        return n;
    if (n == 0 || WSAGetLastError() == WSAECONNRESET)
        return kNetClosed;  // ended, or the peer hung up with our command unread
    return WSAGetLastError() == WSAEWOULDBLOCK ? kNetAgain : kNetFailed;
}

uint64_t NetClockMs() { return GetTickCount64(); }

// RtlGenRandom, exported by advapi32 under this name: the system's own generator, without the
// cryptographic provider's set-up.
extern "C" BOOLEAN WINAPI SystemFunction036(PVOID buffer, ULONG length);

bool NetRandom(void *data, int size) { return SystemFunction036(data, static_cast<ULONG>(size)) != FALSE; }

NetSocket NetOpenUdp()
{
    SOCKET s = socket(AF_INET, SOCK_DGRAM, 0);
    return s == INVALID_SOCKET ? kNoSocket : static_cast<NetSocket>(s);
}

bool NetBind(NetSocket socket, uint16_t port)
{
    sockaddr_in local = Address(htonl(INADDR_ANY), port);
    return bind(static_cast<SOCKET>(socket), reinterpret_cast<sockaddr *>(&local), sizeof local) == 0;
}

bool NetParseAddress(const char *text, uint32_t *address)
{
    unsigned long parsed = inet_addr(text);
    if (parsed == INADDR_NONE)
        return false;
    *address = static_cast<uint32_t>(parsed);
    return true;
}

int NetSendTo(NetSocket socket, uint32_t address, uint16_t port, const char *data, int length)
{
    sockaddr_in peer = Address(address, port);
    int n = sendto(static_cast<SOCKET>(socket), data, length, 0, reinterpret_cast<sockaddr *>(&peer), sizeof peer);
    return n == length ? 0 : kNetFailed;
}

int SideReceiveFrom(NetSocket socket, char *buffer, int capacity, uint32_t *address, uint16_t *port)
{
    sockaddr_in from = {};
    int fromLength = sizeof from;
    // A datagram longer than the buffer fails here with WSAEMSGSIZE.
    int n = recvfrom(static_cast<SOCKET>(socket), buffer, capacity, 0, reinterpret_cast<sockaddr *>(&from), &fromLength);
    if (n == SOCKET_ERROR)
        return kNetFailed;
    *address = from.sin_addr.s_addr;
    *port = ntohs(from.sin_port);
    return n;
}
