// How often the output changes in one simulated hour (3600 cycles, one
// reading a second) of a temperature around the limit, with and without
// the options that protect the load. The decision is driven directly over
// each trace, so the hour takes milliseconds.
//
//   output_changes_bench [SEED]
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "control/output_decision.h"

namespace {

const int limit = 50;  // 25 degrees, in half degrees
const int cycles = 3600;

struct Trace {
    const char *what;
    std::vector<int> readings;
};

std::vector<Trace> traces(unsigned seed)
{
    std::mt19937 random(seed);
    // Up to one degree either way, in the sensor's half-degree steps.
    auto noise = [&random] { return int(random() % 5) - 2; };
    Trace flapping{"24.5 and 25.0 by turns", {}}, noisy{"25 +/- 1 degree of noise", {}},
        swinging{"25 +/- 3 degrees over 20 minutes, +/- 1 of noise", {}};
    for (int cycle = 0; cycle < cycles; ++cycle) {
        flapping.readings.push_back(limit - 1 + cycle % 2);
        noisy.readings.push_back(limit + noise());
        int phase = cycle % 1200, swing = phase < 600 ? phase : 1200 - phase;  // 0..600..0
        swinging.readings.push_back(limit - 6 + swing * 12 / 600 + noise());
    }
    return {flapping, noisy, swinging};
}

long changes(const OutputRules &rules, const std::vector<int> &readings)
{
    OutputState state = {-1, 0, 0};
    for (size_t cycle = 0; cycle < readings.size(); ++cycle)
        outputDecide(rules, &state, readings[cycle], true, int64_t(cycle) * 1000);
    return state.switches;
}

}  // namespace

int main(int argc, char **argv)
{
    unsigned seed = argc > 1 ? unsigned(strtoul(argv[1], nullptr, 10)) : 1;
    struct Options {
        const char *what;
        OutputRules rules;
    };
    const Options options[] = {
        {"(none)", {limit, 0, false, 0, 0}},
        {"--hysteresis 0.5", {limit, 1, false, 0, 0}},
        {"--hysteresis 1", {limit, 2, false, 0, 0}},
        {"--hysteresis 2", {limit, 4, false, 0, 0}},
        {"--min-on 60 --min-off 180", {limit, 0, false, 60, 180}},
        {"--hysteresis 1 --min-on 60 --min-off 180", {limit, 2, false, 60, 180}},
    };
    std::vector<Trace> all = traces(seed);
    printf("output changes in %d cycles at LIMIT 25, seed %u\n\n| options |", cycles, seed);
    for (const Trace &trace : all)
        printf(" %s |", trace.what);
    printf("\n|---|");
    for (size_t i = 0; i < all.size(); ++i)
        printf("---:|");
    printf("\n");
    for (const Options &o : options) {
        printf("| `%s` |", o.what);
        for (const Trace &trace : all)
            printf(" %ld |", changes(o.rules, trace.readings));
        printf("\n");
    }
    return 0;
}
