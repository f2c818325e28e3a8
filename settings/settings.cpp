// The settings record and its load and save groups; the store behind it is platform code.
#include "settings/settings.h"

#include <cstring>

#include "settings/store.h"
#include "base/log.h"
#include "base/text.h"

namespace {
constexpr SettingsRecord kDefaults = {
    .POP3 = "", .USER = "", .PASS = "", .EXEC = "", .PARA = "",
    .PORT = 110, .TIME = 5, .APOP = 0, .STCH = 0, .DCHK = 1, .DMAL = 0, .ALLM = 0, .OLDM = 0,
    .NTPS = "jp.pool.ntp.org", .TLSM = 0, .PENC = 0, .NTFY = 1, .SheetOpen = 0,
};
}  // namespace

SettingsRecord Settings = kDefaults;

namespace {

struct Field {
    const char *name;
    StoreType type;
    size_t offset;
    uint32_t width;
};

#define TEXT_FIELD(f) {#f, StoreType::Text, offsetof(SettingsRecord, f), sizeof(SettingsRecord::f)}
#define NUMBER_FIELD(f) {#f, StoreType::Number, offsetof(SettingsRecord, f), sizeof(SettingsRecord::f)}

// Every load and save visits the values in this order.
constexpr Field kFields[] = {
    TEXT_FIELD(POP3),   TEXT_FIELD(USER),   TEXT_FIELD(PASS),   TEXT_FIELD(EXEC),   TEXT_FIELD(PARA),
    NUMBER_FIELD(PORT), NUMBER_FIELD(TIME), NUMBER_FIELD(APOP), NUMBER_FIELD(STCH), NUMBER_FIELD(DCHK),
    NUMBER_FIELD(DMAL), NUMBER_FIELD(ALLM), NUMBER_FIELD(OLDM), TEXT_FIELD(NTPS),   NUMBER_FIELD(TLSM),
    NUMBER_FIELD(PENC), NUMBER_FIELD(NTFY),
};

#undef TEXT_FIELD
#undef NUMBER_FIELD

enum FieldIndex { POP3, USER, PASS, EXEC, PARA, PORT, TIME, APOP, STCH, DCHK, DMAL, ALLM, OLDM, NTPS, TLSM, PENC, NTFY };

// A key written before TLSM, PENC and NTFY existed lacks them and loads as before: they keep their
// defaults.
constexpr FieldIndex kAll[] = {POP3, USER, PASS, EXEC, PARA, PORT, TIME, APOP, STCH,
                               DCHK, DMAL, ALLM, OLDM, NTPS, TLSM, PENC, NTFY};
constexpr FieldIndex kBasic[] = {POP3, USER, PASS, TIME};
constexpr FieldIndex kDetail[] = {EXEC, PARA, PORT, APOP, STCH, DCHK, DMAL, ALLM, OLDM, TLSM, PENC, NTFY};
constexpr FieldIndex kNtp[] = {NTPS};

// The protected password, a value of its own beside PASS.
const char kProtectedName[] = "EPAS";
constexpr uint32_t kProtectedSize = 1024;

uint8_t *FieldData(const Field &field) { return reinterpret_cast<uint8_t *>(&Settings) + field.offset; }

void LoadField(const Field &field)
{
    // Read into a copy so that a value which does not fit, or is cut short, never leaves the
    // field half written.
    uint8_t data[260];
    memcpy(data, FieldData(field), field.width);
    if (field.type == StoreType::Text)
        memset(data, 0, field.width);
    long stored = StoreRead(field.name, data, field.width);
    if (stored == kStoreForeignText) {
        // Written by another program: changed to fit, it would be another server, name or password.
        char line[80];
        FormatText(line, sizeof line, "Error: レジストリの %s に使えない文字があるため読み込みません\r\n", field.name);
        AppendLog(kSystem, line);
    }
    if (stored < 0)
        return;
    if (field.type == StoreType::Text) {
        // Stored data that fills the whole width without a zero byte still ends inside the field.
        char *text = reinterpret_cast<char *>(data);
        if (memchr(text, '\0', field.width) == nullptr)
            text[Cp932CutLength(text, field.width - 1)] = '\0';
    }
    memcpy(FieldData(field), data, field.width);
    WipeSecret(data, sizeof data);
}

// With PENC set, the password comes from EPAS when that is there; one that cannot be read here
// leaves PASS empty, so that the program asks for it again.
void LoadProtectedPassword()
{
    uint8_t data[kProtectedSize];
    long length = Settings.PENC != 0 ? StoreRead(kProtectedName, data, sizeof data) : -1;
    if (length <= 0)
        return;
    if (!StoreUnprotect(data, static_cast<uint32_t>(length), Settings.PASS, sizeof Settings.PASS)) {
        WipeSecret(Settings.PASS, sizeof Settings.PASS);
        AppendLog(kSystem, "Error: 保存されたパスワードを復号できません。パスワードをもう一度設定してください\r\n");
    }
}

// Writes one field; a text's bytes after its terminator are zeros, never an older value's tail.
void SaveField(const Field &field, const uint8_t *value)
{
    uint8_t data[260];
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
    SaveField(kFields[PASS], length != 0 ? empty : reinterpret_cast<const uint8_t *>(Settings.PASS));
    StoreWrite(kProtectedName, StoreType::Bytes, data, length);
    WipeSecret(data, sizeof data);
}

template <size_t N>
void SaveGroup(const FieldIndex (&group)[N])
{
    long status = StoreOpenForWrite();
    if (status != 0) {
        char text[80];
        FormatText(text, sizeof text, "エラーコード:%d", static_cast<int>(status));
        ReportStoreFailure(text);
        return;
    }
    bool password = false;
    for (FieldIndex index : group) {
        if (index == PASS || index == PENC)
            password = true;  // written below, together
        else
            SaveField(kFields[index], FieldData(kFields[index]));
    }
    if (password) {
        SaveField(kFields[PENC], FieldData(kFields[PENC]));
        SavePassword();
    }
    StoreClose();
}

}  // namespace

void ResetSettings()
{
    Settings = kDefaults;
}

void LoadSettings()
{
    if (!StoreOpenForRead())
        return;
    for (FieldIndex index : kAll)
        LoadField(kFields[index]);
    LoadProtectedPassword();
    StoreClose();
}

void SaveAllSettings() { SaveGroup(kAll); }
void SaveBasicSettings() { SaveGroup(kBasic); }
void SaveDetailSettings() { SaveGroup(kDetail); }
void SaveNtpSettings() { SaveGroup(kNtp); }
