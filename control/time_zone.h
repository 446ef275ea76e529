#pragma once

#include <cstdint>
#include <ctime>

// What the time zone says of an instant: its local date and time, and its
// offset from UTC. The rules that need local time take the zone's answers
// as a parameter, so that they ask no zone themselves and read alone.
struct LocalTime {
    int64_t day;     // the local date, in days since 1970-01-01
    int second;      // of the local day: 0 to 86399
    long utcOffset;  // seconds east of UTC
};

using TimeZone = LocalTime (*)(time_t at);

// The process's own zone ($TZ, else /etc/localtime), through localtime_r.
LocalTime localTimeOf(time_t at);
