// TLS under the POP3 text, with the platform's own TLS: SChannel on Windows. Where the platform
// offers none, every start fails with its own error line. One channel at a time.
#pragma once

#include "net/net.h"

// Runs the client handshake with host over the connected socket (sending host as the server
// name), then checks the server's certificate against the system's trust store and host. Logs a
// line naming the protocol and cipher on success, one "Error: " line naming the cause on failure.
bool TlsStart(NetSocket socket, const char *host);
// After a TlsStart that failed: true when the network failed it (the connection lost, silent or
// broken during the handshake), not the server's certificate or the protocol.
bool TlsFailedOnNetwork();

// As NetSend and NetReceive, through the channel.
int TlsSend(const char *data, int length);
int TlsReceive(char *buffer, int capacity, int waitMs);

// Lets go of the channel; harmless when none was started.
void TlsEnd();
