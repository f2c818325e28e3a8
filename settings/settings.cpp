// The settings record and its load and save groups; the store behind it is platform code.
#include "settings/settings.h"

#include <cstring>

#include "settings/store.h"
#include "base/log.h"
#include "base/text.h"

namespace {

#define POLLWICK_DEFAULT(name, kind, width, value, groups) .name = value,
constexpr SettingsRecord kDefaults = {POLLWICK_SETTINGS(POLLWICK_DEFAULT) .SheetOpen = 0};

#define POLLWICK_FIELD(name, kind, width, value, groups)                                        \
    static_assert(sizeof(SettingsRecord::name) == (width), "the record's " #name " is its width"); \
    static_assert(StoreType::kind == StoreType::Text || sizeof(SettingsRecord::name) == 4);
POLLWICK_SETTINGS(POLLWICK_FIELD)

constexpr uint32_t Widest()
{
    uint32_t widest = 0;
#define POLLWICK_WIDTH(name, kind, width, value, groups) widest = (width) > widest ? (width) : widest;
    POLLWICK_SETTINGS(POLLWICK_WIDTH)
    return widest;
}
// Room for any one field's value.
constexpr uint32_t kWidest = Widest();

// Fields whose stored value was refused at load: one bit each, by SettingId.
uint32_t refused;
static_assert(kSettingCount <= 32);

}  // namespace

#define POLLWICK_ENTRY(name, kind, width, value, groups) \
    {#name, StoreType::kind, offsetof(SettingsRecord, name), width, groups},
const SettingField kSettingFields[kSettingCount] = {POLLWICK_SETTINGS(POLLWICK_ENTRY)};

SettingsRecord Settings = kDefaults;

namespace {

// The protected password, a value of its own beside PASS.
const char kProtectedName[] = "EPAS";
constexpr uint32_t kProtectedSize = 1024;

uint8_t *FieldData(SettingId id) { return reinterpret_cast<uint8_t *>(&Settings) + kSettingFields[id].offset; }

void Refuse(SettingId id) { refused |= uint32_t{1} << id; }

void LoadField(SettingId id)
{
    const SettingField &field = kSettingFields[id];
    // Read into a copy so that a value which does not fit, or is cut short, never leaves the
    // field half written.
    uint8_t data[kWidest];
    memcpy(data, FieldData(id), field.width);
    if (field.type == StoreType::Text)
        memset(data, 0, field.width);
    long stored = StoreRead(field.name, data, field.width);
    if (stored == kStoreForeignText) {
        // Written by another program: changed to fit, it would be another server, name or password.
        char line[80];
        FormatText(line, sizeof line, "Error: レジストリの値 %s に使えない文字があるため、読み込みませんでした\r\n",
                   field.name);
        AppendLog(kSystem, line);
        Refuse(id);
    }
    if (stored < 0)
        return;
    if (field.type == StoreType::Text) {
        // Stored data that fills the whole width without a zero byte still ends inside the field.
        char *text = reinterpret_cast<char *>(data);
        if (memchr(text, '\0', field.width) == nullptr)
            text[Cp932CutLength(text, field.width - 1)] = '\0';
    }
    memcpy(FieldData(id), data, field.width);
    WipeSecret(data, sizeof data);
}

// With PENC set, the password comes from EPAS when that is there; one that cannot be read here
// leaves PASS empty, so that the program asks for it again, and stays stored as it is.
void LoadProtectedPassword()
{
    uint8_t data[kProtectedSize];
    long length = Settings.PENC != 0 ? StoreRead(kProtectedName, data, sizeof data) : -1;
    if (length <= 0)
        return;
    if (!StoreUnprotect(data, static_cast<uint32_t>(length), Settings.PASS, sizeof Settings.PASS)) {
        WipeSecret(Settings.PASS, sizeof Settings.PASS);
        AppendLog(kSystem, "Error: 保存されたパスワードを復号できないため、もう一度設定してください\r\n");
        Refuse(kPASS);
    }
}

// Writes one field; a text's bytes after its terminator are zeros, never an older value's tail.
void SaveField(SettingId id, const uint8_t *value)
{
    const SettingField &field = kSettingFields[id];
    uint8_t data[kWidest];
    memcpy(data, value, field.width);
    if (field.type == StoreType::Text) {
        size_t length = strnlen(reinterpret_cast<char *>(data), field.width);
        memset(data + length, 0, field.width - length);
    }
    StoreWrite(field.name, field.type, data, field.width);
    WipeSecret(data, sizeof data);
}

// PASS and EPAS as PENC wants them. A password that cannot be protected is kept as before, in
// PASS: the user is told, and nothing is lost.
void SavePassword()
{
    uint8_t data[kProtectedSize];
    uint8_t empty[sizeof Settings.PASS] = {};
    uint32_t length = Settings.PENC != 0 ? StoreProtect(Settings.PASS, data, sizeof data) : 0;
    if (Settings.PENC != 0 && length == 0)
        AppendLog(kSystem, "Error: パスワードを暗号化できなかったため、暗号化せずに保存しました\r\n");
    SaveField(kPASS, length != 0 ? empty : reinterpret_cast<const uint8_t *>(Settings.PASS));
    StoreWrite(kProtectedName, StoreType::Bytes, data, length);
    WipeSecret(data, sizeof data);
}

// Writes the fields of the groups (all of them for ~0u), leaving refused values as they are stored.
void SaveGroups(unsigned groups)
{
    long status = StoreOpenForWrite();
    if (status != 0) {
        char text[80];
        FormatText(text, sizeof text, "エラーコード:%d", static_cast<int>(status));
        ReportStoreFailure(text);
        return;
    }
    bool password = false;
    for (int i = 0; i < kSettingCount; i++) {
        SettingId id = static_cast<SettingId>(i);
        if ((kSettingFields[id].groups & groups) == 0 || SettingRefused(id))
            continue;
        if (id == kPASS || id == kPENC)
            password = true;  // written below, together
        else
            SaveField(id, FieldData(id));
    }
    if (password) {
        SaveField(kPENC, FieldData(kPENC));
        if (!SettingRefused(kPASS))
            SavePassword();
    }
    StoreClose();
}

}  // namespace

void ResetSettings()
{
    Settings = kDefaults;
    refused = 0;
}

char *TextSetting(SettingId id) { return reinterpret_cast<char *>(FieldData(id)); }
int32_t *NumberSetting(SettingId id) { return reinterpret_cast<int32_t *>(FieldData(id)); }

void SetTextSetting(SettingId id, const char *text)
{
    char *field = TextSetting(id);
    if (strcmp(field, text) == 0)
        return;
    CopyText(field, kSettingFields[id].width, text);
    refused &= ~(uint32_t{1} << id);
}

bool SettingRefused(SettingId id) { return (refused & (uint32_t{1} << id)) != 0; }

void LoadSettings()
{
    if (!StoreOpenForRead())
        return;
    for (int i = 0; i < kSettingCount; i++)
        LoadField(static_cast<SettingId>(i));
    LoadProtectedPassword();
    StoreClose();
}

void SaveAllSettings() { SaveGroups(~0u); }
void SaveBasicSettings() { SaveGroups(kBasicGroup); }
void SaveDetailSettings() { SaveGroups(kDetailGroup); }
void SaveNtpSettings() { SaveGroups(kNtpGroup); }
