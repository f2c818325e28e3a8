// Settings store in the registry: one key under HKEY_CURRENT_USER, one value per field. Windows
// keeps a text as UTF-16 whatever code page a program uses; the program's texts are code page 932,
// so a key written by any version on any system reads back the same.
#include <windows.h>
#include <wincrypt.h>

#include <cstring>

#include "base/text.h"
#include "base/wide.h"
#include "resources/names.h"
#include "settings/store.h"

namespace {

HKEY openKey;
const wchar_t kKeyPath[] = L"" SETTINGS_KEY_PATH;

// A value name (four ASCII letters) as the wide functions take it.
const wchar_t *ValueName(const char *name, wchar_t (&out)[8])
{
    ToWide(name, out, 8);
    return out;
}

}  // namespace

bool StoreOpenForRead()
{
    // Loading only opens the key: a first start leaves the registry as it found it.
    return RegOpenKeyExW(HKEY_CURRENT_USER, kKeyPath, 0, KEY_READ, &openKey) == ERROR_SUCCESS;
}

long StoreRead(const char *name, void *data, uint32_t size)
{
    // Room for the protected password, and for a text field, whose every byte is one UTF-16 unit
    // at most.
    wchar_t stored[520], value[8];
    DWORD type = 0, length = sizeof stored;
    if (RegQueryValueExW(openKey, ValueName(name, value), nullptr, &type, reinterpret_cast<BYTE *>(stored), &length) !=
        ERROR_SUCCESS)
        return kStoreAbsent;
    if (type != REG_SZ && type != REG_EXPAND_SZ) {
        if (length > size)
            return kStoreAbsent;
        memcpy(data, stored, length);
        return static_cast<long>(length);
    }
    // Zeros and all, as a text field is stored; a value that is more than the field is not read.
    char text[2 * 520];
    int bytes = ToCodePageBytes(stored, static_cast<int>(length / 2), text, sizeof text);
    if (bytes < 0)
        return kStoreForeignText;  // the room is always enough: it can only be a character
    if (static_cast<uint32_t>(bytes) > size)
        return kStoreAbsent;
    memcpy(data, text, static_cast<size_t>(bytes));
    return bytes;
}

long StoreOpenForWrite()
{
    return RegCreateKeyExW(HKEY_CURRENT_USER, kKeyPath, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                           &openKey, nullptr);
}

void StoreWrite(const char *name, StoreType type, const void *data, uint32_t size)
{
    DWORD kind = type == StoreType::Text ? REG_SZ : type == StoreType::Number ? REG_DWORD : REG_BINARY;
    wchar_t text[520], value[8];
    int characters = 0;
    // The whole field, zeros included, as a program on a Japanese system always stored it.
    if (type == StoreType::Text && (characters = ToWideChars(static_cast<const char *>(data), static_cast<int>(size),
                                                              text, 520)) < 0)
        return;
    RegSetValueExW(openKey, ValueName(name, value), 0, kind,
                   type == StoreType::Text ? reinterpret_cast<const BYTE *>(text) : static_cast<const BYTE *>(data),
                   type == StoreType::Text ? static_cast<DWORD>(characters) * 2 : size);
}

void StoreClose() { RegCloseKey(openKey); }

void ReportStoreFailure(const char *text) { ShowMessage(nullptr, text, STORE_FAILURE_CAPTION, 0); }

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
