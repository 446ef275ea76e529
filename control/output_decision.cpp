#include "control/output_decision.h"

bool outputHasHolds(const OutputRules &rules)
{
    return rules.minOnSeconds > 0 || rules.minOffSeconds > 0;
}

// The level the temperature asks for. Inside the band, from limit minus the
// hysteresis up to just below the limit, the level held stays; the first
// cycle has none to keep and decides on the limit alone.
static int levelAskedFor(const OutputRules &rules, int held, int reading, bool arrived)
{
    if (rules.off)
        return 0;
    const int reached = rules.heat ? 0 : 255;
    // Until a reading arrives the temperature stands where the sensor's
    // byte 0 puts it, which must not switch a heater on: there is nothing
    // to heat by.
    if (!arrived && rules.heat)
        return 0;
    if (reading >= rules.limit)
        return reached;
    if (held >= 0 && reading >= int64_t(rules.limit) - rules.hysteresis)
        return held;
    return 255 - reached;
}

int outputDecide(const OutputRules &rules, OutputState *state, int reading, bool arrived, int64_t nowMs)
{
    int level = levelAskedFor(rules, state->level, reading, arrived);
    if (state->level >= 0 && level != state->level) {
        // A load switched on or off recently stays so until its time is up.
        int64_t holdMs = 1000 * int64_t(state->level == 255 ? rules.minOnSeconds : rules.minOffSeconds);
        if (nowMs - state->changedAtMs < holdMs)
            return state->level;
        ++state->switches;
    }
    if (level != state->level) {
        state->level = level;
        state->changedAtMs = nowMs;
    }
    return level;
}
