// Code page 932 to UTF-16 and back, and the few wide functions that take the program's texts.
#include "base/wide.h"

#include <cstring>

#include "base/text.h"

namespace {

// The program's code page, named: CP_ACP would be whatever the user's system has.
constexpr UINT kCodePage = 932;

// Longest text a window or an edit gives back here, in characters; more than any field holds.
constexpr int kLongestText = 1024;

// Characters that Unicode sources (a web page, a Unicode program's clipboard) write where code
// page 932 has the same character under another code point. Windows' own conversion takes each
// byte pair to the second form only, so the first would be refused as foreign: it is taken as the
// second, and so as the bytes every Japanese Windows program writes.
constexpr struct {
    wchar_t unicode, windows;
} kLookAlikes[] = {
    {L'\u301C', L'\uFF5E'},  // 〜 wave dash: 0x8160
    {L'\u2212', L'\uFF0D'},  // − minus sign: 0x817C
    {L'\u2014', L'\u2015'},  // — em dash: 0x815C
    {L'\u2016', L'\u2225'},  // ‖ double vertical line: 0x8161
    {L'\u00A2', L'\uFFE0'},  // ¢ 0x8191
    {L'\u00A3', L'\uFFE1'},  // £ 0x8192
    {L'\u00AC', L'\uFFE2'},  // ¬ 0x81CA
};

wchar_t WindowsForm(wchar_t c)
{
    for (const auto &pair : kLookAlikes)
        if (pair.unicode == c)
            return pair.windows;
    return c;
}

}  // namespace

int ToWideChars(const char *text, int length, wchar_t *out, int size)
{
    if (length == 0)
        return 0;
    int written = MultiByteToWideChar(kCodePage, 0, text, length, out, size);
    return written > 0 ? written : -1;
}

int ToCodePageBytes(const wchar_t *text, int length, char *out, int size)
{
    if (length == 0)
        return 0;
    wchar_t taken[kLongestText];
    if (length > kLongestText)
        return -1;
    for (int i = 0; i < length; i++)
        taken[i] = WindowsForm(text[i]);
    // The flag keeps Windows from writing "e" for "é"; the default character it writes instead
    // tells us that something had no form of its own.
    BOOL usedDefault = FALSE;
    int written = WideCharToMultiByte(kCodePage, WC_NO_BEST_FIT_CHARS, taken, length, out, size, nullptr, &usedDefault);
    return written > 0 && !usedDefault ? written : -1;
}

void ToWide(const char *text, wchar_t *out, int size)
{
    if (size <= 0)
        return;
    // Every character of code page 932 is one UTF-16 unit: the first size - 1 characters fit.
    size_t bytes = 0;
    for (int characters = 0; characters < size - 1 && text[bytes] != '\0'; characters++)
        bytes += IsCp932LeadByte(static_cast<unsigned char>(text[bytes])) && text[bytes + 1] != '\0' ? 2 : 1;
    int written = ToWideChars(text, static_cast<int>(bytes), out, size - 1);
    out[written > 0 ? written : 0] = L'\0';
}

Narrowed ToCodePage(const wchar_t *text, char *out, size_t size)
{
    char all[2 * kLongestText + 1];
    int length = lstrlenW(text);
    int written = ToCodePageBytes(text, length < kLongestText ? length : kLongestText, all, sizeof all - 1);
    if (size > 0)
        out[0] = '\0';
    if (written < 0)
        return Narrowed::Foreign;
    all[written] = '\0';
    return CopyText(out, size, all) && length <= kLongestText ? Narrowed::Whole : Narrowed::Cut;
}

void SetItemText(HWND dialog, int id, const char *text)
{
    wchar_t wide[kLongestText];
    ToWide(text, wide, kLongestText);
    SetDlgItemTextW(dialog, id, wide);
}

Narrowed GetItemText(HWND dialog, int id, char *out, size_t size)
{
    wchar_t wide[kLongestText + 2];  // one more than we take, to tell a longer text
    GetDlgItemTextW(dialog, id, wide, kLongestText + 2);
    return ToCodePage(wide, out, size);
}

int ShowMessage(HWND owner, const char *text, const char *caption, UINT type)
{
    wchar_t wideText[kLongestText];
    wchar_t wideCaption[80];
    ToWide(text, wideText, kLongestText);
    ToWide(caption, wideCaption, 80);
    return MessageBoxW(owner, wideText, wideCaption, owner == nullptr ? type | MB_SETFOREGROUND | MB_TASKMODAL : type);
}
