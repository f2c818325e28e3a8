// The registry side of the settings store; the key and the create call can be redirected by tests.
#pragma once

#include <windows.h>

using CreateKeyFunction = LONG(WINAPI *)(HKEY, LPCSTR, DWORD, LPSTR, DWORD, REGSAM,
                                         LPSECURITY_ATTRIBUTES, PHKEY, LPDWORD);

// The subkey of HKEY_CURRENT_USER that holds the values.
extern const char *SettingsKeyPath;
// RegCreateKeyExA unless a test replaces it.
extern CreateKeyFunction SettingsCreateKey;
