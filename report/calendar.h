#pragma once

#include <cstdint>
#include <ctime>
#include <string>

// The Gregorian calendar counted in days since 1970-01-01, and instants
// shown in local time from the zone's offset alone, so that nothing here
// asks the time zone.

// An instant with the offset from UTC that the zone had then.
struct ZonedTime {
    time_t at = 0;
    long utcOffset = 0;  // seconds east of UTC
};

int64_t daysFromCivil(int64_t year, int month, int day);
void civilFromDays(int64_t days, int64_t *year, int *month, int *day);

// 0 for Monday to 6 for Sunday.
int weekdayOf(int64_t days);

// Division that rounds toward minus infinity, for instants before 1970.
int64_t floorDivide(int64_t number, int64_t divisor);

// ISO 8601 with the offset: "2026-12-09T22:00:00+01:00".
std::string isoLocalTime(const ZonedTime &time);

// The weekday and the minute: "Wed 22:00".
std::string shortLocalTime(const ZonedTime &time);
