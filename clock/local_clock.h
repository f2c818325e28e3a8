// The local clock as the platform keeps it: read it, show a time in the local zone, set it.
#pragma once

#include <cstdint>

// A local date and time to the millisecond (what the platform's SYSTEMTIME holds).
struct ClockTime {
    int year, month, day, hour, minute, second, milliseconds;
};

// The current local time; returns the same moment as Unix time in milliseconds.
int64_t ReadLocalClock(ClockTime *now);

// A Unix time in milliseconds (which may lie beyond 2038) as local time: the system's time zone on
// Windows, natively the zone of the TZ variable. False when it cannot be converted.
bool ToLocalClockTime(int64_t unixMs, ClockTime *local);

// What Windows answers a user who may not set the clock (ERROR_PRIVILEGE_NOT_HELD): since Windows
// Vista every program that runs without elevation, an administrator's too.
constexpr uint32_t kClockPrivilegeNotHeld = 1314;
// The user said no when Windows asked for consent (ERROR_CANCELLED).
constexpr uint32_t kConsentDeclined = 1223;
// The elevated copy did not end in time (ERROR_TIMEOUT).
constexpr uint32_t kConsentTimedOut = 1460;
// The elevated copy found no time to set: its own exchange failed.
constexpr uint32_t kHelperNoTime = 0x20000001;

// Sets the system clock to a time in UTC, given as Unix milliseconds, in one call: 0, or the
// platform's error code when it refuses. Replaceable, so that tests never move the host's clock:
// on Windows it is SetSystemTime, in the native build it refuses as Windows refuses a program
// without elevation.
extern uint32_t (*SetSystemClock)(int64_t unixMs);

// Sets the clock with the user's consent: on Windows an elevated copy of the program, started
// with "runas" (Windows asks the user), which makes one exchange with server itself, sets the
// clock and ends; its exit code comes back, within two minutes. Natively there is nobody to ask:
// kClockPrivilegeNotHeld. Replaceable, for tests.
extern uint32_t (*SetClockWithConsent)(const char *server);
