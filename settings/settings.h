// The one settings record, its defaults, and the registry groups it is loaded from and saved in.
#pragma once

#include <cstddef>
#include <cstdint>

struct SettingsRecord {
    char POP3[256];  // POP3 server host name
    char USER[64];
    char PASS[64];   // in memory as typed; stored as PENC says
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

// Puts every field back to its default (the state at program start).
void ResetSettings();

void LoadSettings();
void SaveAllSettings();
void SaveBasicSettings();   // POP3, USER, PASS, TIME
// Whenever PASS or PENC is written, so is the other and EPAS: with PENC set, PASS is written empty
// and EPAS holds the password protected; without it, EPAS is written empty.
void SaveDetailSettings();  // EXEC, PARA, PORT, APOP, STCH, DCHK, DMAL, ALLM, OLDM, TLSM, PENC, NTFY
void SaveNtpSettings();     // NTPS
