#pragma once

#include <cstdint>

// How the output follows the temperature. Without options: 255 at or above
// the limit, 0 below it.
struct OutputRules {
    int limit;          // half degrees
    int hysteresis;     // half degrees: the band below the limit that keeps the level
    bool heat;          // 255 below the limit, 0 at or above it
    int minOnSeconds;   // once 255, kept at least this long
    int minOffSeconds;  // once 0, kept at least this long
    bool off = false;   // mode off, set over MQTT: 0 whatever the temperature
};

// The level the output was last set to, and when it became that level.
struct OutputState {
    int level;           // -1 before the first cycle
    int64_t changedAtMs;  // monotonic milliseconds
    long switches;       // changes since the start; the first level is none
};

// Whether the rules hold a level for a time, so that the loop needs a clock.
bool outputHasHolds(const OutputRules &rules);

// The level (0 or 255) this cycle sends for a reading in half degrees (any
// number: --offset may take it below 0), at monotonic time nowMs; arrived
// says whether a read has delivered one yet. Records it in *state.
int outputDecide(const OutputRules &rules, OutputState *state, int reading, bool arrived, int64_t nowMs);
