// The POP3 session: USER/PASS or APOP, STAT, QUIT, each step written to the activity log; in
// plain text, after STLS, or over TLS from the connect on.
#include "mail/pop3.h"

#include <cstdint>
#include <cstring>

#include "mail/md5.h"
#include "net/net.h"
#include "mail/tls.h"
#include "settings/settings.h"
#include "base/log.h"
#include "base/text.h"

namespace {

constexpr size_t kBufferSize = 1024;

const char kSend[] = "[send] ";
const char kRecv[] = "[recv] ";

// Working storage of one session; lives on the stack of CheckMail.
struct Session {
    NetSocket socket;
    bool tls;                    // the bytes go through the TLS channel
    char host[256];              // the server's name as DNS and its certificate know it
    char greeting[kBufferSize];  // for APOP, which the STLS reply would overwrite
    char command[kBufferSize];
    char reply[kBufferSize];
    char input[kBufferSize];  // bytes received but not yet taken into a reply
    int inputStart;
    int inputEnd;
};

enum Reply { kPositive, kNegative, kBroken };

// The last check ended because the network failed it, not the server or the settings.
bool networkFailed;

void LogNetFailure(int status)
{
    networkFailed = true;
    switch (status) {
    case kNetTimedOut: AppendLog(kSystem, "Error: タイムアウトしました\r\n"); break;
    case kNetClosed: AppendLog(kSystem, "Error: サーバーが接続を切断しました\r\n"); break;
    default: AppendLog(kSystem, "Error: サーバーとの通信に失敗しました\r\n"); break;
    }
}

// Sends the text in the command buffer. Logging is left to the caller, which may mask it first.
bool SendCommand(Session *s)
{
    int length = static_cast<int>(strlen(s->command));
    int status = s->tls ? TlsSend(s->command, length) : NetSend(s->socket, s->command, length);
    if (status != 0) {
        LogNetFailure(status);
        return false;
    }
    return true;
}

// Reads one reply line, up to and including its line feed, into the reply buffer and logs it.
// A line split over several segments reads the same as one; a line too long for the buffer is
// kept up to the buffer's size and the rest of it, up to its line end, is dropped. The whole
// line must arrive within NetTimeoutMs, so a server that trickles bytes cannot hold us either.
Reply ReceiveReply(Session *s)
{
    uint64_t deadline = NetClockMs() + static_cast<uint64_t>(NetTimeoutMs);
    constexpr size_t kKeep = kBufferSize - 3;  // room for a closing CR LF and the terminator
    memset(s->reply, 0, sizeof s->reply);
    size_t length = 0;
    bool cut = false;
    for (;;) {
        while (s->inputStart < s->inputEnd) {
            char c = s->input[s->inputStart++];
            if (length < kKeep)
                s->reply[length++] = c == '\0' ? '?' : c;  // a zero byte would hide the rest
            else
                cut = true;
            if (c == '\n') {
                if (cut) {
                    length = Cp932CutLength(s->reply, kKeep);
                    memcpy(s->reply + length, "\r\n", 3);
                }
                AppendLog(kRecv, s->reply);
                return s->reply[0] == '-' ? kNegative : kPositive;
            }
        }
        int wait = NetRemainingMs(deadline);
        int received = wait == 0       ? static_cast<int>(kNetTimedOut)
                       : s->tls        ? TlsReceive(s->input, sizeof s->input, wait)
                                       : NetReceive(s->socket, s->input, sizeof s->input, wait);
        if (received <= 0) {
            if (length > 0) {
                // Show what did arrive of the unfinished line before the failure.
                AppendText(s->reply, sizeof s->reply, "\r\n");
                AppendLog(kRecv, s->reply);
            }
            LogNetFailure(received);
            return kBroken;
        }
        s->inputStart = 0;
        s->inputEnd = received;
    }
}

// Sends the command buffer, logs it and reads the reply; true when the reply is positive.
bool Exchange(Session *s)
{
    if (!SendCommand(s))
        return false;
    AppendLog(kSend, s->command);
    return ReceiveReply(s) == kPositive;
}

// Replaces the password in "PASS secret\r\n" with one '*' per byte, for the log.
void MaskPassword(char *command)
{
    for (char *p = command + 5; *p != '\0' && *p != '\r'; p++)
        *p = '*';
}

// The APOP input: the greeting's timestamp from '<' through the first '>' after it, then the
// password. False when the greeting has no timestamp or the two do not fit the buffer.
bool BuildApopInput(char *input, size_t size, const char *greeting, const char *password)
{
    memset(input, 0, size);
    const char *open = strchr(greeting, '<');
    const char *close = open != nullptr ? strchr(open, '>') : nullptr;
    if (close == nullptr)
        return false;
    size_t stampLength = static_cast<size_t>(close - open) + 1;
    if (stampLength + strlen(password) + 1 > size)
        return false;
    memcpy(input, open, stampLength);
    memcpy(input + stampLength, password, strlen(password) + 1);
    return true;
}

bool LogIn(Session *s)
{
    if (Settings.APOP != 0) {
        char input[kBufferSize];
        char digest[33];
        if (!BuildApopInput(input, sizeof input, s->greeting, Settings.PASS)) {
            AppendLog(kSystem, "Error: このサーバーはAPOP認証に対応していません\r\n");
            return false;
        }
        ApopDigest(digest, input);
        WipeSecret(input, sizeof input);
        FormatText(s->command, sizeof s->command, "APOP %s %s\r\n", Settings.USER, digest);
        return Exchange(s);
    }

    FormatText(s->command, sizeof s->command, "USER %s\r\n", Settings.USER);
    if (!Exchange(s))
        return false;
    FormatText(s->command, sizeof s->command, "PASS %s\r\n", Settings.PASS);
    bool sent = SendCommand(s);
    MaskPassword(s->command);  // from here on the password is only in Settings
    if (!sent)
        return false;
    AppendLog(kSend, s->command);
    return ReceiveReply(s) == kPositive;
}

bool StartTls(Session *s)
{
    if (!TlsStart(s->socket, s->host)) {
        // The network failing in the handshake is the network failing.
        networkFailed = TlsFailedOnNetwork();
        return false;
    }
    s->tls = true;
    return true;
}

// RFC 2595: STLS, then the handshake. Nothing else is ever sent in plain text after the greeting.
bool SwitchToTls(Session *s)
{
    FormatText(s->command, sizeof s->command, "STLS\r\n");
    if (!SendCommand(s))
        return false;
    AppendLog(kSend, s->command);
    Reply reply = ReceiveReply(s);
    if (reply == kNegative)
        AppendLog(kSystem, "Error: このサーバーはSTLSに対応していません\r\n");
    if (reply != kPositive)
        return false;
    // Bytes behind the reply came before the channel existed: whoever sent them could be
    // speaking for the server once it is encrypted.
    if (s->inputStart < s->inputEnd) {
        AppendLog(kSystem, "Error: STLSの応答の後に暗号化されていないデータが続いています\r\n");
        return false;
    }
    return StartTls(s);
}

// The session from the connected socket on; -1 or the count.
int Converse(Session *s)
{
    if (Settings.TLSM == kTlsImplicit && !StartTls(s))
        return -1;
    if (ReceiveReply(s) != kPositive)
        return -1;
    memcpy(s->greeting, s->reply, sizeof s->greeting);
    if (Settings.TLSM == kTlsStls && !SwitchToTls(s))
        return -1;
    if (!LogIn(s))
        return -1;

    FormatText(s->command, sizeof s->command, "STAT\r\n");
    if (!Exchange(s))
        return -1;
    int count = ParseStatCount(s->reply);
    if (count < 0) {
        AppendLog(kSystem, "Error: STATの応答から件数を読み取れません\r\n");
        return -1;
    }

    FormatText(s->command, sizeof s->command, "QUIT\r\n");
    if (!Exchange(s))
        return -1;
    return count;
}

}  // namespace

int ParseStatCount(const char *reply)
{
    // The count is the second token; tokens are separated by runs of spaces only.
    const char *p = reply;
    for (int token = 0; token < 1; token++) {
        while (*p == ' ')
            p++;
        while (*p != ' ' && *p != '\0')
            p++;
    }
    while (*p == ' ')
        p++;
    while (*p == '\t' || *p == '\n' || *p == '\v' || *p == '\f' || *p == '\r')
        p++;
    if (*p == '+')
        p++;
    if (*p < '0' || *p > '9')
        return -1;  // no count, or a negative one
    int64_t count = 0;
    for (; *p >= '0' && *p <= '9'; p++) {
        count = count * 10 + (*p - '0');
        if (count > INT32_MAX)
            return -1;
    }
    return static_cast<int>(count);
}

bool LastCheckFailedOnNetwork() { return networkFailed; }

int CheckMail()
{
    networkFailed = false;
    if (Settings.POP3[0] == '\0' || Settings.USER[0] == '\0' || Settings.PASS[0] == '\0') {
        AppendLog(kSystem, "Error: POP3の設定を行ってください\r\n");
        return -1;
    }
    // A line break in either would end the command early and let the rest pass as a command.
    if (HasLineBreak(Settings.USER) || HasLineBreak(Settings.PASS)) {
        AppendLog(kSystem, "Error: ユーザ名かパスワードに改行文字が含まれています\r\n");
        return -1;
    }
    if (Settings.TLSM < 0 || Settings.TLSM >= kTlsModes) {
        char line[80];
        FormatText(line, sizeof line, "Error: 暗号化の設定（TLSM=%d）が正しくありません\r\n",
                   static_cast<int>(Settings.TLSM));
        AppendLog(kSystem, line);
        return -1;
    }
    if (!NetStartup()) {
        AppendLog(kSystem, "Error: WSAStartup\r\n");
        return -1;
    }

    Session s;
    s.tls = false;
    s.inputStart = s.inputEnd = 0;
    if (!NetAsciiHost(Settings.POP3, s.host, sizeof s.host)) {
        FormatText(s.command, sizeof s.command, "Error: %sはサーバ名として使えません\r\n", Settings.POP3);
        AppendLog(kSystem, s.command);
        NetCleanup();
        return -1;
    }
    uint32_t address;
    int found = NetResolve(s.host, &address, NetTimeoutMs);
    if (found != 0) {
        FormatText(s.command, sizeof s.command,
                   found == kNetTimedOut ? "Error: %sの名前解決がタイムアウトしました\r\n" : "Error: %sが見つかりません\r\n",
                   Settings.POP3);
        AppendLog(kSystem, s.command);
        NetCleanup();
        networkFailed = true;
        return -1;
    }
    s.socket = NetOpenTcp();
    if (s.socket == kNoSocket) {
        AppendLog(kSystem, "Error: ソケットをオープンできません\r\n");
        NetCleanup();
        return -1;
    }

    FormatText(s.command, sizeof s.command, "%s:%d に接続します\r\n", Settings.POP3, Settings.PORT);
    AppendLog(kSystem, s.command);
    int result = -1;
    int status = NetConnect(s.socket, address, static_cast<uint16_t>(Settings.PORT & 0xFFFF));
    if (status == kNetTimedOut)
        LogNetFailure(status);
    else if (status != 0)
        AppendLog(kSystem, "Error: サーバーソケットに接続失敗\r\n");
    else
        result = Converse(&s);
    networkFailed = networkFailed || status != 0;

    if (s.tls)
        TlsEnd();
    NetClose(s.socket);
    NetCleanup();
    WipeSecret(&s, sizeof s);  // what the server said and what we sent stay out of the stack
    return result;
}
