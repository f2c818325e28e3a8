// Bounded text helpers: every copy and every formatted text goes into a fixed buffer through these.
#pragma once

#include <cstddef>

// Longest text FormatText writes, terminator included: the bound that every formatted text of the
// program was written for (Windows' wsprintf has the same one).
constexpr size_t kFormatLimit = 1024;

// True for a byte that starts a two-byte character of code page 932.
bool IsCp932LeadByte(unsigned char c);

// The largest length <= max at which text can be cut without leaving the lead byte of a
// two-byte character behind. Stops early at the terminator.
size_t Cp932CutLength(const char *text, size_t max);

// Copies src into dst of size bytes, always terminated, never splitting a two-byte character.
// Returns false when src had to be cut.
bool CopyText(char *dst, size_t size, const char *src);

// Appends src to the text in dst (size bytes in all), with the same guarantees as CopyText.
bool AppendText(char *dst, size_t size, const char *src);

// printf-style formatting into dst, writing at most min(size, kFormatLimit) bytes including the
// terminator. A cut result never ends on half a two-byte character. Returns the length written.
size_t FormatText(char *dst, size_t size, const char *format, ...)
    __attribute__((format(printf, 3, 4)));

// True when text holds a carriage return or a line feed.
bool HasLineBreak(const char *text);

// Overwrites size bytes with zeros in a way the compiler may not drop, for buffers that held a
// secret and are not read again.
void WipeSecret(void *data, size_t size);
