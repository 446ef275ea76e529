#pragma once

#include <string>
#include <vector>

// What an instance with --mqtt-control MIN:MAX may be set to over MQTT:
// a limit within MIN..MAX, and off or its one mode.
struct ControlRange {
    int minDegrees;
    int maxDegrees;
    bool heat;  // the instance's mode is heat (--heat), else cool
};

// Reads MIN:MAX, whole degrees with MIN <= MAX ("-5:5" included).
bool controlParseRange(const char *text, ControlRange *range);

// A limit command's payload: whole degrees as "22", "22.0" or "-5",
// nothing around it, within the range; in half degrees.
bool controlParseLimit(const std::string &payload, const ControlRange &range, int *halfDegrees);

// A mode command's payload: "off", or the instance's mode ("cool" or
// "heat"); *off tells which.
bool controlParseMode(const std::string &payload, const ControlRange &range, bool *off);

// A preset command's payload, with a schedule: "schedule" resumes it,
// "none" holds the limit in use until its next point.
bool controlParsePreset(const std::string &payload, bool *resume);

// "off", "cool" or "heat".
const char *controlModeName(const ControlRange &range, bool off);

// What a refused command must be instead: "give ...".
std::string controlLimitHint(const ControlRange &range);
std::string controlModeHint(const ControlRange &range);
const char *const controlPresetHint = "give schedule or none";

// What came over MQTT since the loop last took it. Only the last accepted
// value of each setting is kept, and only the first refusal.
struct MqttCommands {
    bool any = false;  // a command arrived, accepted or refused
    bool hasLimit = false;
    int limit = 0;     // half degrees
    bool hasMode = false;
    bool off = false;
    bool hasPreset = false;  // the later of a limit and a preset wins
    bool resume = false;     // "schedule"; else "none"
    bool refused = false;
    std::string refusedTopic, refusedPayload, refusedHint;  // the payload cut at 64 bytes
    std::vector<std::string> retainedTopics;  // each said once per subscription
};

// Longer payloads are refused, and shown cut to this many bytes.
const size_t mostCommandBytes = 64;

enum class CommandTopic { limit, mode, preset };

// Adds one command, which arrived on the topic of that setting, to what the
// loop will take.
void controlAddCommand(MqttCommands *commands, const ControlRange &range, CommandTopic setting,
                       const std::string &topic, const std::string &payload);
