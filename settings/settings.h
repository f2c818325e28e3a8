// The one settings record, its defaults, and the registry groups it is loaded from and saved in.
#pragma once

#include <cstddef>
#include <cstdint>

#include "settings/store.h"

// The save groups besides the one of every value at exit: what each page of the sheet writes.
enum SaveGroup : unsigned { kBasicGroup = 1, kDetailGroup = 2, kNtpGroup = 4 };

// Every setting once: X(name, kind, width in bytes, default, save groups). The name is the registry
// value's and the record's field's. Every load and save visits them in this order; the last three
// came later, so a key written before them loads as it did (they keep their defaults).
// Whenever PASS or PENC is written, so is the other and EPAS (settings.cpp).
#define POLLWICK_SETTINGS(X)                                                       \
    X(POP3, Text, 256, "", kBasicGroup)          /* POP3 server host name */       \
    X(USER, Text, 64, "", kBasicGroup)                                             \
    X(PASS, Text, 64, "", kBasicGroup)           /* as typed; stored as PENC says */ \
    X(EXEC, Text, 260, "", kDetailGroup)         /* the mail program */            \
    X(PARA, Text, 256, "", kDetailGroup)         /* its arguments */               \
    X(PORT, Number, 4, 110, kDetailGroup)        /* POP3 TCP port */               \
    X(TIME, Number, 4, 5, kBasicGroup)           /* minutes between checks */      \
    X(APOP, Number, 4, 0, kDetailGroup)          /* APOP instead of USER/PASS */   \
    X(STCH, Number, 4, 0, kDetailGroup)          /* check at start-up */           \
    X(DCHK, Number, 4, 1, kDetailGroup)          /* a double click checks */       \
    X(DMAL, Number, 4, 0, kDetailGroup)          /* ... or starts the mail program */ \
    X(ALLM, Number, 4, 0, kDetailGroup)          /* messages at the last check */  \
    X(OLDM, Number, 4, 0, kDetailGroup)          /* ... already acknowledged */    \
    X(NTPS, Text, 256, "jp.pool.ntp.org", kNtpGroup) /* "host" or "host:port" */   \
    X(TLSM, Number, 4, 0, kDetailGroup)          /* a TlsMode */                   \
    X(PENC, Number, 4, 0, kDetailGroup)          /* the password stored protected, in EPAS */ \
    X(NTFY, Number, 4, 1, kDetailGroup)          /* a notification when mail arrives */

#define POLLWICK_MEMBER_Text(name, width) char name[width];
#define POLLWICK_MEMBER_Number(name, width) int32_t name;
#define POLLWICK_MEMBER(name, kind, width, value, groups) POLLWICK_MEMBER_##kind(name, width)
#define POLLWICK_ID(name, kind, width, value, groups) k##name,

struct SettingsRecord {
    POLLWICK_SETTINGS(POLLWICK_MEMBER)
    int32_t SheetOpen;  // 1 while the settings sheet is open; never stored
};

// A setting by its place in the list: kPOP3, kUSER, ...
enum SettingId { POLLWICK_SETTINGS(POLLWICK_ID) kSettingCount };

struct SettingField {
    const char *name;
    StoreType type;  // Text or Number
    size_t offset;   // in SettingsRecord
    uint32_t width;
    unsigned groups;  // SaveGroup bits
};
extern const SettingField kSettingFields[kSettingCount];

// TLSM: how the POP3 session is protected.
enum TlsMode : int32_t { kTlsNone = 0, kTlsStls = 1, kTlsImplicit = 2, kTlsModes = 3 };

extern SettingsRecord Settings;

// Puts every field back to its default (the state at program start), and forgets refusals.
void ResetSettings();

// A field of the record, by its id.
char *TextSetting(SettingId id);
int32_t *NumberSetting(SettingId id);

// A stored value that the program refused to load (a text with a character it cannot keep, or a
// protected password it cannot read here) stays in the registry: every save leaves it as it is,
// until the user sets that field. The sheet sets text fields through here: a text other than the
// one the field holds now counts as set by the user.
void SetTextSetting(SettingId id, const char *text);
bool SettingRefused(SettingId id);

void LoadSettings();
void SaveAllSettings();
void SaveBasicSettings();   // the fields of kBasicGroup (and PENC with PASS)
void SaveDetailSettings();  // kDetailGroup (and PASS with PENC)
void SaveNtpSettings();     // kNtpGroup
