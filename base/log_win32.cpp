// The local time of a log line, on Windows.
#include <windows.h>

#include "base/log.h"

void ReadLogTime(LogTime *time)
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    *time = {now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
}
