#pragma once

#include <ctime>
#include <string>

#include "report/calendar.h"

// The limit of a cycle's decision, and where it comes from.
struct LimitFacts {
    int inUse = 0;               // half degrees
    const char *mode = nullptr;  // "off", "cool" or "heat" with --mqtt-control; nullptr without
    bool scheduled = false;      // --schedule
    bool held = false;           // a limit set over MQTT holds against the schedule
    bool holdEnds = false;       // a hold ends at holdUntil; false without one, or until resumed
    ZonedTime holdUntil;
    bool hasNext = false;        // the schedule's next point: when, and its limit
    ZonedTime next;
    int nextLimit = 0;           // half degrees
};

// What one cycle did, as one value: the metrics file, MQTT and systemd report it.
struct CycleFacts {
    int limit;               // half degrees: LIMIT as started, which names the instance
    const char *port;        // --port PATH, or nullptr
    LimitFacts limits;
    int reading;             // half degrees with --offset: this cycle's, or the last one when the read failed
    int level;               // of this cycle's output request
    long switches;           // level changes since the start
    long readFailures;       // cycles whose read delivered no reading
    time_t lastReadingTime;  // of the last read that delivered one; 0 before
};

// A reading in half degrees as every report shows it: "24", "24.5", "-0.5".
inline std::string readingText(int halfDegrees)
{
    unsigned magnitude = halfDegrees < 0 ? 0u - unsigned(halfDegrees) : unsigned(halfDegrees);
    return (halfDegrees < 0 ? "-" : "") + std::to_string(magnitude >> 1) + (magnitude & 1 ? ".5" : "");
}

// The whole degrees of the console and the reading log: rounded down, below
// zero too (-0.5 is -1), so that the output is 0 exactly when the printed
// temperature is below the limit.
inline int wholeDegrees(int halfDegrees)
{
    return halfDegrees >= 0 ? halfDegrees / 2 : -((1 - halfDegrees) / 2);
}
