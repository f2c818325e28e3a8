// The local clock for the native build. Setting it is always refused: the native build only
// runs tests, and no test may move the host's clock. Tests that need a clock install their own.
#include <ctime>

#include "clock/local_clock.h"

namespace {

static_assert(sizeof(time_t) >= 8, "times after 2038 need a 64-bit time_t");

uint32_t RefuseToSetClock(int64_t) { return kClockPrivilegeNotHeld; }
uint32_t NobodyToAsk(const char *) { return kClockPrivilegeNotHeld; }

void FromTm(const tm &local, int milliseconds, ClockTime *time)
{
    *time = {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
             milliseconds};
}

}  // namespace

uint32_t (*SetSystemClock)(int64_t unixMs) = RefuseToSetClock;
uint32_t (*SetClockWithConsent)(const char *server) = NobodyToAsk;

int64_t ReadLocalClock(ClockTime *now)
{
    timespec clock;
    clock_gettime(CLOCK_REALTIME, &clock);
    tzset();
    tm local;
    localtime_r(&clock.tv_sec, &local);
    int milliseconds = static_cast<int>(clock.tv_nsec / 1000000);
    FromTm(local, milliseconds, now);
    return int64_t{clock.tv_sec} * 1000 + milliseconds;
}

bool ToLocalClockTime(int64_t unixMs, ClockTime *local)
{
    time_t seconds = static_cast<time_t>(unixMs / 1000);
    // localtime_r need not look at TZ again; tzset makes a changed TZ count, as localtime would.
    tzset();
    tm converted;
    if (unixMs < 0 || localtime_r(&seconds, &converted) == nullptr)
        return false;
    FromTm(converted, static_cast<int>(unixMs % 1000), local);
    return true;
}
