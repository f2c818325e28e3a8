// ParseStatCount on any text, checked against a reading of the same rule with the C library.
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "mail/pop3.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string reply(reinterpret_cast<const char *>(data), size);
    reply = reply.c_str();  // the parser sees a C string: up to the first zero byte
    int count = ParseStatCount(reply.c_str());

    // The second token after runs of spaces, then strtol's own leading white space and sign.
    size_t at = reply.find_first_not_of(' ');
    at = at == std::string::npos ? reply.size() : reply.find(' ', at);
    at = at == std::string::npos ? reply.size() : reply.find_first_not_of(' ', at);
    const char *p = at == std::string::npos ? "" : reply.c_str() + at;
    while (*p == '\t' || *p == '\n' || *p == '\v' || *p == '\f' || *p == '\r')
        p++;
    int expected = -1;
    if (*p != '-' && isdigit(static_cast<unsigned char>(*p == '+' ? p[1] : *p))) {
        errno = 0;
        long long value = strtoll(p, nullptr, 10);
        if (errno == 0 && value <= INT32_MAX)
            expected = static_cast<int>(value);
    }
    if (count != expected)
        __builtin_trap();
    return 0;
}
