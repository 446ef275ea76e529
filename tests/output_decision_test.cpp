// The rules that decide the output level, alone: readings in half degrees
// against limit 25 (50), at given monotonic times, and the level each gets.
#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "control/output_decision.h"

namespace {

struct Step {
    std::optional<int> reading;  // half degrees; none: no read has delivered one yet (the loop's byte is 0)
    int64_t ms;        // monotonic time of the cycle
    int level;         // expected
    int limit = -1;    // as set over MQTT; -1 keeps the case's
    bool off = false;
};

struct Case {
    const char *what;
    OutputRules rules;
    std::vector<Step> steps;
    long switches;
};

OutputRules rules(int hysteresis, bool heat = false, int minOn = 0, int minOff = 0)
{
    return {50, hysteresis, heat, minOn, minOff};
}

TEST(OutputDecision, LevelsFollowTheLimitTheBandAndTheHolds)
{
    const std::vector<Case> cases = {
        {"without options: 255 from the limit on, 0 below it",
         rules(0), {{49, 0, 0}, {50, 1000, 255}, {49, 2000, 0}, {51, 3000, 255}, {255, 4000, 255}, {0, 5000, 0}}, 4},
        {"hysteresis 1: back to 0 only below 24",
         rules(2), {{50, 0, 255}, {49, 1000, 255}, {48, 2000, 255}, {47, 3000, 0}, {48, 4000, 0}, {49, 5000, 0},
                    {50, 6000, 255}}, 2},
        {"the first cycle inside the band decides on the limit alone",
         rules(2), {{49, 0, 0}, {48, 1000, 0}}, 0},
        {"heating, hysteresis 0.5: 0 from the limit on, 255 again below 24.5",
         rules(1, true), {{49, 0, 255}, {50, 1000, 0}, {49, 2000, 0}, {48, 3000, 255}, {49, 4000, 255},
                          {60, 5000, 0}}, 3},
        {"heating starts off at the limit",
         rules(1, true), {{50, 0, 0}, {49, 1000, 0}}, 0},
        {"min-on 60, min-off 180, counted from the first cycle",
         rules(0, false, 60, 180), {{50, 0, 255}, {40, 30000, 255}, {40, 59999, 255}, {40, 60000, 0},
                                    {60, 100000, 0}, {60, 239999, 0}, {60, 240000, 255}, {40, 300000, 0}}, 3},
        {"a hold keeps a level, and the band then keeps it too",
         rules(2, false, 0, 10), {{50, 0, 255}, {40, 1000, 0}, {50, 2000, 0}, {49, 20000, 0}, {50, 21000, 255}}, 2},
        {"before the first reading: 0 degrees", rules(0), {{std::nullopt, 0, 0}, {50, 1000, 255}}, 1},
        {"before the first reading at LIMIT 0: on, as at 0 degrees", {0, 0, false, 0, 0}, {{std::nullopt, 0, 255}}, 0},
        {"before the first reading a heater is off, and that starts the min-off hold",
         rules(0, true, 0, 5), {{std::nullopt, 0, 0}, {40, 1000, 0}, {40, 5000, 255}}, 1},
        {"below zero (--offset) a reading is a reading: a heater heats at -0.5 against 0",
         {0, 0, true, 0, 0}, {{-1, 0, 255}, {0, 1000, 0}, {-3, 2000, 255}}, 2},
        {"and a fan at -1 switches at -1, not at -1.5", {-2, 0, false, 0, 0}, {{-3, 0, 0}, {-2, 1000, 255}}, 1},
        {"heating holds the same way",
         rules(0, true, 5, 0), {{40, 0, 255}, {60, 4999, 255}, {60, 5000, 0}, {40, 5001, 255}}, 2},
        {"a limit set over MQTT moves the band; mode off waits for a min-on hold, then stays 0",
         rules(2, false, 10, 0), {{45, 0, 0}, {45, 1000, 255, 44}, {42, 2000, 255, 44}, {41, 12000, 0, 44},
                                  {44, 13000, 255, 44}, {60, 14000, 255, 44, true}, {60, 22999, 255, 44, true},
                                  {60, 23000, 0, 44, true}, {60, 25000, 0, 44, true}, {60, 26000, 255, 44}}, 5},
    };
    for (const Case &c : cases) {
        OutputState state = {-1, 0, 0};
        std::vector<int> levels, expected;
        for (const Step &step : c.steps) {
            OutputRules now = c.rules;
            now.limit = step.limit >= 0 ? step.limit : c.rules.limit;
            now.off = step.off;
            levels.push_back(outputDecide(now, &state, step.reading.value_or(0), step.reading.has_value(), step.ms));
            expected.push_back(step.level);
        }
        EXPECT_EQ(levels, expected) << c.what;
        EXPECT_EQ(state.switches, c.switches) << c.what;
    }
}

}  // namespace
