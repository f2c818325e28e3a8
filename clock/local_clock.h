// The local clock as the platform keeps it: read it, convert a Unix time to it, set it.
#pragma once

#include <cstdint>

// A local date and time to the millisecond (what the platform's SYSTEMTIME holds).
struct ClockTime {
    int year, month, day, hour, minute, second, milliseconds;
};

// The current local time; returns the same moment as Unix time in milliseconds.
int64_t ReadLocalClock(ClockTime *now);

// A Unix time (which may lie beyond 2038) as local time, in the time zone of the TZ variable
// when it is set, else the system's. False when it cannot be converted.
bool ToLocalClockTime(int64_t unixTime, int milliseconds, ClockTime *local);

// What Windows answers a user who may not set the clock (ERROR_PRIVILEGE_NOT_HELD): a standard
// user, or an administrator whose program runs without elevation.
constexpr uint32_t kClockPrivilegeNotHeld = 1314;

// Sets the local clock: 0, or the platform's error code when it refuses. Replaceable, so that
// tests never move the host's clock: on Windows it is SetLocalTime, in the native build it
// refuses as Windows refuses a standard user.
extern uint32_t (*SetLocalClock)(const ClockTime *time);
