// SNTP clock synchronisation: one exchange with an NTP server sets the local clock.
#pragma once

#include <cstddef>
#include <cstdint>

#include "clock/local_clock.h"

constexpr size_t kSyncReportSize = 1024;
constexpr uint16_t kNtpPort = 123;
constexpr uint16_t kSntpLocalPort = 1024;  // where the request leaves from and the reply comes to
constexpr int kSntpWaitMs = 3000;
constexpr int kSntpPacketSize = 48;

// One SNTP exchange with server ("host" or "host:port") that sets the system clock to the
// server's transmit time, in UTC. Where the program may not set the clock, Windows asks the user
// for consent to an elevated copy of the program that does it (SetClockWithConsent). Always
// leaves a text for the user in report (kSyncReportSize bytes).
// 0: the clock was set; the report holds the PC time, the server time (in the local zone) and the
// success line, and after a consent how far off the clock was, before the success line.
// -1: it was not. The report is one "Error: " line, unless the clock could not be set: then the
// two time lines stay, followed by how far the PC's clock is off, the error line, and why.
int SyncClock(const char *server, char *report);

// The elevated copy's command line: the switch, then the server text in double quotes.
constexpr char kClockSwitch[] = "/synctime";
constexpr size_t kClockSwitchSize = sizeof kClockSwitch + 3 + 256;
// The parameters that start it for server: false for a text it would not take back.
bool BuildClockSwitch(const char *server, char *out, size_t size);
// A whole command line, the program's name first, as Windows gives it: true, with the server
// text in server (size bytes), when it is the switch and one server text of 1 to 255 bytes, quoted
// or not, and nothing else. Any other command line starts the program as usual.
bool ParseClockSwitch(const char *commandLine, char *server, size_t size);
// What the elevated copy does: one exchange with server and the clock set, with no window, no
// setting and no log. Its exit code: 0 when the clock was set, kHelperNoTime when the exchange
// failed, else the platform's error code.
uint32_t RunClockHelper(const char *server);

// The pieces of the exchange, free of platform calls.

// Splits "host" or "host:port". The host is what stands before the first ':'; the port, after it,
// must be a decimal number from 1 to 65535; 123 without a ':'. nullptr, or the error line when the
// host does not fit hostSize bytes or the port is no such number.
const char *SplitServerText(const char *server, char *host, size_t hostSize, uint16_t *port);

// nullptr when a reply of length bytes can be trusted, else the error line that refuses it.
const char *CheckSntpReply(const unsigned char *reply, int length);
