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

// One SNTP exchange with server ("host" or "host:port") that sets the local clock to the
// server's transmit time. Always leaves a text for the user in report (kSyncReportSize bytes).
// 0: the clock was set; the report holds the PC time, the server time and the success line.
// -1: it was not. The report is one "Error: " line, unless the platform refused to set the clock:
// then the two time lines stay, followed by how far the PC's clock is off, the error line, and
// the reason with the platform's error code (and, for a user without the privilege, what to do).
int SyncClock(const char *server, char *report);

// The pieces of the exchange, free of platform calls.

// Splits "host" or "host:port". The host is what stands before the first ':'; the port is the
// rest read like atoi and cut to 16 bits, or 123 without a ':'. nullptr, or the error line when
// the host does not fit hostSize bytes or the port text is longer than 7 characters.
const char *SplitServerText(const char *server, char *host, size_t hostSize, uint16_t *port);

// The request: LI 0, version 1, mode 3 (client), nonce as the transmit timestamp, and nothing else.
void BuildSntpRequest(char *packet, const unsigned char nonce[8]);

// nullptr when a reply of length bytes can be trusted, else the error line that refuses it.
const char *CheckSntpReply(const unsigned char *reply, int length);

// Seconds of an NTP timestamp as Unix time. With the top bit set they count from 1900 (up to
// 2036-02-07 06:28:15); with it clear, from the next era, 2036-02-07 06:28:16 (up to 2104).
int64_t NtpSecondsToUnix(uint32_t seconds);

// A fraction of a second in units of 2^-32, rounded down to whole milliseconds (0..999).
int FractionToMilliseconds(uint32_t fraction);

// The first two lines of a report: the PC time, then the server time.
void FormatSyncReport(char *report, const ClockTime &pc, const ClockTime &server);
