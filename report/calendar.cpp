#include "report/calendar.h"

#include <cstdio>
#include <cstdlib>

// Howard Hinnant's algorithms: eras of 400 years, each 146097 days, with
// years counted from March so that the leap day comes last.
int64_t daysFromCivil(int64_t year, int month, int day)
{
    year -= month <= 2;
    const int64_t era = floorDivide(year, 400);
    const int64_t yearOfEra = year - era * 400;
    const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

void civilFromDays(int64_t days, int64_t *year, int *month, int *day)
{
    days += 719468;
    const int64_t era = floorDivide(days, 146097);
    const int64_t dayOfEra = days - era * 146097;
    const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t shifted = (5 * dayOfYear + 2) / 153;
    *day = int(dayOfYear - (153 * shifted + 2) / 5 + 1);
    *month = int(shifted < 10 ? shifted + 3 : shifted - 9);
    *year = yearOfEra + era * 400 + (*month <= 2);
}

int weekdayOf(int64_t days)
{
    return int(days - 7 * floorDivide(days + 3, 7) + 3);  // 1970-01-01 was a Thursday
}

int64_t floorDivide(int64_t number, int64_t divisor)
{
    return number / divisor - (number % divisor != 0 && (number < 0) != (divisor < 0));
}

// The local date and the second of the local day.
static void localParts(const ZonedTime &time, int64_t *days, int *second)
{
    const int64_t wall = int64_t(time.at) + time.utcOffset;
    *days = floorDivide(wall, 86400);
    *second = int(wall - *days * 86400);
}

std::string isoLocalTime(const ZonedTime &time)
{
    int64_t days = 0, year = 0;
    int second = 0, month = 0, day = 0;
    localParts(time, &days, &second);
    civilFromDays(days, &year, &month, &day);
    const long offset = labs(time.utcOffset);
    char text[48];
    int length = snprintf(text, sizeof text, "%04lld-%02d-%02dT%02d:%02d:%02d%c%02ld:%02ld", static_cast<long long>(year),
                          month, day, second / 3600, second / 60 % 60, second % 60, time.utcOffset < 0 ? '-' : '+',
                          offset / 3600, offset / 60 % 60);
    if (offset % 60 != 0)  // the local mean times of old zones
        snprintf(text + length, sizeof text - size_t(length), ":%02ld", offset % 60);
    return text;
}

std::string shortLocalTime(const ZonedTime &time)
{
    static const char *const names[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
    int64_t days = 0;
    int second = 0;
    localParts(time, &days, &second);
    char text[16];
    snprintf(text, sizeof text, "%s %02d:%02d", names[weekdayOf(days)], second / 3600, second / 60 % 60);
    return text;
}
