// Settings store in the registry: one key under HKEY_CURRENT_USER, one value per field.
#include "settings/store_win32.h"

#include "settings/settings.h"
#include "settings/store.h"

CreateKeyFunction SettingsCreateKey = RegCreateKeyExA;

namespace {
HKEY openKey;
}

bool StoreOpenForRead()
{
    // Loading only opens the key: a first start leaves the registry as it found it.
    return RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKeyPath, 0, KEY_READ, &openKey) == ERROR_SUCCESS;
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
    return SettingsCreateKey(HKEY_CURRENT_USER, kSettingsKeyPath, 0, noClass, REG_OPTION_NON_VOLATILE,
                             KEY_ALL_ACCESS, nullptr, &openKey, &disposition);
}

void StoreWrite(const char *name, StoreType type, const void *data, uint32_t size)
{
    RegSetValueExA(openKey, name, 0, type == StoreType::Text ? REG_SZ : REG_DWORD,
                   static_cast<const BYTE *>(data), size);
}

void StoreClose() { RegCloseKey(openKey); }

void ReportStoreFailure(const char *text) { MessageBoxA(nullptr, text, "エラー:RegCreateKeyEx", 0); }
