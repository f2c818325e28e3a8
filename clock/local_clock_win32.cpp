// The local clock on Windows: GetLocalTime, SetLocalTime, and the C runtime's 64-bit localtime.
#include <windows.h>

#include <ctime>

#include "clock/local_clock.h"

namespace {

bool SetClockWithSetLocalTime(const ClockTime *time)
{
    // The day of the week is left at 0: SetLocalTime does not read it.
    SYSTEMTIME local = {};
    local.wYear = static_cast<WORD>(time->year);
    local.wMonth = static_cast<WORD>(time->month);
    local.wDay = static_cast<WORD>(time->day);
    local.wHour = static_cast<WORD>(time->hour);
    local.wMinute = static_cast<WORD>(time->minute);
    local.wSecond = static_cast<WORD>(time->second);
    local.wMilliseconds = static_cast<WORD>(time->milliseconds);
    return SetLocalTime(&local) != 0;
}

}  // namespace

bool (*SetLocalClock)(const ClockTime *time) = SetClockWithSetLocalTime;

void ReadLocalClock(ClockTime *now)
{
    SYSTEMTIME local;
    GetLocalTime(&local);
    *now = {local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute, local.wSecond, local.wMilliseconds};
}

bool ToLocalClockTime(int64_t unixTime, int milliseconds, ClockTime *local)
{
    // The 64-bit form explicitly: a 32-bit time_t would end in 2038.
    __time64_t seconds = unixTime;
    _tzset();
    const tm *converted = _localtime64(&seconds);
    if (converted == nullptr)
        return false;
    *local = {converted->tm_year + 1900, converted->tm_mon + 1, converted->tm_mday, converted->tm_hour,
              converted->tm_min, converted->tm_sec, milliseconds};
    return true;
}
