// What 30 other devices on the bus cost a cycle, with and without --port:
// the real program against the simulated bus, clock and sleep a thousand
// times fast, so that a cycle's wall time is the work of its two searches.
//   search_cost_bench PROGRAM [CYCLES]
#include <cstdio>
#include <cstdlib>

#include "sim/soak.h"

int main(int argc, char **argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: %s PROGRAM [CYCLES]\n", argv[0]);
        return 2;
    }
    const int cycles = argc > 2 ? atoi(argv[2]) : 500;
    struct Case {
        const char *name;
        sim::SoakSetup setup;
    } cases[] = {
        {"the sensor alone", {}},
        {"30 other devices first", {.otherDevices = 30}},
        {"30 other devices, --port 1-2", {.options = {"--port", "1-2"}, .otherDevices = 30}},
    };
    printf("%-32s %14s %14s\n", "bus", "ms per cycle", "CPU ms/cycle");
    for (const Case &c : cases) {
        sim::SoakFigures f = sim::soak(argv[1], cycles, cycles / 2, {}, "+0 x1000", c.setup);
        // One simulated second of sleep is 1 ms of the wall time per cycle.
        printf("%-32s %14.2f %14.2f%s\n", c.name, 1000 * f.wallSeconds / f.cycles - 1, 1000 * f.cpuSecondsPerCycle,
               f.cycles == cycles ? "" : "  (run ended early)");
    }
    return 0;
}
