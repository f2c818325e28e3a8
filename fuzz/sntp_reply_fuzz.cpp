// The SNTP pieces free of platform calls: the reply check, the server text split, the era and
// fraction conversions, on any bytes.
#include <cstdint>
#include <cstring>
#include <string>

#include "clock/sntp.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // The check reads exactly the bytes it is given (the sanitizer watches the end of the copy).
    std::string reply(reinterpret_cast<const char *>(data), size);
    const char *refusal = CheckSntpReply(reinterpret_cast<const unsigned char *>(reply.data()), static_cast<int>(size));
    if (refusal == nullptr && size < static_cast<size_t>(kSntpPacketSize))
        __builtin_trap();
    if (refusal != nullptr && strncmp(refusal, "Error: ", 7) != 0)
        __builtin_trap();

    if (size >= 8) {
        uint32_t seconds, fraction;
        memcpy(&seconds, data, 4);
        memcpy(&fraction, data + 4, 4);
        int64_t unixTime = NtpSecondsToUnix(seconds);
        // 1968-01-20 03:14:08 (the top bit just set) up to 2104-02-26.
        if (unixTime < -63071999 || unixTime > 4294967295LL - 2208988800LL + 2147483648LL)
            __builtin_trap();
        int ms = FractionToMilliseconds(fraction);
        if (ms < 0 || ms > 999)
            __builtin_trap();
    }

    std::string server = reply.c_str();
    char host[256];
    uint16_t port = 0;
    if (SplitServerText(server.c_str(), host, sizeof host, &port)) {
        if (strlen(host) >= sizeof host || server.compare(0, strlen(host), host) != 0)
            __builtin_trap();
        if (server.find(':') == std::string::npos && port != kNtpPort)
            __builtin_trap();
    }
    return 0;
}
