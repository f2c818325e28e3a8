// The SNTP exchange: one request, one trusted reply, the local clock set to the server's time.
#include "clock/sntp.h"

#include <cstdlib>
#include <cstring>

#include "clock/local_clock.h"
#include "net/net.h"
#include "base/text.h"

namespace {

constexpr size_t kShortText = 80;
constexpr size_t kPortTextSize = 8;
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
// When the clock could not be set: how far off it is, before kSetFailed, and why, after it.
const char kPcAhead[] = "PCの時計は %lld.%03d 秒進んでいます\r\n";
const char kPcBehind[] = "PCの時計は %lld.%03d 秒遅れています\r\n";
const char kNoPrivilege[] = "時刻を変更する権限がありません（エラー %lu）\r\n";
const char kRunAsAdministrator[] = "Pollwick を管理者として実行してください\r\n";
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

// Appended to the two time lines when the clock could not be set: the measured difference stays
// of use, and the user learns what would let the clock be set.
void AppendRefusal(char *report, int64_t pcAheadMs, uint32_t error)
{
    int64_t off = pcAheadMs < 0 ? -pcAheadMs : pcAheadMs;
    char line[kShortText];
    FormatText(line, sizeof line, pcAheadMs < 0 ? kPcBehind : kPcAhead, static_cast<long long>(off / 1000),
               static_cast<int>(off % 1000));
    AppendText(report, kSyncReportSize, line);
    AppendText(report, kSyncReportSize, kSetFailed);
    bool privilege = error == kClockPrivilegeNotHeld;
    FormatText(line, sizeof line, privilege ? kNoPrivilege : kRefusedBySystem, static_cast<unsigned long>(error));
    AppendText(report, kSyncReportSize, line);
    if (privilege)
        AppendText(report, kSyncReportSize, kRunAsAdministrator);
}

// The exchange with the server at host and port, WinSock started, and the clock set.
int SyncWithServer(const char *host, uint16_t port, char *report)
{
    NetSocket socket = NetOpenUdp();
    if (socket == kNoSocket)
        return Fail(report, kNoSocket, kSocketFailed);
    // When another program holds port 1024 the exchange goes on from a port the system picks at
    // the send: servers answer the port a request came from, so only the fixed port is lost.
    NetBind(socket, kSntpLocalPort);

    uint32_t address;
    if (NetResolve(host, &address, NetTimeoutMs) != 0)
        return Fail(report, socket, kNoAddress);

    // A transmit timestamp nobody can guess, which only the server's true answer echoes.
    unsigned char nonce[8];
    if (!NetRandom(nonce, sizeof nonce))
        return Fail(report, socket, kSendFailed);
    char request[kSntpPacketSize];
    BuildSntpRequest(request, nonce);
    if (NetSendTo(socket, address, port, request, sizeof request) != 0)
        return Fail(report, socket, kSendFailed);

    // Room for more than a bare reply: one that carries an authenticator is still a reply.
    unsigned char reply[kReceiveSize];
    int length = 0;
    const char *refused = ReceiveReply(socket, address, port, request, reply, sizeof reply, &length);
    if (refused == nullptr)
        refused = CheckSntpReply(reply, length);
    if (refused != nullptr)
        return Fail(report, socket, refused);
    NetClose(socket);

    int64_t unixTime = NtpSecondsToUnix(ReadBigEndian32(reply + 40));
    int milliseconds = FractionToMilliseconds(ReadBigEndian32(reply + 44));
    ClockTime serverTime;
    if (unixTime < 0 || !ToLocalClockTime(unixTime, milliseconds, &serverTime))
        return Fail(report, kNoSocket, kNoTime);

    ClockTime pcTime;
    int64_t pcMs = ReadLocalClock(&pcTime);
    FormatSyncReport(report, pcTime, serverTime);
    if (uint32_t error = SetLocalClock(&serverTime)) {
        AppendRefusal(report, pcMs - (unixTime * 1000 + milliseconds), error);
        return -1;
    }
    AppendText(report, kSyncReportSize, kSynchronised);
    return 0;
}

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
    // A longer port text would not fit the 8 bytes it is read from. Reading only its first seven
    // characters would quietly pick some other port, so the server text is refused instead.
    char portText[kPortTextSize];
    if (!CopyText(portText, sizeof portText, colon + 1))
        return kBadPort;
    *port = static_cast<uint16_t>(atoi(portText) & 0xFFFF);
    return nullptr;
}

void BuildSntpRequest(char *packet, const unsigned char nonce[8])
{
    memset(packet, 0, kSntpPacketSize);
    packet[0] = 0x0B;
    memcpy(packet + kTransmitAt, nonce, 8);
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
    if (ReadBigEndian32(reply + 40) == 0 && ReadBigEndian32(reply + 44) == 0)
        return kNoTransmitTime;
    return nullptr;
}

int64_t NtpSecondsToUnix(uint32_t seconds)
{
    int64_t sinceEraStart = (seconds & 0x80000000u) != 0 ? seconds : seconds + kEra;
    return sinceEraStart - kNtpToUnix;
}

int FractionToMilliseconds(uint32_t fraction)
{
    // In integers, so that 0xFFFFFFFF gives 999 and never rounds up to 1000.
    return static_cast<int>((uint64_t{fraction} * 1000) >> 32);
}

void FormatSyncReport(char *report, const ClockTime &pc, const ClockTime &server)
{
    FormatText(report, kSyncReportSize, kPcTimeFormat, pc.year, pc.month, pc.day, pc.hour, pc.minute, pc.second,
               pc.milliseconds);
    char line[kShortText];
    FormatText(line, sizeof line, kServerTimeFormat, server.year, server.month, server.day, server.hour,
               server.minute, server.second, server.milliseconds);
    AppendText(report, kSyncReportSize, line);
}

int SyncClock(const char *server, char *report)
{
    char host[256];
    uint16_t port;
    if (const char *refused = SplitServerText(server, host, sizeof host, &port))
        return Fail(report, kNoSocket, refused);
    if (!NetStartup())
        return Fail(report, kNoSocket, kStartupFailed);
    int result = SyncWithServer(host, port, report);
    NetCleanup();
    return result;
}
