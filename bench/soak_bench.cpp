// The long soak: the real program against the simulated sensor for many
// cycles, with the clock and the sleep a thousand times fast.
//   soak_bench PROGRAM [CYCLES [EARLY_SAMPLE]] [-- WRAPPER...]
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "sim/soak.h"

int main(int argc, char **argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: %s PROGRAM [CYCLES [EARLY_SAMPLE]] [-- WRAPPER...]\n", argv[0]);
        return 2;
    }
    int cycles = 100000, early = 1000, i = 2;
    if (i < argc && std::string(argv[i]) != "--")
        cycles = atoi(argv[i++]);
    if (i < argc && std::string(argv[i]) != "--")
        early = atoi(argv[i++]);
    std::vector<std::string> wrapper;
    if (i < argc && std::string(argv[i]) == "--")
        wrapper.assign(argv + i + 1, argv + argc);

    sim::SoakFigures f = sim::soak(argv[1], cycles, early, wrapper);
    printf("cycles run                 %d (exit status %d)\n", f.cycles, f.status);
    printf("wall time                  %.1f s\n", f.wallSeconds);
    printf("CPU per cycle (user+sys)   %.1f us\n", f.cpuSecondsPerCycle * 1e6);
    printf("resident memory            %ld kB at cycle %d, %ld kB at cycle %d, peak %ld kB\n", f.rssKbEarly,
           early, f.rssKbEnd, f.cycles, f.peakRssKb);
    printf("open descriptors           %d at start, %d at cycle %d, %d at the end\n", f.fdsStart, f.fdsEarly,
           early, f.fdsEnd);
    printf("device handles             %d open at the end, at most %d at any request\n", f.handlesEnd,
           f.mostHandles);
    bool flat = f.rssKbEnd == f.rssKbEarly && f.fdsEnd == f.fdsEarly && f.mostHandles <= 2 && f.cycles == cycles;
    printf("%s\n", flat ? "flat: yes" : "flat: NO");
    return flat ? 0 : 1;
}
