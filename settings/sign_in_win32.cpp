// The Run value, in UTF-16 from end to end: the program's path may hold any character.
#include "settings/sign_in.h"

#include <windows.h>

#include "resources/names.h"

namespace {

const wchar_t kRunKey[] = L"" SIGN_IN_KEY_PATH;
const wchar_t kValue[] = L"" SIGN_IN_VALUE;

// The running program's path in double quotes, as the Run key needs it when it holds a space.
bool QuotedProgramPath(wchar_t (&out)[MAX_PATH + 3])
{
    DWORD length = GetModuleFileNameW(nullptr, out + 1, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return false;
    out[0] = L'"';
    out[length + 1] = L'"';
    out[length + 2] = L'\0';
    return true;
}

// The value as stored (empty when it is longer than any path of ours); false when there is none.
bool ReadValue(wchar_t (&out)[MAX_PATH + 3])
{
    DWORD size = sizeof out;
    out[0] = L'\0';
    LSTATUS status = RegGetValueW(HKEY_CURRENT_USER, kRunKey, kValue, RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ |
                                  RRF_NOEXPAND, nullptr, out, &size);
    if (status == ERROR_MORE_DATA)
        out[0] = L'\0';
    return status == ERROR_SUCCESS || status == ERROR_MORE_DATA;
}

}  // namespace

bool StartsAtSignIn()
{
    wchar_t stored[MAX_PATH + 3];
    return ReadValue(stored);
}

void SetStartAtSignIn(bool on)
{
    wchar_t path[MAX_PATH + 3];
    if (!on)
        RegDeleteKeyValueW(HKEY_CURRENT_USER, kRunKey, kValue);
    else if (QuotedProgramPath(path))
        RegSetKeyValueW(HKEY_CURRENT_USER, kRunKey, kValue, REG_SZ, path,
                        static_cast<DWORD>((lstrlenW(path) + 1) * sizeof path[0]));
}

void KeepSignInCurrent()
{
    wchar_t stored[MAX_PATH + 3], path[MAX_PATH + 3];
    if (ReadValue(stored) && QuotedProgramPath(path) && lstrcmpiW(stored, path) != 0)
        SetStartAtSignIn(true);
}
