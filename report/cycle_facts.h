#pragma once

#include <ctime>
#include <string>

// What one cycle did, as one value: the metrics file, MQTT and systemd report it.
struct CycleFacts {
    int limit;               // half degrees: LIMIT as started, which names the instance
    int limitInUse;          // half degrees: the limit of this cycle's decision
    const char *port;        // --port PATH, or nullptr
    const char *mode;        // "off", "cool" or "heat" with --mqtt-control; nullptr without
    unsigned reading;        // half degrees: this cycle's, or the last one when the read failed
    int level;               // of this cycle's output request
    long switches;           // level changes since the start
    long readFailures;       // cycles whose read delivered no reading
    time_t lastReadingTime;  // of the last read that delivered one; 0 before
};

// A reading in half degrees as every report shows it: "24" or "24.5".
inline std::string readingText(unsigned halfDegrees)
{
    return std::to_string(halfDegrees >> 1) + (halfDegrees & 1 ? ".5" : "");
}
