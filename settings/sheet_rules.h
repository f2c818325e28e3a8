// The text rules of the settings sheet: the mail-program text, number reading, the interval's bounds.
#pragma once

#include <cstddef>
#include <cstdint>

// The mail-program box holds EXEC (in double quotes when it must be), a space and PARA:
// 2 + 259 + 1 + 255 bytes and a terminator.
constexpr size_t kMailerTextSize = 518;

// The leading decimal integer of text as the C runtime's atoi reads it: white space skipped, an
// optional sign, then digits; 0 when there are none. Values beyond 32 bits stop at the nearest
// 32-bit bound instead of wrapping.
int32_t ReadLeadingInteger(const char *text);

// TIME in minutes: at least one, and at most what the check timer can hold in milliseconds
// (35791 * 60000 is the last that fits a signed 32-bit count).
constexpr int32_t kMinInterval = 1;
constexpr int32_t kMaxInterval = 35791;
int32_t ClampInterval(int32_t minutes);

// The interval the page takes from its box: the leading integer, brought into that range.
int32_t IntervalFromText(const char *text);

enum class MailerSplit {
    Accepted,   // exec and para hold the program and its arguments (both empty for an empty text)
    NoProgram,  // no program can be told apart: exec and para are left as they were
    TooLong,    // a part does not fit its field: exec and para are left as they were
};

// Splits the mail-program box into the program and its arguments.
//  - Text that starts with a double quote and has a closing one names the program between them,
//    whatever kind of file it is. The arguments are what follows the closing quote, less one
//    space or tab.
//  - Otherwise the program is everything up to and including the first ".exe" (in any mix of
//    cases) that ends the path: followed by the end, a space, a tab or a double quote. An opening
//    quote without a partner is dropped first. The arguments are the rest, less that separator.
//  - An empty text clears both.
// A program longer than execSize - 1 bytes or arguments longer than paraSize - 1 bytes are
// refused whole: a cut path or a cut argument would start something else than the user wrote.
MailerSplit SplitMailerText(const char *text, char *exec, size_t execSize, char *para, size_t paraSize);

// What the box shows: exec (in double quotes when it would not split back as it is), then a
// space and para only when para is not empty.
void JoinMailerText(const char *exec, const char *para, char *text, size_t size);
