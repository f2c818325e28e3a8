// TLS where the platform has none to offer: the check ends, never falling back to plain text.
#include "mail/tls.h"

#include "base/log.h"

bool TlsStart(NetSocket, const char *)
{
    AppendLog(kSystem, "Error: この環境ではTLS（暗号化通信）を使えません\r\n");
    return false;
}

bool TlsFailedOnNetwork() { return false; }
int TlsSend(const char *, int) { return kNetFailed; }
int TlsReceive(char *, int, int) { return kNetFailed; }
void TlsEnd() {}
