// The SChannel side of TLS, for the code that chooses how the credential is asked for, and its test.
#pragma once

#include "mail/tls.h"

// How the client's credential is asked of SChannel: the form (the version of the structure handed
// over) and the protocols offered. TlsStart tries kTlsCredentialForms in order until the system
// accepts one: the current form with TLS 1.3 and 1.2, then the older form that systems before it
// know, naming TLS 1.2 and below.
struct TlsCredentialForm {
    unsigned long version;
    unsigned long protocols;  // SChannel's client protocol bits
};
extern const TlsCredentialForm kTlsCredentialForms[2];
// As TlsStart, trying forms[0] to forms[count - 1].
bool TlsStartWith(NetSocket socket, const char *host, const TlsCredentialForm *forms, int count);
