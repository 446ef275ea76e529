#include "mqtt/mqtt_commands.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

// Whole degrees, optionally followed by ".0", exactly: "-?(0|[1-9][0-9]*)".
// Large enough numbers are kept as large, never wrapped.
static bool parseDegrees(const char *text, bool allowPointZero, int64_t *degrees)
{
    bool negative = *text == '-';
    if (negative)
        ++text;
    if (*text < '0' || *text > '9' || (*text == '0' && text[1] >= '0' && text[1] <= '9'))
        return false;
    int64_t value = 0;
    for (; *text >= '0' && *text <= '9'; ++text)
        value = std::min<int64_t>(value * 10 + (*text - '0'), INT64_C(1) << 40);
    if (allowPointZero && strcmp(text, ".0") == 0)
        text += 2;
    if (*text != '\0')
        return false;
    *degrees = negative ? -value : value;
    return true;
}

bool controlParseRange(const char *text, ControlRange *range)
{
    const char *colon = strchr(text, ':');
    if (colon == nullptr)
        return false;
    std::string min(text, colon);
    int64_t low = 0, high = 0;
    // The limit itself is kept doubled in an int: the same bounds as LIMIT.
    const int64_t most = (INT64_C(1) << 30) - 1;
    if (!parseDegrees(min.c_str(), false, &low) || !parseDegrees(colon + 1, false, &high) || low > high ||
        low < -most - 1 || high > most)
        return false;
    range->minDegrees = int(low);
    range->maxDegrees = int(high);
    return true;
}

bool controlParseLimit(const std::string &payload, const ControlRange &range, int *halfDegrees)
{
    int64_t degrees = 0;
    if (payload.size() > mostCommandBytes || payload.find('\0') != std::string::npos ||
        !parseDegrees(payload.c_str(), true, &degrees) || degrees < range.minDegrees || degrees > range.maxDegrees)
        return false;
    *halfDegrees = int(2 * degrees);
    return true;
}

bool controlParseMode(const std::string &payload, const ControlRange &range, bool *off)
{
    if (payload != "off" && payload != controlModeName(range, false))
        return false;
    *off = payload == "off";
    return true;
}

bool controlParsePreset(const std::string &payload, bool *resume)
{
    if (payload != "schedule" && payload != "none")
        return false;
    *resume = payload == "schedule";
    return true;
}

const char *controlModeName(const ControlRange &range, bool off)
{
    return off ? "off" : range.heat ? "heat" : "cool";
}

std::string controlLimitHint(const ControlRange &range)
{
    return "give a whole number of degrees from " + std::to_string(range.minDegrees) + " to " +
           std::to_string(range.maxDegrees) + ", such as " + std::to_string(range.maxDegrees) + " or " +
           std::to_string(range.maxDegrees) + ".0";
}

std::string controlModeHint(const ControlRange &range)
{
    return std::string("give off or ") + controlModeName(range, false);
}

void controlAddCommand(MqttCommands *commands, const ControlRange &range, CommandTopic setting,
                       const std::string &topic, const std::string &payload)
{
    commands->any = true;
    bool accepted = setting == CommandTopic::limit  ? controlParseLimit(payload, range, &commands->limit)
                    : setting == CommandTopic::mode ? controlParseMode(payload, range, &commands->off)
                                                    : controlParsePreset(payload, &commands->resume);
    if (accepted) {
        // A limit sets a hold, which a later "schedule" ends.
        if (setting == CommandTopic::limit)
            commands->hasPreset = false;
        if (setting == CommandTopic::preset && commands->resume)
            commands->hasLimit = false;
        (setting == CommandTopic::limit ? commands->hasLimit
         : setting == CommandTopic::mode ? commands->hasMode
                                         : commands->hasPreset) = true;
        return;
    }
    if (commands->refused)
        return;
    commands->refused = true;
    commands->refusedTopic = topic;
    commands->refusedPayload = payload.substr(0, mostCommandBytes);
    commands->refusedHint = setting == CommandTopic::limit  ? controlLimitHint(range)
                            : setting == CommandTopic::mode ? controlModeHint(range)
                                                            : controlPresetHint;
}
