// The program's texts at the platform's edge. Inside, every text is code page 932, as it is in the
// registry's meaning and on the wire; Windows speaks UTF-16. Only this module knows both, and
// nothing here asks the system which code page it uses for programs that are not Unicode.
#pragma once

#include <windows.h>

#include <cstddef>

// length bytes of text, zeros included, as UTF-16 into out (room for size characters): the
// characters written, or -1 when they do not fit. Every code page 932 text has a UTF-16 form.
int ToWideChars(const char *text, int length, wchar_t *out, int size);
// length UTF-16 characters (at most 1024), zeros included, into out (room for size bytes): the bytes
// written, or -1 when a character has no form in code page 932 (é, most emoji...) or they do not
// fit. A character is never replaced by a look-alike or a question mark; only the few that
// Unicode sources write for a character of code page 932 (〜 for ～, − for －...) are taken as it.
int ToCodePageBytes(const wchar_t *text, int length, char *out, int size);

// A terminated text as UTF-16 into out (size characters), always terminated, cut at a whole
// character if it must be.
void ToWide(const char *text, wchar_t *out, int size);

// How a UTF-16 text came back into the program's code page.
enum class Narrowed {
    Whole,    // as it was
    Cut,      // it did not fit: out holds what does, ending on a whole character
    Foreign,  // a character has no form in code page 932: out is empty
};
// A terminated UTF-16 text into out (size bytes), always terminated.
Narrowed ToCodePage(const wchar_t *text, char *out, size_t size);

// The wide functions, with the program's texts.
void SetItemText(HWND dialog, int id, const char *text);
Narrowed GetItemText(HWND dialog, int id, char *out, size_t size);  // what the user typed
// A box owned by no window opens in front of other programs' windows, with a button on the taskbar.
int ShowMessage(HWND owner, const char *text, const char *caption, UINT type);
