// TLS through SChannel (SSPI), which ships with Windows. The certificate is checked by us, with
// the system's chain engine and its SSL policy, so that the same rules hold wherever SChannel
// comes from: a trusted chain, valid dates, not revoked, and a name that matches the server's.
#define SECURITY_WIN32
#define SCHANNEL_USE_BLACKLISTS           // SCH_CREDENTIALS and TLS_PARAMETERS
#define CERT_CHAIN_PARA_HAS_EXTRA_FIELDS  // the chain's retrieval time-out
#include <windows.h>
#include <subauth.h>
#include <security.h>
#include <schannel.h>
#include <wincrypt.h>

#include <cstring>

#include "mail/tls_schannel.h"
#include "base/log.h"
#include "base/text.h"
#include "base/wide.h"

namespace {

// A whole record with its header and trailer fits, with room to spare.
constexpr int kRecordRoom = 16384 + 2048 + 512;

struct Channel {
    NetSocket socket;
    wchar_t host[256];  // the server's name, asked for again when the server starts a new handshake
    bool haveCredentials;
    bool haveContext;
    CredHandle credentials;
    CtxtHandle context;
    SecPkgContext_StreamSizes sizes;
    char incoming[2 * kRecordRoom];  // bytes received and not yet taken by SChannel
    int incomingLength;
    char plain[kRecordRoom];         // decrypted bytes not yet handed out
    int plainStart;
    int plainEnd;
    char outgoing[kRecordRoom];
};

Channel channel;
// The last handshake ended because the network failed it.
bool handshakeNetworkFailed;

// At most this long for the revocation lists of one certificate chain, all told: a list server
// that does not answer costs a check a few seconds, never its whole time-out.
constexpr DWORD kRevocationWaitMs = 5000;

constexpr DWORD kContextFlags = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                                ISC_REQ_EXTENDED_ERROR | ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM;

void LogError(const char *format, unsigned long code)
{
    char line[160];
    FormatText(line, sizeof line, format, code);
    AppendLog(kSystem, line);
}

// Sends a token SChannel made and gives its memory back.
bool SendToken(SecBuffer *token)
{
    bool sent = true;
    if (token->pvBuffer != nullptr && token->cbBuffer > 0)
        sent = NetSend(channel.socket, static_cast<const char *>(token->pvBuffer),
                       static_cast<int>(token->cbBuffer)) == 0;
    if (token->pvBuffer != nullptr)
        FreeContextBuffer(token->pvBuffer);
    token->pvBuffer = nullptr;
    return sent;
}

// More bytes from the socket behind what is waiting: the count, or a NetStatus.
int ReceiveMore(uint64_t deadline)
{
    int room = static_cast<int>(sizeof channel.incoming) - channel.incomingLength;
    if (room <= 0)
        return kNetFailed;
    int wait = NetRemainingMs(deadline);
    if (wait == 0)
        return kNetTimedOut;
    int received = NetReceive(channel.socket, channel.incoming + channel.incomingLength, room, wait);
    if (received > 0)
        channel.incomingLength += received;
    return received;
}

// Keeps what SChannel left over (the start of the next record) at the front of the buffer.
void KeepExtra(const SecBuffer &extra)
{
    if (extra.BufferType == SECBUFFER_EXTRA && extra.cbBuffer > 0) {
        memmove(channel.incoming, channel.incoming + channel.incomingLength - extra.cbBuffer, extra.cbBuffer);
        channel.incomingLength = static_cast<int>(extra.cbBuffer);
    } else {
        channel.incomingLength = 0;
    }
}

// The handshake from the first token on, or again when the server sends a message of the handshake
// after it ended (a TLS 1.3 ticket or key update, a request to negotiate anew): then SChannel gets
// what is waiting at once, before anything is read. A failure is logged here.
bool Negotiate(bool first)
{
    uint64_t deadline = NetClockMs() + static_cast<uint64_t>(NetTimeoutMs);
    SECURITY_STATUS status = SEC_I_CONTINUE_NEEDED;
    bool needInput = false;
    bool withoutCertificate = false;
    for (;;) {
        if (needInput) {
            int received = ReceiveMore(deadline);
            if (received <= 0) {
                handshakeNetworkFailed = true;
                if (received == kNetTimedOut)
                    AppendLog(kSystem, "Error: TLSのハンドシェイク中にタイムアウトしました\r\n");
                else if (received == kNetClosed)
                    AppendLog(kSystem, "Error: TLSのハンドシェイク中にサーバーが接続を切断しました\r\n");
                else
                    AppendLog(kSystem, "Error: TLSのハンドシェイク中に通信に失敗しました\r\n");
                return false;
            }
            // A record starts with its content type (20 to 23) and the major version 3. Anything
            // else (a line of plain text, say) is no TLS peer: SChannel would take it for the header
            // of a record thousands of bytes long and wait for the rest until the time-out.
            const unsigned char *record = reinterpret_cast<const unsigned char *>(channel.incoming);
            if (record[0] < 20 || record[0] > 23 || (channel.incomingLength > 1 && record[1] != 3)) {
                LogError("Error: TLSのハンドシェイクに失敗しました（0x%08lX）\r\n",
                         static_cast<unsigned long>(SEC_E_ILLEGAL_MESSAGE));
                return false;
            }
        }
        SecBuffer input[2] = {{static_cast<unsigned long>(channel.incomingLength), SECBUFFER_TOKEN, channel.incoming},
                              {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc inputDesc = {SECBUFFER_VERSION, 2, input};
        SecBuffer output[1] = {{0, SECBUFFER_TOKEN, nullptr}};
        SecBufferDesc outputDesc = {SECBUFFER_VERSION, 1, output};
        unsigned long attributes = 0;
        status = InitializeSecurityContextW(&channel.credentials, first ? nullptr : &channel.context, channel.host,
                                            kContextFlags, 0, 0, first ? nullptr : &inputDesc, 0,
                                            &channel.context, &outputDesc, &attributes, nullptr);
        if (first)
            channel.haveContext = status == SEC_I_CONTINUE_NEEDED || status == SEC_E_OK;
        first = false;
        // A failure may come with an alert for the server: it goes out before we stop.
        if (!SendToken(&output[0]) && !FAILED(status)) {
            handshakeNetworkFailed = true;
            AppendLog(kSystem, "Error: TLSのハンドシェイク中に通信に失敗しました\r\n");
            return false;
        }
        if (status == SEC_E_INCOMPLETE_MESSAGE) {
            needInput = true;
            continue;
        }
        // The server asks for a client certificate; we have none to show. Asked again with the
        // same input, SChannel goes on without one. Reading instead would wait for the server,
        // which waits for us, until the time-out.
        if (status == SEC_I_INCOMPLETE_CREDENTIALS && !withoutCertificate) {
            withoutCertificate = true;
            needInput = false;
            continue;
        }
        if (FAILED(status) || status == SEC_I_INCOMPLETE_CREDENTIALS) {
            LogError("Error: TLSのハンドシェイクに失敗しました（0x%08lX）\r\n", static_cast<unsigned long>(status));
            return false;
        }
        KeepExtra(input[1]);
        if (status == SEC_E_OK)
            return true;
        // SEC_I_CONTINUE_NEEDED. Bytes left over are the next message already.
        needInput = channel.incomingLength == 0;
    }
}

// The server's certificate against the trust store and the host name; 0 when it holds.
DWORD CheckCertificate()
{
    PCCERT_CONTEXT certificate = nullptr;
    if (QueryContextAttributesW(&channel.context, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &certificate) != SEC_E_OK ||
        certificate == nullptr)
        return static_cast<DWORD>(SEC_E_CERT_UNKNOWN);
    char serverAuth[] = szOID_PKIX_KP_SERVER_AUTH;
    LPSTR usages[] = {serverAuth};
    CERT_CHAIN_PARA chainPara = {};
    chainPara.cbSize = sizeof chainPara;
    chainPara.RequestedUsage.dwType = USAGE_MATCH_TYPE_OR;
    chainPara.RequestedUsage.Usage.cUsageIdentifier = 1;
    chainPara.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
    // The revocation lists of the server's certificate and of every authority above it but the
    // root, fetched within this time for the whole chain: one that cannot be had by then counts
    // as offline, which (as "unknown") does not refuse the certificate. Only "revoked" does.
    chainPara.dwUrlRetrievalTimeout = kRevocationWaitMs;
    DWORD chainFlags = CERT_CHAIN_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT | CERT_CHAIN_REVOCATION_ACCUMULATIVE_TIMEOUT;
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    DWORD result = 0;
    if (!CertGetCertificateChain(nullptr, certificate, nullptr, certificate->hCertStore, &chainPara, chainFlags,
                                 nullptr, &chain)) {
        result = GetLastError();
    } else if (DWORD status = chain->TrustStatus.dwErrorStatus &
                              ~(CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION)) {
        // The chain's own verdict comes first: the SSL policy check may pass a chain that stops
        // short of any root (a certificate sent without its issuer), and so may not be trusted.
        if (status & CERT_TRUST_IS_NOT_TIME_VALID)
            result = static_cast<DWORD>(CERT_E_EXPIRED);
        else if (status & CERT_TRUST_IS_REVOKED)
            result = static_cast<DWORD>(CRYPT_E_REVOKED);
        else if (status & CERT_TRUST_IS_NOT_VALID_FOR_USAGE)
            result = static_cast<DWORD>(CERT_E_WRONG_USAGE);
        else
            result = static_cast<DWORD>(CERT_E_UNTRUSTEDROOT);  // partial chain, unknown root, bad signature
        CertFreeCertificateChain(chain);
    } else {
        HTTPSPolicyCallbackData https = {};
        https.cbStruct = sizeof https;
        https.dwAuthType = AUTHTYPE_SERVER;
        https.pwszServerName = channel.host;
        CERT_CHAIN_POLICY_PARA policy = {};
        policy.cbSize = sizeof policy;
        // Revocation was judged above, from the chain's own status: "unknown" must not refuse
        // here. Windows reads the policy's flags, Wine the SSL checks (as wininet's flag).
        policy.dwFlags = CERT_CHAIN_POLICY_IGNORE_ALL_REV_UNKNOWN_FLAGS;
        https.fdwChecks = 0x00000080;  // SECURITY_FLAG_IGNORE_REVOCATION
        policy.pvExtraPolicyPara = &https;
        CERT_CHAIN_POLICY_STATUS verdict = {};
        verdict.cbSize = sizeof verdict;
        if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &verdict))
            result = GetLastError();
        else
            result = verdict.dwError;
        CertFreeCertificateChain(chain);
    }
    CertFreeCertificateContext(certificate);
    return result;
}

void LogCertificateError(DWORD error)
{
    switch (static_cast<HRESULT>(error)) {
    case CERT_E_UNTRUSTEDROOT:
    case CERT_E_CHAINING:
    case TRUST_E_CERT_SIGNATURE:
        AppendLog(kSystem, "Error: サーバーの証明書の発行元を信頼できません\r\n");
        break;
    case CERT_E_CN_NO_MATCH:
        AppendLog(kSystem, "Error: サーバーの証明書の名前が「POP3サーバ名」と一致しません\r\n");
        break;
    case CERT_E_EXPIRED:
        AppendLog(kSystem, "Error: サーバーの証明書が有効期間外です（期限切れか、PCの時計がずれています）\r\n");
        break;
    case CRYPT_E_REVOKED:
        AppendLog(kSystem, "Error: サーバーの証明書は失効しています\r\n");
        break;
    case CERT_E_WRONG_USAGE:
        AppendLog(kSystem, "Error: サーバーの証明書がサーバー認証用ではありません\r\n");
        break;
    default: LogError("Error: サーバーの証明書を確認できません（0x%08lX）\r\n", error); break;
    }
}

const char *ProtocolName(DWORD protocol)
{
    if (protocol & SP_PROT_TLS1_3_CLIENT)
        return "TLS 1.3";
    if (protocol & SP_PROT_TLS1_2_CLIENT)
        return "TLS 1.2";
    if (protocol & SP_PROT_TLS1_1_CLIENT)
        return "TLS 1.1";
    if (protocol & SP_PROT_TLS1_0_CLIENT)
        return "TLS 1.0";
    return "SSL";
}

const char *AlgorithmName(ALG_ID algorithm)
{
    switch (algorithm) {
    case CALG_AES_128: return "AES";
    case CALG_AES_256: return "AES";
    case CALG_3DES: return "3DES";
    case CALG_RC4: return "RC4";
    case CALG_SHA1: return "SHA1";
    case CALG_SHA_256: return "SHA256";
    case CALG_SHA_384: return "SHA384";
    case CALG_SHA_512: return "SHA512";
    case CALG_MD5: return "MD5";
    default: return "?";
    }
}

// "[system] TLS 1.2 で暗号化しました（TLS_ECDHE_RSA_WITH_AES_256_GCM_SHA384）": the suite's name
// where the platform tells it, else the bulk cipher, its strength and the hash.
void LogConnection()
{
    SecPkgContext_ConnectionInfo info = {};
    QueryContextAttributesW(&channel.context, SECPKG_ATTR_CONNECTION_INFO, &info);
    char line[200];
    SecPkgContext_CipherInfo suite = {};
    suite.dwVersion = SECPKGCONTEXT_CIPHERINFO_V1;
    bool known = false;
    if (QueryContextAttributesW(&channel.context, SECPKG_ATTR_CIPHER_INFO, &suite) == SEC_E_OK &&
        suite.szCipherSuite[0] != L'\0') {
        char name[80];
        ToCodePage(suite.szCipherSuite, name, sizeof name);
        known = name[0] != '\0' && strchr(name, '<') == nullptr;  // Wine may leave a part unnamed
        if (known)
            FormatText(line, sizeof line, "%s で暗号化しました（%s）\r\n", ProtocolName(info.dwProtocol), name);
    }
    if (!known) {
        FormatText(line, sizeof line, "%s で暗号化しました（%s %lu bit, %s）\r\n", ProtocolName(info.dwProtocol),
                   AlgorithmName(info.aiCipher), static_cast<unsigned long>(info.dwCipherStrength),
                   AlgorithmName(info.aiHash));
    }
    AppendLog(kSystem, line);
}

// The client's credential in the first of the forms that the system accepts. A system that does
// not know a form refuses it, with a code that differs between versions: any refusal moves on to
// the next form, and the last one's is logged.
bool AcquireCredentials(const TlsCredentialForm *forms, int count)
{
    SECURITY_STATUS status = SEC_E_UNSUPPORTED_FUNCTION;
    for (int i = 0; i < count && status != SEC_E_OK; i++) {
        // We check the certificate ourselves, right after the handshake and before any word of
        // the session; the ciphers are taken as the system sets them.
        DWORD flags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;
        TLS_PARAMETERS limits = {};
        limits.grbitDisabledProtocols = ~static_cast<DWORD>(forms[i].protocols);  // it names what it does not want
        SCH_CREDENTIALS current = {};
        current.dwVersion = forms[i].version;
        current.dwFlags = flags;
        current.cTlsParameters = 1;
        current.pTlsParameters = &limits;
        SCHANNEL_CRED older = {};
        older.dwVersion = forms[i].version;
        older.dwFlags = flags;
        older.grbitEnabledProtocols = forms[i].protocols;
        void *wanted = forms[i].version == SCH_CREDENTIALS_VERSION ? static_cast<void *>(&current) : &older;
        wchar_t package[] = UNISP_NAME_W;
        TimeStamp expiry;
        status = AcquireCredentialsHandleW(nullptr, package, SECPKG_CRED_OUTBOUND, nullptr, wanted, nullptr, nullptr,
                                           &channel.credentials, &expiry);
    }
    if (status != SEC_E_OK) {
        LogError("Error: TLSを使えません（0x%08lX）\r\n", static_cast<unsigned long>(status));
        return false;
    }
    channel.haveCredentials = true;
    return true;
}

}  // namespace

const TlsCredentialForm kTlsCredentialForms[2] = {
    {SCH_CREDENTIALS_VERSION, SP_PROT_TLS1_3_CLIENT | SP_PROT_TLS1_2_CLIENT},
    // Named, because Windows 7 offers TLS 1.0 alone to a client that names none; the system
    // leaves out what it does not allow.
    {SCHANNEL_CRED_VERSION, SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_1_CLIENT | SP_PROT_TLS1_0_CLIENT},
};

bool TlsStart(NetSocket socket, const char *host) { return TlsStartWith(socket, host, kTlsCredentialForms, 2); }

bool TlsFailedOnNetwork() { return handshakeNetworkFailed; }

bool TlsStartWith(NetSocket socket, const char *host, const TlsCredentialForm *forms, int count)
{
    TlsEnd();
    handshakeNetworkFailed = false;
    channel.socket = socket;
    ToWide(host, channel.host, 256);
    if (!AcquireCredentials(forms, count))
        return false;
    if (!Negotiate(true)) {
        TlsEnd();
        return false;
    }
    DWORD certificate = CheckCertificate();
    if (certificate != 0) {
        LogCertificateError(certificate);
        TlsEnd();
        return false;
    }
    if (QueryContextAttributesW(&channel.context, SECPKG_ATTR_STREAM_SIZES, &channel.sizes) != SEC_E_OK) {
        AppendLog(kSystem, "Error: TLSの接続情報を得られません\r\n");
        TlsEnd();
        return false;
    }
    LogConnection();
    return true;
}

int TlsSend(const char *data, int length)
{
    int maximum = static_cast<int>(channel.sizes.cbMaximumMessage);
    int room = static_cast<int>(sizeof channel.outgoing - channel.sizes.cbHeader - channel.sizes.cbTrailer);
    if (maximum > room)
        maximum = room;
    for (int sent = 0; sent < length;) {
        int part = length - sent < maximum ? length - sent : maximum;
        char *header = channel.outgoing;
        char *body = header + channel.sizes.cbHeader;
        memcpy(body, data + sent, static_cast<size_t>(part));
        SecBuffer buffers[4] = {{channel.sizes.cbHeader, SECBUFFER_STREAM_HEADER, header},
                                {static_cast<unsigned long>(part), SECBUFFER_DATA, body},
                                {channel.sizes.cbTrailer, SECBUFFER_STREAM_TRAILER, body + part},
                                {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc desc = {SECBUFFER_VERSION, 4, buffers};
        SECURITY_STATUS status = EncryptMessage(&channel.context, 0, &desc, 0);
        // The clear copy must not outlive the record (it may be the password).
        if (status != SEC_E_OK) {
            SecureZeroMemory(body, static_cast<size_t>(part));
            return kNetFailed;
        }
        int total = static_cast<int>(buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer);
        int result = NetSend(channel.socket, channel.outgoing, total);
        if (result != 0)
            return result;
        sent += part;
    }
    return 0;
}

int TlsReceive(char *buffer, int capacity, int waitMs)
{
    uint64_t deadline = NetClockMs() + static_cast<uint64_t>(waitMs);
    while (channel.plainStart == channel.plainEnd) {
        if (channel.incomingLength > 0) {
            SecBuffer buffers[4] = {{static_cast<unsigned long>(channel.incomingLength), SECBUFFER_DATA, channel.incoming},
                                    {0, SECBUFFER_EMPTY, nullptr},
                                    {0, SECBUFFER_EMPTY, nullptr},
                                    {0, SECBUFFER_EMPTY, nullptr}};
            SecBufferDesc desc = {SECBUFFER_VERSION, 4, buffers};
            SECURITY_STATUS status = DecryptMessage(&channel.context, &desc, 0, nullptr);
            if (status == SEC_E_OK || status == SEC_I_RENEGOTIATE) {
                const SecBuffer *extra = nullptr;
                for (const SecBuffer &b : buffers) {
                    if (b.BufferType == SECBUFFER_DATA && b.cbBuffer > 0 && b.cbBuffer <= sizeof channel.plain) {
                        memcpy(channel.plain, b.pvBuffer, b.cbBuffer);
                        channel.plainStart = 0;
                        channel.plainEnd = static_cast<int>(b.cbBuffer);
                    }
                    if (b.BufferType == SECBUFFER_EXTRA)
                        extra = &b;
                }
                if (extra != nullptr)
                    KeepExtra(*extra);
                else
                    channel.incomingLength = 0;
                // A message of the handshake after it ended (a TLS 1.3 ticket or key update) is in
                // what was left over: it goes to the handshake, which keeps what follows it.
                if (status == SEC_I_RENEGOTIATE && !Negotiate(false))
                    return kNetFailed;
                continue;
            }
            if (status == SEC_I_CONTEXT_EXPIRED)
                return kNetClosed;  // the server ended the channel
            if (status != SEC_E_INCOMPLETE_MESSAGE)
                return kNetFailed;
        }
        int received = ReceiveMore(deadline);
        if (received <= 0)
            return received;
    }
    int count = channel.plainEnd - channel.plainStart;
    if (count > capacity)
        count = capacity;
    memcpy(buffer, channel.plain + channel.plainStart, static_cast<size_t>(count));
    channel.plainStart += count;
    return count;
}

void TlsEnd()
{
    if (channel.haveContext)
        DeleteSecurityContext(&channel.context);
    if (channel.haveCredentials)
        FreeCredentialsHandle(&channel.credentials);
    channel.haveContext = channel.haveCredentials = false;
    channel.incomingLength = channel.plainStart = channel.plainEnd = 0;
    SecureZeroMemory(channel.plain, sizeof channel.plain);
    SecureZeroMemory(channel.outgoing, sizeof channel.outgoing);
}
