#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "mqtt/mqtt_commands.h"

// A program of limits, as --schedule FILE gives it: weekly points, each of
// which holds its limit from HH:MM of its days until the next one takes
// effect, or one profile: points at offsets from a start, with straight
// lines between them.
struct WeeklyPoint {
    int minute;  // of the day: 0 (00:00) to 1439 (23:59)
    int limit;   // half degrees
    int line;    // of the file
};

struct ProfilePoint {
    int64_t offset;  // seconds after the start
    int limit;       // half degrees
    int line;
};

struct Schedule {
    bool profile = false;
    int points = 0;                           // the lines that hold a point
    std::vector<WeeklyPoint> weekly[7];       // Monday first; each by minute, then by line
    int64_t startDay = 0;                     // the profile's start in local time: its date, in
    int startMinute = 0;                      // days since 1970-01-01, and its minute of that day
    std::vector<ProfilePoint> profilePoints;  // by offset, then by line
};

// What is wrong with a schedule's text: at a line, or with the text as a
// whole (line 0).
struct ScheduleFault {
    int line = 0;
    std::string reason;  // what is expected there; text of the file in it is escaped
};

// Reads a schedule. With range (--mqtt-control), every limit must lie in it.
// False, with *fault, when the text is not a schedule.
bool scheduleParse(const std::string &text, const ControlRange *range, Schedule *schedule, ScheduleFault *fault);

// "3 weekly points", "a profile of 5 points from 2026-03-01 18:00".
std::string scheduleSummary(const Schedule &schedule);
