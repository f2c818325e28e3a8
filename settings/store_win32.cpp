// Settings store in the registry: one key under HKEY_CURRENT_USER, one value per field.
#include <windows.h>
#include <wincrypt.h>

#include <cstring>

#include "base/text.h"
#include "resources/names.h"
#include "settings/store.h"

namespace {
HKEY openKey;
}

bool StoreOpenForRead()
{
    // Loading only opens the key: a first start leaves the registry as it found it.
    return RegOpenKeyExA(HKEY_CURRENT_USER, SETTINGS_KEY_PATH, 0, KEY_READ, &openKey) == ERROR_SUCCESS;
}

long StoreRead(const char *name, void *data, uint32_t size)
{
    DWORD length = size;
    if (RegQueryValueExA(openKey, name, nullptr, nullptr, static_cast<BYTE *>(data), &length) != ERROR_SUCCESS)
        return -1;
    return static_cast<long>(length);
}

long StoreOpenForWrite()
{
    char noClass[1] = "";
    DWORD disposition;
    return RegCreateKeyExA(HKEY_CURRENT_USER, SETTINGS_KEY_PATH, 0, noClass, REG_OPTION_NON_VOLATILE,
                             KEY_ALL_ACCESS, nullptr, &openKey, &disposition);
}

void StoreWrite(const char *name, StoreType type, const void *data, uint32_t size)
{
    DWORD kind = type == StoreType::Text ? REG_SZ : type == StoreType::Number ? REG_DWORD : REG_BINARY;
    RegSetValueExA(openKey, name, 0, kind, static_cast<const BYTE *>(data), size);
}

void StoreClose() { RegCloseKey(openKey); }

void ReportStoreFailure(const char *text) { MessageBoxA(nullptr, text, STORE_FAILURE_CAPTION, 0); }

// Windows' data protection for the current user (crypt32, which the TLS check loads anyway); it
// never shows a window of its own.
uint32_t StoreProtect(const char *text, uint8_t *out, uint32_t capacity)
{
    DATA_BLOB plain = {static_cast<DWORD>(strlen(text)), reinterpret_cast<BYTE *>(const_cast<char *>(text))};
    DATA_BLOB sealed = {};
    if (!CryptProtectData(&plain, L"Pollwick", nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &sealed))
        return 0;
    uint32_t length = sealed.cbData <= capacity ? sealed.cbData : 0;
    memcpy(out, sealed.pbData, length);
    LocalFree(sealed.pbData);
    return length;
}

bool StoreUnprotect(const uint8_t *data, uint32_t length, char *text, uint32_t size)
{
    DATA_BLOB sealed = {length, const_cast<BYTE *>(data)};
    DATA_BLOB plain = {};
    if (!CryptUnprotectData(&sealed, nullptr, nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &plain))
        return false;
    bool fits = plain.cbData < size && memchr(plain.pbData, '\0', plain.cbData) == nullptr;
    if (fits) {
        memcpy(text, plain.pbData, plain.cbData);
        text[plain.cbData] = '\0';
    }
    WipeSecret(plain.pbData, plain.cbData);
    LocalFree(plain.pbData);
    return fits;
}
