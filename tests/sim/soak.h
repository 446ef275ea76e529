// A long run of the real program against one simulated sensor, with the
// clock and the one-second sleep sped up, measuring what the process uses.
// The short soak test and the long benchmark both run through here.
#pragma once

#include <string>
#include <vector>

namespace sim {

struct SoakFigures {
    int cycles = 0;
    int status = -1;              // the program's exit status
    double wallSeconds = 0;
    double cpuSecondsPerCycle = 0;  // user + system, from the first reading to the last
    long rssKbEarly = 0;          // resident memory at the early sample
    long rssKbEnd = 0;            // and at the last cycle
    long peakRssKb = 0;
    int fdsStart = 0, fdsEarly = 0, fdsEnd = 0;
    int handlesEnd = 0;           // device handles open during the last reading
    int mostHandles = 0;          // most ever open at a control request
};

// What else the run has: options before the limit, and other devices on
// the bus, found by a search before the sensor.
struct SoakSetup {
    std::vector<std::string> options = {};
    int otherDevices = 0;
};

// Runs `program` for `cycles` cycles (the sensor is unplugged at the last
// reading, which ends the run), sampling early at cycle `earlySample`.
// `wrapper` goes before the program on its command line (valgrind, say).
SoakFigures soak(const std::string &program, int cycles, int earlySample,
                 const std::vector<std::string> &wrapper = {}, const std::string &faketime = "+0 x1000",
                 const SoakSetup &setup = {});

}  // namespace sim
