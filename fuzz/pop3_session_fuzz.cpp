// A whole CheckMail against an in-memory peer that takes the socket layer's place at link time:
// reply assembly, the APOP timestamp, the STAT count. The input's first byte chooses APOP, a
// refused connection and which send fails; the rest is what the peer delivers, one piece per
// receive: each starts with a length byte, 0 standing for a time-out, 255 for a closed connection,
// anything else for that many bytes (fewer at the end of the input).
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "base/log.h"
#include "base/text.h"
#include "mail/pop3.h"
#include "net/net.h"
#include "net/net_lookup.h"
#include "settings/settings.h"

int NetTimeoutMs = kDefaultNetTimeoutMs;

namespace {

struct Piece {
    std::string data;
    int status;  // without data: a NetStatus
};
std::vector<Piece> pieces;
size_t next;
bool connectFails;
int failSendAt;                 // the send (counted from 0) that fails, or -1
std::vector<std::string> sent;  // every command, one string per send

const char kPassword[] = "Pw-s3cret";

bool IsApopCommand(const std::string &command)
{
    return command.size() == 44 && command.starts_with("APOP fuzz ") && command.ends_with("\r\n") &&
           strspn(command.c_str() + 10, "0123456789abcdef") == 32;
}

}  // namespace

bool NetStartup() { return true; }
void NetCleanup() {}
bool NetParseAddress(const char *, uint32_t *) { return false; }
NetSocket NetOpenTcp() { return 3; }
void NetClose(NetSocket) {}
int NetConnect(NetSocket, uint32_t, uint16_t) { return connectFails ? kNetFailed : 0; }
uint64_t NetClockMs() { return 1000; }  // time stands still: every wait ends by the peer's word

int ResolveOnThread(const char *, uint32_t *address, int)
{
    *address = 0x0100007F;
    return 0;
}

bool NetRandom(void *data, int size)
{
    memset(data, 0x5A, static_cast<size_t>(size));
    return true;
}

int NetSend(NetSocket, const char *data, int length)
{
    if (static_cast<int>(sent.size()) == failSendAt)
        return kNetFailed;
    sent.emplace_back(data, static_cast<size_t>(length));
    return 0;
}

int NetReceive(NetSocket, char *buffer, int capacity, int)
{
    if (next >= pieces.size())
        return kNetClosed;
    // A piece longer than the caller's buffer is handed over in parts, as a socket would.
    Piece &piece = pieces[next];
    size_t take = std::min(piece.data.size(), static_cast<size_t>(capacity));
    memcpy(buffer, piece.data.data(), take);
    piece.data.erase(0, take);
    next += piece.data.empty() ? 1 : 0;
    return take > 0 ? static_cast<int>(take) : piece.status;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    pieces.clear();
    sent.clear();
    next = 0;
    for (size_t at = 1; at < size;) {
        uint8_t length = data[at++];
        size_t take = length == 0 || length == 255 ? 0 : std::min<size_t>(length, size - at);
        pieces.push_back({std::string(reinterpret_cast<const char *>(data + at), take),
                          length == 0 ? kNetTimedOut : length == 255 ? kNetClosed : 0});
        at += take;
    }
    const bool apop = (data[0] & 1) != 0;
    connectFails = (data[0] & 2) != 0;
    failSendAt = (data[0] >> 2 & 7) == 7 ? -1 : data[0] >> 2 & 7;

    memset(&Settings, 0, sizeof Settings);
    CopyText(Settings.POP3, sizeof Settings.POP3, "pop.example");
    CopyText(Settings.USER, sizeof Settings.USER, "fuzz");
    CopyText(Settings.PASS, sizeof Settings.PASS, kPassword);
    Settings.PORT = 110;
    Settings.APOP = apop ? 1 : 0;
    InitLogRing();

    int count = CheckMail();

    // The client says only what it means to: one well-formed command per send, in order.
    const char *expected[] = {"USER fuzz\r\n", "PASS Pw-s3cret\r\n", "STAT\r\n", "QUIT\r\n"};
    size_t first = apop ? 1 : 0;
    if (sent.size() > 4 - first)
        __builtin_trap();
    for (size_t i = 0; i < sent.size(); i++)
        if (!(apop && i == 0 ? IsApopCommand(sent[i]) : sent[i] == expected[first + i]))
            __builtin_trap();
    // A count is only ever the outcome of a whole session that ended with QUIT.
    if (count < -1 || (count >= 0 && (sent.size() != 4 - first || sent.back() != "QUIT\r\n")))
        __builtin_trap();

    // Every log line is bounded and holds one line feed, at its end, also when it was cut (a reply
    // is logged as it came, so a bare LF stays bare); it never shows the password the client sent.
    for (const LogSlot &slot : LogRing.slot) {
        size_t length = strnlen(slot.text, sizeof slot.text);
        if (length == 0)
            continue;
        const char *feed = static_cast<const char *>(memchr(slot.text, '\n', length));
        if (length > kLogLineMax || feed != slot.text + length - 1)
            __builtin_trap();
        if (strncmp(slot.text + 20, "[send] ", 7) == 0 && strstr(slot.text, kPassword) != nullptr)
            __builtin_trap();
    }
    return 0;
}
