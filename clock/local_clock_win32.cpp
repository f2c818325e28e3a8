// The local clock on Windows: the system time, SetLocalTime, and the C runtime's 64-bit localtime.
#include <windows.h>

#include <ctime>

#include "clock/local_clock.h"

namespace {

uint32_t SetClockWithSetLocalTime(const ClockTime *time)
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
    // The system turns the local time into UTC with the daylight-saving state of the moment before
    // the change: across a change of that state the first call sets the clock an hour off, and
    // the second, made in the new state, sets it right.
    if (SetLocalTime(&local) && SetLocalTime(&local))
        return 0;
    DWORD error = GetLastError();
    return error != 0 ? error : ERROR_GEN_FAILURE;  // never "set" for a call that failed
}

}  // namespace

uint32_t (*SetLocalClock)(const ClockTime *time) = SetClockWithSetLocalTime;

int64_t ReadLocalClock(ClockTime *now)
{
    // One reading for both answers. The bias in force now is the right one for now.
    FILETIME utc, localFile;
    GetSystemTimeAsFileTime(&utc);
    FileTimeToLocalFileTime(&utc, &localFile);
    SYSTEMTIME local;
    FileTimeToSystemTime(&localFile, &local);
    *now = {local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute, local.wSecond, local.wMilliseconds};
    int64_t ticks = (int64_t{utc.dwHighDateTime} << 32) | utc.dwLowDateTime;  // 100 ns since 1601
    return ticks / 10000 - int64_t{11644473600} * 1000;
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
