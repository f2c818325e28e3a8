// The SNTP exchange: one request, one trusted reply, the local clock set to the server's time.
#include "clock/sntp.h"

#include <cstring>

#include "clock/local_clock.h"
#include "net/net.h"
#include "base/text.h"

namespace {

constexpr size_t kShortText = 160;  // one line of a report
constexpr int kReceiveSize = 1024;
constexpr int kOriginateAt = 24;  // in a reply: the request's transmit timestamp, echoed
constexpr int kTransmitAt = 40;

// Seconds from 1900-01-01 to 1970-01-01, and the length of one NTP era.
constexpr int64_t kNtpToUnix = 2208988800;
constexpr int64_t kEra = int64_t{1} << 32;

const char kPcTimeFormat[] = "%04d年%02d月%02d日 %02d:%02d:%02d.%03d （ローカル時刻）\r\n";
const char kServerTimeFormat[] = "%04d年%02d月%02d日 %02d:%02d:%02d.%03d （NTPサーバ時刻）\r\n";
const char kSynchronised[] = "NTPサーバの時刻に同期しました\r\n";

const char kStartupFailed[] = "Error: WinSockの初期化失敗\r\n";
const char kSocketFailed[] = "Error: Socket作成失敗\r\n";
const char kNoAddress[] = "Error: ホストアドレス取得失敗\r\n";
const char kSendFailed[] = "Error: サーバへの送信失敗\r\n";
const char kReceiveFailed[] = "Error: サーバからの受信失敗\r\n";
const char kTimedOut[] = "Error: タイムアウトしました\r\n";
const char kNoTime[] = "Error: 時刻の取得に失敗\r\n";
const char kSetFailed[] = "Error: ローカル時刻の設定に失敗\r\n";
// The request: LI 0, version 1, mode 3 (client), nonce as the transmit timestamp, and nothing else.
void BuildSntpRequest(char *packet, const unsigned char nonce[8])
{
    memset(packet, 0, kSntpPacketSize);
    packet[0] = 0x0B;
    memcpy(packet + kTransmitAt, nonce, 8);
}

// Seconds of an NTP timestamp as Unix time. With the top bit set they count from 1900 (up to
// 2036-02-07 06:28:15); with it clear, from the next era, 2036-02-07 06:28:16 (up to 2104).
int64_t NtpSecondsToUnix(uint32_t seconds)
{
    int64_t sinceEraStart = (seconds & 0x80000000u) != 0 ? seconds : seconds + kEra;
    return sinceEraStart - kNtpToUnix;
}

// A fraction of a second in units of 2^-32, rounded down to whole milliseconds (0..999): in
// integers, so that 0xFFFFFFFF gives 999 and never rounds up to 1000.
int FractionToMilliseconds(uint32_t fraction) { return static_cast<int>((uint64_t{fraction} * 1000) >> 32); }

// The first two lines of a report: the PC time, then the server time.
void FormatSyncReport(char *report, const ClockTime &pc, const ClockTime &server)
{
    FormatText(report, kSyncReportSize, kPcTimeFormat, pc.year, pc.month, pc.day, pc.hour, pc.minute, pc.second,
               pc.milliseconds);
    char line[kShortText];
    FormatText(line, sizeof line, kServerTimeFormat, server.year, server.month, server.day, server.hour,
               server.minute, server.second, server.milliseconds);
    AppendText(report, kSyncReportSize, line);
}

// How far off the PC's clock is, before kSetFailed and why; or was, once set with consent.
const char kPcAhead[] = "PCの時計は %lld.%03d 秒進んでいます\r\n";
const char kPcBehind[] = "PCの時計は %lld.%03d 秒遅れています\r\n";
const char kPcWasAhead[] = "PCの時計は %lld.%03d 秒進んでいました\r\n";
const char kPcWasBehind[] = "PCの時計は %lld.%03d 秒遅れていました\r\n";
const char kNoPrivilege[] = "時刻を変更する権限がありません（エラー %lu）\r\n";
const char kDeclined[] = "時刻の変更が許可されませんでした（エラー %lu）\r\n";
const char kHelperLate[] = "管理者として起動した Pollwick が時間内に終わりませんでした（エラー %lu）\r\n";
const char kHelperFoundNoTime[] = "管理者として起動した Pollwick がNTPサーバの時刻を得られませんでした\r\n";
const char kRefusedBySystem[] = "システムが時刻の変更を拒否しました（エラー %lu）\r\n";
const char kBadPort[] = "Error: NTPサーバのポート番号が正しくありません\r\n";

const char kShortReply[] = "Error: サーバからの応答が短すぎます\r\n";
const char kNotServerReply[] = "Error: サーバからの応答ではありません\r\n";
const char kUnsynchronised[] = "Error: サーバの時刻が同期していません\r\n";
const char kKissOfDeath[] = "Error: サーバが時刻の提供を拒否しました\r\n";
const char kNoTransmitTime[] = "Error: サーバの時刻が不正です\r\n";

uint32_t ReadBigEndian32(const unsigned char *bytes)
{
    return (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) | bytes[3];
}

// Replaces the report with one error line, closes the socket if there is one, and gives -1.
int Fail(char *report, NetSocket socket, const char *text)
{
    if (socket != kNoSocket)
        NetClose(socket);
    CopyText(report, kSyncReportSize, text);
    return -1;
}

// Waits out the rest of the 3 seconds for the server's reply. Anyone may send to our port, even
// in the server's name: a datagram from any other address or port, or one that does not echo our
// request's transmit timestamp as its originate timestamp, is dropped and the wait goes on.
// Returns nullptr once reply holds the answer (length bytes), else the error line.
const char *ReceiveReply(NetSocket socket, uint32_t server, uint16_t serverPort, const char *request,
                         unsigned char *reply, int capacity, int *length)
{
    uint64_t deadline = NetClockMs() + kSntpWaitMs;
    for (;;) {
        int wait = NetRemainingMs(deadline);
        if (wait == 0)
            return kTimedOut;
        uint32_t from;
        uint16_t fromPort;
        int n = NetReceiveFrom(socket, reinterpret_cast<char *>(reply), capacity, wait, &from, &fromPort);
        if (n == kNetTimedOut)
            return kTimedOut;
        if (n < 0)
            return kReceiveFailed;
        if (from == server && fromPort == serverPort && n >= kOriginateAt + 8 &&
            memcmp(reply + kOriginateAt, request + kTransmitAt, 8) == 0) {
            *length = n;
            return nullptr;
        }
    }
}

// How far off the PC's clock is (or was, before it was set), to the millisecond.
void AppendOffset(char *report, int64_t pcAheadMs, const char *ahead, const char *behind)
{
    int64_t off = pcAheadMs < 0 ? -pcAheadMs : pcAheadMs;
    char line[kShortText];
    FormatText(line, sizeof line, pcAheadMs < 0 ? behind : ahead, static_cast<long long>(off / 1000),
               static_cast<int>(off % 1000));
    AppendText(report, kSyncReportSize, line);
}

// Appended to the two time lines when the clock could not be set: the measured difference stays
// of use, and the user learns why.
void AppendRefusal(char *report, int64_t pcAheadMs, uint32_t error)
{
    AppendOffset(report, pcAheadMs, kPcAhead, kPcBehind);
    AppendText(report, kSyncReportSize, kSetFailed);
    const char *why = error == kClockPrivilegeNotHeld ? kNoPrivilege
                      : error == kConsentDeclined      ? kDeclined
                      : error == kConsentTimedOut      ? kHelperLate
                      : error == kHelperNoTime         ? kHelperFoundNoTime
                                                       : kRefusedBySystem;
    char line[kShortText];
    FormatText(line, sizeof line, why, static_cast<unsigned long>(error));
    AppendText(report, kSyncReportSize, line);
}

// One exchange with the server at host and port, WinSock started: nullptr and the server's
// transmit time as Unix milliseconds, or the error line.
const char *AskServer(const char *host, uint16_t port, int64_t *serverMs)
{
    NetSocket socket = NetOpenUdp();
    if (socket == kNoSocket)
        return kSocketFailed;
    // When another program holds port 1024 the exchange goes on from a port the system picks at
    // the send: servers answer the port a request came from, so only the fixed port is lost.
    NetBind(socket, kSntpLocalPort);

    uint32_t address;
    // A transmit timestamp nobody can guess, which only the server's true answer echoes.
    unsigned char nonce[8];
    char request[kSntpPacketSize];
    // Room for more than a bare reply: one that carries an authenticator is still a reply.
    unsigned char reply[kReceiveSize];
    int length = 0;
    const char *refused = nullptr;
    char name[256];
    if (!NetAsciiHost(host, name, sizeof name) || NetResolve(name, &address, NetTimeoutMs) != 0) {
        refused = kNoAddress;
    } else if (!NetRandom(nonce, sizeof nonce)) {
        refused = kSendFailed;
    } else {
        BuildSntpRequest(request, nonce);
        if (NetSendTo(socket, address, port, request, sizeof request) != 0)
            refused = kSendFailed;
        else if ((refused = ReceiveReply(socket, address, port, request, reply, sizeof reply, &length)) == nullptr)
            refused = CheckSntpReply(reply, length);
    }
    NetClose(socket);
    if (refused != nullptr)
        return refused;
    int64_t unixTime = NtpSecondsToUnix(ReadBigEndian32(reply + kTransmitAt));
    if (unixTime < 0)
        return kNoTime;
    *serverMs = unixTime * 1000 + FractionToMilliseconds(ReadBigEndian32(reply + kTransmitAt + 4));
    return nullptr;
}

// The exchange with server from its text on: nullptr and the server's time, or the error line.
const char *QueryServer(const char *server, int64_t *serverMs)
{
    char host[256];
    uint16_t port;
    if (const char *refused = SplitServerText(server, host, sizeof host, &port))
        return refused;
    if (!NetStartup())
        return kStartupFailed;
    const char *refused = AskServer(host, port, serverMs);
    NetCleanup();
    return refused;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsSpace(char c) { return c == ' ' || c == '\t'; }

}  // namespace

const char *SplitServerText(const char *server, char *host, size_t hostSize, uint16_t *port)
{
    const char *colon = strchr(server, ':');
    size_t hostLength = colon != nullptr ? static_cast<size_t>(colon - server) : strlen(server);
    if (hostLength >= hostSize)
        return kNoAddress;
    memcpy(host, server, hostLength);
    host[hostLength] = '\0';
    *port = kNtpPort;
    if (colon == nullptr)
        return nullptr;
    // Only a port number counts: a text read as far as it goes ("70000", "12ab") would quietly
    // send the request to some other port.
    uint32_t number = 0;
    const char *p = colon + 1;
    for (; IsDigit(*p) && number <= 65535; p++)
        number = number * 10 + static_cast<uint32_t>(*p - '0');
    if (p == colon + 1 || *p != '\0' || number == 0 || number > 65535)
        return kBadPort;
    *port = static_cast<uint16_t>(number);
    return nullptr;
}

const char *CheckSntpReply(const unsigned char *reply, int length)
{
    // The checks a client makes before it believes a server (RFC 4330, section 5).
    if (length < kSntpPacketSize)
        return kShortReply;
    int leap = reply[0] >> 6;
    int mode = reply[0] & 7;
    int stratum = reply[1];
    if (mode != 4)
        return kNotServerReply;
    if (leap == 3 || stratum > 15)
        return kUnsynchronised;
    if (stratum == 0)
        return kKissOfDeath;
    if (ReadBigEndian32(reply + kTransmitAt) == 0 && ReadBigEndian32(reply + kTransmitAt + 4) == 0)
        return kNoTransmitTime;
    return nullptr;
}

int SyncClock(const char *server, char *report)
{
    int64_t serverMs = 0;
    if (const char *refused = QueryServer(server, &serverMs))
        return Fail(report, kNoSocket, refused);
    ClockTime serverTime, pcTime;
    if (!ToLocalClockTime(serverMs, &serverTime))
        return Fail(report, kNoSocket, kNoTime);
    int64_t pcMs = ReadLocalClock(&pcTime);
    FormatSyncReport(report, pcTime, serverTime);
    uint32_t error = SetSystemClock(serverMs);
    bool consent = error == kClockPrivilegeNotHeld;
    if (consent)
        error = SetClockWithConsent(server);
    if (error != 0) {
        AppendRefusal(report, pcMs - serverMs, error);
        return -1;
    }
    if (consent)
        AppendOffset(report, pcMs - serverMs, kPcWasAhead, kPcWasBehind);
    AppendText(report, kSyncReportSize, kSynchronised);
    return 0;
}

bool BuildClockSwitch(const char *server, char *out, size_t size)
{
    FormatText(out, size, "%s \"%s\"", kClockSwitch, server);
    char back[256];
    char line[kClockSwitchSize + 8];
    FormatText(line, sizeof line, "p %s", out);
    return ParseClockSwitch(line, back, sizeof back) && strcmp(back, server) == 0;
}

bool ParseClockSwitch(const char *commandLine, char *server, size_t size)
{
    // The program's name: in double quotes, or up to the first blank.
    const char *p = commandLine;
    if (*p == '"') {
        p = strchr(p + 1, '"');
        if (p == nullptr)
            return false;
        p++;
    } else {
        while (*p != '\0' && !IsSpace(*p))
            p++;
    }
    while (IsSpace(*p))
        p++;
    size_t switchLength = strlen(kClockSwitch);
    if (strncmp(p, kClockSwitch, switchLength) != 0 || !IsSpace(p[switchLength]))
        return false;
    p += switchLength;
    while (IsSpace(*p))
        p++;
    // The server text: in double quotes, or up to the next blank; nothing after it.
    bool quoted = *p == '"';
    const char *start = quoted ? p + 1 : p;
    const char *end = start;
    while (*end != '\0' && *end != '"' && (quoted || !IsSpace(*end)))
        end++;
    if (quoted && *end != '"')
        return false;
    const char *rest = quoted ? end + 1 : end;
    while (IsSpace(*rest))
        rest++;
    size_t length = static_cast<size_t>(end - start);
    if (*rest != '\0' || length == 0 || length > 255 || length >= size)
        return false;
    memcpy(server, start, length);
    server[length] = '\0';
    return true;
}

uint32_t RunClockHelper(const char *server)
{
    int64_t serverMs = 0;
    if (QueryServer(server, &serverMs) != nullptr)
        return kHelperNoTime;
    return SetSystemClock(serverMs);
}
