// The local time of a log line, for the native build.
#include <ctime>

#include "base/log.h"

void ReadLogTime(LogTime *time)
{
    time_t now = ::time(nullptr);
    struct tm local;
    localtime_r(&now, &local);
    *time = {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec};
}
