// The text rules of the settings sheet, free of platform calls.
#include "settings/sheet_rules.h"

#include <cstring>

#include "base/text.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Bytes taken by the character at text: two for a lead byte with its partner, else one.
size_t CharLength(const char *text)
{
    return IsCp932LeadByte(static_cast<unsigned char>(text[0])) && text[1] != '\0' ? 2 : 1;
}

bool IsSeparator(char c) { return c == '\0' || c == ' ' || c == '\t' || c == '"'; }

// ".exe" in any case, ending the path: followed by the end, a space, a tab or a quote.
bool IsExeAt(const char *text)
{
    return text[0] == '.' && Lower(text[1]) == 'e' && Lower(text[2]) == 'x' && Lower(text[3]) == 'e' &&
           IsSeparator(text[4]);
}

// Offset of the first ".exe" that ends a path, or -1. The search steps over whole characters, so
// the second byte of a two-byte character never starts a match.
long FindExe(const char *text)
{
    for (size_t i = 0; text[i] != '\0'; i += CharLength(text + i))
        if (IsExeAt(text + i))
            return static_cast<long>(i);
    return -1;
}

// Copies length bytes of text as a terminated text; the caller has made sure that they fit.
void CopyPart(char *dst, const char *text, size_t length)
{
    memcpy(dst, text, length);
    dst[length] = '\0';
}

}  // namespace

int32_t ReadLeadingInteger(const char *text)
{
    while (IsBlank(*text))
        text++;
    bool negative = *text == '-';
    if (*text == '-' || *text == '+')
        text++;
    int64_t value = 0;
    for (; *text >= '0' && *text <= '9'; text++) {
        value = value * 10 + (*text - '0');
        if (value > int64_t{INT32_MAX} + 1)
            value = int64_t{INT32_MAX} + 1;  // far enough: the sign decides which bound it is
    }
    if (negative)
        value = -value;
    if (value > INT32_MAX)
        return INT32_MAX;
    return static_cast<int32_t>(value);
}

int32_t ClampInterval(int32_t minutes)
{
    if (minutes < kMinInterval)
        return kMinInterval;
    return minutes > kMaxInterval ? kMaxInterval : minutes;
}

int32_t IntervalFromText(const char *text)
{
    return ClampInterval(ReadLeadingInteger(text));
}

MailerSplit SplitMailerText(const char *text, char *exec, size_t execSize, char *para, size_t paraSize)
{
    const char *program = text;
    size_t programLength = 0;
    const char *rest = text;
    const char *closing = text[0] == '"' ? strchr(text + 1, '"') : nullptr;
    if (closing != nullptr) {
        program = text + 1;
        programLength = static_cast<size_t>(closing - program);
        if (programLength == 0)
            return MailerSplit::NoProgram;
        rest = closing + 1;
        if (*rest == ' ' || *rest == '\t')
            rest++;
    } else if (text[0] != '\0') {
        if (text[0] == '"')
            program++;
        long at = FindExe(program);
        if (at < 0)
            return MailerSplit::NoProgram;
        programLength = static_cast<size_t>(at) + 4;
        rest = program + programLength;
        if (*rest != '\0')
            rest++;  // the separator
    }
    size_t restLength = strlen(rest);
    if (programLength >= execSize || restLength >= paraSize)
        return MailerSplit::TooLong;
    CopyPart(exec, program, programLength);
    CopyPart(para, rest, restLength);
    return MailerSplit::Accepted;
}

void JoinMailerText(const char *exec, const char *para, char *text, size_t size)
{
    CopyText(text, size, exec);
    char program[kMailerTextSize];
    char arguments[kMailerTextSize];
    if (exec[0] != '\0' &&
        (SplitMailerText(exec, program, sizeof program, arguments, sizeof arguments) != MailerSplit::Accepted ||
         strcmp(program, exec) != 0)) {
        CopyText(text, size, "\"");
        AppendText(text, size, exec);
        AppendText(text, size, "\"");
    }
    if (para[0] != '\0') {
        AppendText(text, size, " ");
        AppendText(text, size, para);
    }
}
