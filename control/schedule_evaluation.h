#pragma once

#include <ctime>

#include "control/schedule.h"
#include "control/time_zone.h"
#include "report/calendar.h"

// What a schedule says at an instant, computed from the clock and the
// zone's answers alone, so that a start, a power cut or a clock that was
// set lands on the right limit at once and nothing is replayed.
struct ScheduleNow {
    bool hasLimit = false;  // false before a profile's first point, where LIMIT holds
    int limit = 0;          // half degrees
    bool hasNext = false;   // false after a profile's last point
    ZonedTime next;         // when the next point takes effect
    int nextLimit = 0;      // half degrees: the limit it brings
};

ScheduleNow scheduleAt(const Schedule &schedule, time_t now, TimeZone zone);

// The first instant whose local time is at or after a second of a local
// day: a time that the clocks skip comes when they land past it, one that
// they repeat comes the first time only.
time_t firstLocalMoment(int64_t day, int second, TimeZone zone);

// The whole degrees on the straight line from `from` degrees (elapsed 0)
// to `to` degrees (elapsed span): the nearest, an exact half toward `to`.
int rampDegrees(int from, int to, int64_t elapsed, int64_t span);
