// The mail-program split and the number reading of the settings sheet, on any text.
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <strings.h>

#include "settings/sheet_rules.h"
#include "settings/settings.h"

namespace {

bool EndsWithExe(const char *text)
{
    size_t length = strlen(text);
    return length >= 4 && strncasecmp(text + length - 4, ".exe", 4) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string text(reinterpret_cast<const char *>(data), size);
    text = text.c_str();

    // atoi's reading, saturated at the 32-bit bounds instead of undefined.
    errno = 0;
    long long wide = strtoll(text.c_str(), nullptr, 10);
    int32_t expected = wide > INT32_MAX ? INT32_MAX : wide < INT32_MIN ? INT32_MIN : static_cast<int32_t>(wide);
    if (ReadLeadingInteger(text.c_str()) != expected)
        __builtin_trap();
    int32_t interval = IntervalFromText(text.c_str());
    if (interval < kMinInterval || interval > kMaxInterval)
        __builtin_trap();

    // The fields keep their old contents when refused, are emptied without a program, and
    // otherwise hold a program that ends in ".exe" and fits.
    char exec[260], para[256];
    memset(exec, 'x', sizeof exec);
    memset(para, 'y', sizeof para);
    exec[sizeof exec - 1] = para[sizeof para - 1] = '\0';
    MailerSplit split = SplitMailerText(text.c_str(), exec, sizeof exec, para, sizeof para);
    if (split == MailerSplit::TooLong && (strspn(exec, "x") != sizeof exec - 1 || strspn(para, "y") != sizeof para - 1))
        __builtin_trap();
    if (split == MailerSplit::NoProgram && (exec[0] != '\0' || para[0] != '\0'))
        __builtin_trap();
    if (split == MailerSplit::Accepted) {
        if (!EndsWithExe(exec) || strlen(exec) >= sizeof exec || strlen(para) >= sizeof para)
            __builtin_trap();
        // What the box shows again splits into the same program.
        char joined[kMailerTextSize];
        JoinMailerText(exec, para, joined, sizeof joined);
        if (strncmp(joined, exec, strlen(exec)) != 0)
            __builtin_trap();
    }
    return 0;
}
