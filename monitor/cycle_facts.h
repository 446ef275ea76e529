#pragma once

#include <ctime>

// What one cycle did, as one value: the metrics file and MQTT both report it.
struct CycleFacts {
    int limit;               // half degrees
    const char *port;        // --port PATH, or nullptr
    unsigned reading;        // half degrees: this cycle's, or the last one when the read failed
    int level;               // of this cycle's output request
    long switches;           // level changes since the start
    long readFailures;       // cycles whose read delivered no reading
    time_t lastReadingTime;  // of the last read that delivered one; 0 before
};
