// The local clock on Windows: the system time, SetSystemTime, the system's time zone, and the
// elevated copy of the program that sets the clock with the user's consent.
#include <windows.h>
#include <shellapi.h>

#include "base/wide.h"
#include "clock/local_clock.h"
#include "clock/sntp.h"

namespace {

// 100-nanosecond units since 1601, as a FILETIME counts them.
constexpr int64_t kUnixEpochMs = int64_t{11644473600} * 1000;

bool ToSystemTime(int64_t unixMs, SYSTEMTIME *utc)
{
    uint64_t ticks = static_cast<uint64_t>(unixMs + kUnixEpochMs) * 10000;
    FILETIME file = {static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    return unixMs >= 0 && FileTimeToSystemTime(&file, utc);
}

// In UTC, in one call: there is no local time to get wrong in the hour that repeats when daylight
// saving ends, and no time zone but the system's own.
uint32_t SetWithSetSystemTime(int64_t unixMs)
{
    SYSTEMTIME utc;
    if (!ToSystemTime(unixMs, &utc))
        return ERROR_INVALID_PARAMETER;
    if (SetSystemTime(&utc))
        return 0;
    DWORD error = GetLastError();
    return error != 0 ? error : ERROR_GEN_FAILURE;  // never "set" for a call that failed
}

// Long enough for the user to read Windows' question and for one exchange.
constexpr DWORD kConsentWaitMs = 120000;

uint32_t AskConsent(const char *server)
{
    char parameters[kClockSwitchSize];
    wchar_t wide[kClockSwitchSize], self[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
    if (!BuildClockSwitch(server, parameters, sizeof parameters) || length == 0 || length >= MAX_PATH)
        return ERROR_INVALID_PARAMETER;
    ToWide(parameters, wide, kClockSwitchSize);
    SHELLEXECUTEINFOW info = {sizeof info};
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    info.hwnd = GetActiveWindow();  // the sheet: Windows' question belongs to it
    info.lpVerb = L"runas";
    info.lpFile = self;
    info.lpParameters = wide;
    info.nShow = SW_HIDE;
    if (!ShellExecuteExW(&info)) {
        DWORD error = GetLastError();  // ERROR_CANCELLED when the user said no
        return error != 0 ? error : ERROR_GEN_FAILURE;
    }
    if (info.hProcess == nullptr)
        return ERROR_GEN_FAILURE;
    DWORD code = kConsentTimedOut;
    if (WaitForSingleObject(info.hProcess, kConsentWaitMs) != WAIT_OBJECT_0 || !GetExitCodeProcess(info.hProcess, &code))
        code = kConsentTimedOut;
    CloseHandle(info.hProcess);
    return code;
}

}  // namespace

uint32_t (*SetSystemClock)(int64_t unixMs) = SetWithSetSystemTime;
uint32_t (*SetClockWithConsent)(const char *server) = AskConsent;

int64_t ReadLocalClock(ClockTime *now)
{
    // One reading for both answers. The bias in force now is the right one for now.
    FILETIME utc, localFile;
    GetSystemTimeAsFileTime(&utc);
    FileTimeToLocalFileTime(&utc, &localFile);
    SYSTEMTIME local;
    FileTimeToSystemTime(&localFile, &local);
    *now = {local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute, local.wSecond, local.wMilliseconds};
    int64_t ticks = (int64_t{utc.dwHighDateTime} << 32) | utc.dwLowDateTime;
    return ticks / 10000 - kUnixEpochMs;
}

bool ToLocalClockTime(int64_t unixMs, ClockTime *local)
{
    // The system's zone with the daylight-saving rule of that date, as Windows shows times.
    SYSTEMTIME utc, shown;
    if (!ToSystemTime(unixMs, &utc) || !SystemTimeToTzSpecificLocalTime(nullptr, &utc, &shown))
        return false;
    *local = {shown.wYear, shown.wMonth, shown.wDay, shown.wHour, shown.wMinute, shown.wSecond, shown.wMilliseconds};
    return true;
}
