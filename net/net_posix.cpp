// Socket layer over BSD sockets, for the native build and its tests.
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <sys/random.h>
#include <time.h>
#include <sys/socket.h>
#include <unistd.h>

#include "base/text.h"
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

// The result of one call that may have been interrupted or would have had to wait.
int Again(int failure) { return errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK ? kNetAgain : failure; }

}  // namespace

int SideWait(NetSocket socket, bool forWrite, int waitMs)
{
    pollfd entry = {static_cast<int>(socket), static_cast<short>(forWrite ? POLLOUT : POLLIN), 0};
    int ready;
    do {
        ready = poll(&entry, 1, waitMs);
    } while (ready < 0 && errno == EINTR);
    if (ready < 0)
        return kNetFailed;
    return ready == 0 ? kNetTimedOut : 1;
}

bool NetStartup() { return true; }
void NetCleanup() {}

namespace {

// A name lookup runs on a thread of its own, so that the wait for it can end.
pthread_mutex_t lookupLock = PTHREAD_MUTEX_INITIALIZER;
pthread_cond_t lookupDone;
pthread_once_t lookupInit = PTHREAD_ONCE_INIT;

void InitLookups()
{
    // Deadlines on the monotonic clock: setting the wall clock must not stretch or cut a wait.
    pthread_condattr_t attributes;
    pthread_condattr_init(&attributes);
    pthread_condattr_setclock(&attributes, CLOCK_MONOTONIC);
    pthread_cond_init(&lookupDone, &attributes);
}

void *RunLookup(void *data)
{
    auto *lookup = static_cast<Lookup *>(data);
    addrinfo hints = {};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *result = nullptr;
    bool found = getaddrinfo(lookup->host, nullptr, &hints, &result) == 0 && result != nullptr;
    uint32_t address = found ? reinterpret_cast<sockaddr_in *>(result->ai_addr)->sin_addr.s_addr : 0;
    if (result != nullptr)
        freeaddrinfo(result);
    pthread_mutex_lock(&lookupLock);
    FinishLookup(lookup, found, address);
    pthread_cond_broadcast(&lookupDone);
    pthread_mutex_unlock(&lookupLock);
    return nullptr;
}

}  // namespace

// The native build leaves such a name to the resolver as it is.
bool ToIdnForm(const char *host, char *out, size_t size) { return CopyText(out, size, host); }

int ResolveOnThread(const char *host, uint32_t *address, int waitMs)
{
    pthread_once(&lookupInit, InitLookups);
    pthread_mutex_lock(&lookupLock);
    Lookup *lookup = ClaimLookup(host);
    int status = kNetTimedOut;  // too many lookups given up on are still hanging
    if (lookup != nullptr) {
        pthread_attr_t attributes;
        pthread_attr_init(&attributes);
        pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
        pthread_t thread;
        if (pthread_create(&thread, &attributes, RunLookup, lookup) != 0)
            FinishLookup(lookup, false, 0);
        timespec deadline;
        clock_gettime(CLOCK_MONOTONIC, &deadline);
        deadline.tv_sec += waitMs / 1000;
        deadline.tv_nsec += (waitMs % 1000) * 1000000L;
        if (deadline.tv_nsec >= 1000000000L) {
            deadline.tv_sec++;
            deadline.tv_nsec -= 1000000000L;
        }
        while (LookupRunning(lookup) && pthread_cond_timedwait(&lookupDone, &lookupLock, &deadline) != ETIMEDOUT) {
        }
        status = CollectLookup(lookup, address);
    }
    pthread_mutex_unlock(&lookupLock);
    return status;
}

NetSocket NetOpenTcp()
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    return fd < 0 ? kNoSocket : fd;
}

void NetClose(NetSocket socket) { close(static_cast<int>(socket)); }

int SideConnect(NetSocket socket, uint32_t address, uint16_t port)
{
    int fd = static_cast<int>(socket);
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    sockaddr_in peer = Address(address, port);
    if (connect(fd, reinterpret_cast<sockaddr *>(&peer), sizeof peer) == 0)
        return 0;
    return errno == EINPROGRESS ? kNetAgain : kNetFailed;
}

int SideConnectResult(NetSocket socket)
{
    int error = 0;
    socklen_t length = sizeof error;
    getsockopt(static_cast<int>(socket), SOL_SOCKET, SO_ERROR, &error, &length);
    return error == 0 ? 0 : kNetFailed;
}

int SideSend(NetSocket socket, const char *data, int length)
{
    ssize_t n = send(static_cast<int>(socket), data, static_cast<size_t>(length), MSG_NOSIGNAL);
    return n > 0 ? static_cast<int>(n) : n == 0 ? kNetFailed : Again(kNetFailed);
}

int SideReceive(NetSocket socket, char *buffer, int capacity)
{
    ssize_t n = recv(static_cast<int>(socket), buffer, static_cast<size_t>(capacity), 0);
    if (n < 0 && errno == ECONNRESET)
        return kNetClosed;  // the peer hung up with our command unread
    return n > 0 ? static_cast<int>(n) : n == 0 ? kNetClosed : Again(kNetFailed);
}

uint64_t NetClockMs()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000 + static_cast<uint64_t>(now.tv_nsec) / 1000000;
}

bool NetRandom(void *data, int size)
{
    return getrandom(data, static_cast<size_t>(size), 0) == size;
}

NetSocket NetOpenUdp()
{
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    return fd < 0 ? kNoSocket : fd;
}

bool NetBind(NetSocket socket, uint16_t port)
{
    sockaddr_in local = Address(htonl(INADDR_ANY), port);
    return bind(static_cast<int>(socket), reinterpret_cast<sockaddr *>(&local), sizeof local) == 0;
}

bool NetParseAddress(const char *text, uint32_t *address)
{
    in_addr_t parsed = inet_addr(text);
    if (parsed == INADDR_NONE)
        return false;
    *address = parsed;
    return true;
}

int NetSendTo(NetSocket socket, uint32_t address, uint16_t port, const char *data, int length)
{
    sockaddr_in peer = Address(address, port);
    ssize_t n;
    do {
        n = sendto(static_cast<int>(socket), data, static_cast<size_t>(length), 0,
                   reinterpret_cast<sockaddr *>(&peer), sizeof peer);
    } while (n < 0 && errno == EINTR);
    return n == length ? 0 : kNetFailed;
}

int SideReceiveFrom(NetSocket socket, char *buffer, int capacity, uint32_t *address, uint16_t *port)
{
    sockaddr_in from = {};
    socklen_t fromLength = sizeof from;
    // MSG_TRUNC makes the count the datagram's full length, so a cut one can be told.
    ssize_t n = recvfrom(static_cast<int>(socket), buffer, static_cast<size_t>(capacity), MSG_TRUNC | MSG_DONTWAIT,
                         reinterpret_cast<sockaddr *>(&from), &fromLength);
    if (n < 0)
        return Again(kNetFailed);
    if (n > capacity)
        return kNetFailed;
    *address = from.sin_addr.s_addr;
    *port = ntohs(from.sin_port);
    return static_cast<int>(n);
}
