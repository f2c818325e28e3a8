// The settings record and its load and save groups; the store behind it is platform code.
#include "settings/settings.h"

#include <cstring>

#include "settings/store.h"
#include "shell/text.h"

namespace {
constexpr SettingsRecord kDefaults = {
    .POP3 = "", .USER = "", .PASS = "", .EXEC = "", .PARA = "",
    .PORT = 110, .TIME = 5, .APOP = 0, .STCH = 0, .DCHK = 1, .DMAL = 0, .ALLM = 0, .OLDM = 0,
    .NTPS = "jp.pool.ntp.org", .TLSM = 0, .SheetOpen = 0,
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
};

#undef TEXT_FIELD
#undef NUMBER_FIELD

enum FieldIndex { POP3, USER, PASS, EXEC, PARA, PORT, TIME, APOP, STCH, DCHK, DMAL, ALLM, OLDM, NTPS, TLSM };

// A key written before TLSM existed lacks it and loads as before: the field keeps its default.
constexpr FieldIndex kAll[] = {POP3, USER, PASS, EXEC, PARA, PORT, TIME, APOP,
                               STCH, DCHK, DMAL, ALLM, OLDM, NTPS, TLSM};
constexpr FieldIndex kBasic[] = {POP3, USER, PASS, TIME};
constexpr FieldIndex kDetail[] = {EXEC, PARA, PORT, APOP, STCH, DCHK, DMAL, ALLM, OLDM, TLSM};
constexpr FieldIndex kNtp[] = {NTPS};

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
    if (stored < 0)
        return;
    if (field.type == StoreType::Text) {
        // Stored data that fills the whole width without a zero byte still ends inside the field.
        char *text = reinterpret_cast<char *>(data);
        if (memchr(text, '\0', field.width) == nullptr)
            text[Cp932CutLength(text, field.width - 1)] = '\0';
    }
    memcpy(FieldData(field), data, field.width);
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
    for (FieldIndex index : group) {
        const Field &field = kFields[index];
        StoreWrite(field.name, field.type, FieldData(field), field.width);
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
    StoreClose();
}

void SaveAllSettings() { SaveGroup(kAll); }
void SaveBasicSettings() { SaveGroup(kBasic); }
void SaveDetailSettings() { SaveGroup(kDetail); }
void SaveNtpSettings() { SaveGroup(kNtp); }

int32_t ClampInterval(int32_t minutes)
{
    if (minutes < kMinInterval)
        return kMinInterval;
    return minutes > kMaxInterval ? kMaxInterval : minutes;
}
