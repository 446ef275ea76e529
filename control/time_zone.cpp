#include "control/time_zone.h"

#include <algorithm>

#include "report/calendar.h"

LocalTime localTimeOf(time_t at)
{
    struct tm local;
    if (localtime_r(&at, &local) == nullptr) {  // beyond what the zone can say: UTC
        const int64_t day = floorDivide(at, 86400);
        return {day, int(at - day * 86400), 0};
    }
    // A leap second is shown as :60; the schedule's minutes know none.
    const int second = local.tm_hour * 3600 + local.tm_min * 60 + std::min(local.tm_sec, 59);
    return {daysFromCivil(local.tm_year + 1900LL, local.tm_mon + 1, local.tm_mday), second, local.tm_gmtoff};
}
