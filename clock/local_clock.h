// The local clock as the platform keeps it: read it, convert a Unix time to it, set it.
#pragma once

#include <cstdint>

// A local date and time to the millisecond (what the platform's SYSTEMTIME holds).
struct ClockTime {
    int year, month, day, hour, minute, second, milliseconds;
};

// The current local time.
void ReadLocalClock(ClockTime *now);

// A Unix time (which may lie beyond 2038) as local time, in the time zone of the TZ variable
// when it is set, else the system's. False when it cannot be converted.
bool ToLocalClockTime(int64_t unixTime, int milliseconds, ClockTime *local);

// Sets the local clock; false when the platform refuses. Replaceable, so that tests never move
// the host's clock: on Windows it is SetLocalTime, in the native build it refuses.
extern bool (*SetLocalClock)(const ClockTime *time);
