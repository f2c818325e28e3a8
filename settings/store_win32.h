// The registry side of the settings store; tests can make the key impossible to create.
#pragma once

#include <windows.h>

using CreateKeyFunction = LONG(WINAPI *)(HKEY, LPCSTR, DWORD, LPSTR, DWORD, REGSAM,
                                         LPSECURITY_ATTRIBUTES, PHKEY, LPDWORD);

// RegCreateKeyExA unless a test replaces it.
extern CreateKeyFunction SettingsCreateKey;
