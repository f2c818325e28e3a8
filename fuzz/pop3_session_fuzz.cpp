// A whole CheckMail against the in-memory peer: reply assembly, the APOP timestamp, the STAT count.
// The first byte chooses APOP, a refused connection and which send fails; the rest is the peer's.
#include <cstring>
#include <string>

#include "base/log.h"
#include "base/text.h"
#include "fuzz/net_memory.h"
#include "mail/pop3.h"
#include "settings/settings.h"

namespace {

const char kPassword[] = "Pw-s3cret";

bool IsApopCommand(const std::string &command)
{
    return command.size() == 44 && command.starts_with("APOP fuzz ") && command.ends_with("\r\n") &&
           strspn(command.c_str() + 10, "0123456789abcdef") == 32;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    LoadPeer(data + 1, size - 1);
    const bool apop = (data[0] & 1) != 0;
    Peer.connectFails = (data[0] & 2) != 0;
    Peer.failSendAt = (data[0] >> 2 & 7) == 7 ? -1 : data[0] >> 2 & 7;

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
    if (Peer.sent.size() > 4 - first)
        __builtin_trap();
    for (size_t i = 0; i < Peer.sent.size(); i++)
        if (!(apop && i == 0 ? IsApopCommand(Peer.sent[i]) : Peer.sent[i] == expected[first + i]))
            __builtin_trap();
    // A count is only ever the outcome of a whole session that ended with QUIT.
    if (count < -1 || (count >= 0 && (Peer.sent.size() != 4 - first || Peer.sent.back() != "QUIT\r\n")))
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
