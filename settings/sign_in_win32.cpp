// The Run value, in UTF-16 from end to end: the program's path may hold any character.
#include "settings/sign_in.h"

#include <windows.h>

#include "resources/names.h"

namespace {

const wchar_t kRunKey[] = L"" SIGN_IN_KEY_PATH;
const wchar_t kApprovedKey[] = L"" SIGN_IN_APPROVED_KEY_PATH;
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

// Disabled in Task Manager (or the Settings app's list of start-up programs).
bool Disabled()
{
    BYTE data[64];
    DWORD size = sizeof data;
    return RegGetValueW(HKEY_CURRENT_USER, kApprovedKey, kValue, RRF_RT_REG_BINARY, nullptr, data, &size) ==
               ERROR_SUCCESS &&
           size > 0 && (data[0] & 1) != 0;
}

// True when the program a Run value starts is there: the path in its quotes, or the whole value.
bool ProgramExists(const wchar_t *value)
{
    wchar_t path[MAX_PATH + 3];
    const wchar_t *start = value[0] == L'"' ? value + 1 : value;
    int length = 0;
    while (start[length] != L'\0' && !(value[0] == L'"' && start[length] == L'"') && length < MAX_PATH + 2)
        length++;
    lstrcpynW(path, start, length + 1);
    wchar_t expanded[MAX_PATH];
    DWORD expandedLength = ExpandEnvironmentStringsW(path, expanded, MAX_PATH);
    if (expandedLength == 0 || expandedLength > MAX_PATH)
        return true;  // not ours to judge
    return GetFileAttributesW(expanded) != INVALID_FILE_ATTRIBUTES;
}

// Names this program in the Run value.
bool WriteValue()
{
    wchar_t path[MAX_PATH + 3];
    return QuotedProgramPath(path) &&
           RegSetKeyValueW(HKEY_CURRENT_USER, kRunKey, kValue, REG_SZ, path,
                           static_cast<DWORD>((lstrlenW(path) + 1) * sizeof path[0])) == ERROR_SUCCESS;
}

}  // namespace

bool StartsAtSignIn()
{
    wchar_t stored[MAX_PATH + 3];
    return ReadValue(stored) && !Disabled();
}

void SetStartAtSignIn(bool on)
{
    if (!on)
        RegDeleteKeyValueW(HKEY_CURRENT_USER, kRunKey, kValue);
    else if (WriteValue())
        RegDeleteKeyValueW(HKEY_CURRENT_USER, kApprovedKey, kValue);  // enabled again
}

void KeepSignInCurrent()
{
    wchar_t stored[MAX_PATH + 3];
    if (ReadValue(stored) && stored[0] != L'\0' && !ProgramExists(stored))
        WriteValue();
}
