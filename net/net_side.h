// What each socket side (WinSock, BSD sockets) gives the loops that both share (net.cpp): a few
// single calls that never wait, and the one wait.
#pragma once

#include "net/net.h"

// A single call that would have to wait; never returned by the public calls.
constexpr int kNetAgain = -4;

// Waits at most waitMs until the socket can be read (or written): 1, or a NetStatus. For a
// connect in progress, readiness to write means it has ended, one way or the other.
int SideWait(NetSocket socket, bool forWrite, int waitMs);
// Makes the socket non-blocking and starts connecting: 0 when connected at once, kNetAgain while
// it goes on, kNetFailed. Once SideWait has seen it end: 0, or kNetFailed when it failed.
int SideConnect(NetSocket socket, uint32_t address, uint16_t port);
int SideConnectResult(NetSocket socket);
// One send: the bytes sent (> 0), kNetAgain, or kNetFailed.
int SideSend(NetSocket socket, const char *data, int length);
// One receive: the bytes (> 0), kNetClosed (ended or reset by the peer), kNetAgain, kNetFailed.
int SideReceive(NetSocket socket, char *buffer, int capacity);
// One datagram and its sender: the bytes (0 for an empty one), kNetAgain, or kNetFailed (also
// for a datagram longer than capacity).
int SideReceiveFrom(NetSocket socket, char *buffer, int capacity, uint32_t *address, uint16_t *port);
