// The one settings record, its defaults, and the registry groups it is loaded from and saved in.
#pragma once

#include <cstddef>
#include <cstdint>

struct SettingsRecord {
    char POP3[256];  // POP3 server host name
    char USER[64];
    char PASS[64];   // kept and stored as plain text
    char EXEC[260];  // mail program
    char PARA[256];  // its arguments
    int32_t PORT;    // POP3 TCP port
    int32_t TIME;    // minutes between checks
    int32_t APOP;    // log in with APOP instead of USER/PASS
    int32_t STCH;    // check at start-up
    int32_t DCHK;    // double click checks at once
    int32_t DMAL;    // double click starts the mail program
    int32_t ALLM;    // messages at the last check
    int32_t OLDM;    // messages already acknowledged
    char NTPS[256];  // NTP server, "host" or "host:port"
    int32_t TLSM;    // 0 plain POP3, 1 STLS after the greeting, 2 TLS from the connect (POP3S)
    int32_t PENC;    // the password is stored protected (in EPAS) instead of in PASS
    int32_t NTFY;    // a notification from the icon when new mail arrives
    int32_t SheetOpen;  // 1 while the settings sheet is open; never stored
};

extern SettingsRecord Settings;

// TIME in minutes: at least one, and at most what the check timer can hold in milliseconds
// (35791 * 60000 is the last that fits a signed 32-bit count).
constexpr int32_t kMinInterval = 1;
constexpr int32_t kMaxInterval = 35791;
int32_t ClampInterval(int32_t minutes);

// Where the values live, under the current user.
constexpr char kSettingsKeyPath[] = "Software\\Quorvane\\Pollwick";

// Puts every field back to its default (the state at program start).
void ResetSettings();

void LoadSettings();
void SaveAllSettings();
void SaveBasicSettings();   // POP3, USER, PASS, TIME
// Whenever PASS or PENC is written, so is the other and EPAS: with PENC set, PASS is written empty
// and EPAS holds the password protected; without it, EPAS is written empty.
void SaveDetailSettings();  // EXEC, PARA, PORT, APOP, STCH, DCHK, DMAL, ALLM, OLDM, TLSM, PENC, NTFY
void SaveNtpSettings();     // NTPS
