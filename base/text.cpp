// Bounded text helpers shared by every subsystem.
#include "base/text.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

bool IsCp932LeadByte(unsigned char c)
{
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

size_t Cp932CutLength(const char *text, size_t max)
{
    size_t i = 0;
    while (i < max && text[i] != '\0') {
        if (IsCp932LeadByte(static_cast<unsigned char>(text[i]))) {
            if (i + 2 > max || text[i + 1] == '\0')
                break;  // the pair would straddle the cut, or has lost its second byte already
            i += 2;
        } else {
            i += 1;
        }
    }
    return i;
}

bool CopyText(char *dst, size_t size, const char *src)
{
    if (size == 0)
        return false;
    dst[0] = '\0';
    return AppendText(dst, size, src);
}

bool AppendText(char *dst, size_t size, const char *src)
{
    size_t used = strnlen(dst, size);
    if (used >= size)
        return false;
    size_t room = size - 1 - used;
    size_t n = Cp932CutLength(src, room);
    memcpy(dst + used, src, n);
    dst[used + n] = '\0';
    return src[n] == '\0';
}

size_t FormatText(char *dst, size_t size, const char *format, ...)
{
    if (size == 0)
        return 0;
    size_t cap = size < kFormatLimit ? size : kFormatLimit;
    va_list args;
    va_start(args, format);
    int wanted = vsnprintf(dst, cap, format, args);
    va_end(args);
    if (wanted < 0) {
        dst[0] = '\0';
        return 0;
    }
    size_t len = static_cast<size_t>(wanted);
    if (len >= cap) {
        len = Cp932CutLength(dst, cap - 1);
        dst[len] = '\0';
    }
    return len;
}

bool HasLineBreak(const char *text)
{
    return strpbrk(text, "\r\n") != nullptr;
}

void WipeSecret(void *data, size_t size)
{
    // Stores through a volatile pointer are part of what the program does: they stay.
    for (volatile unsigned char *p = static_cast<unsigned char *>(data); size > 0; size--)
        *p++ = 0;
}
