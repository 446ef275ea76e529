#pragma once

#include <string>

#include "control/output_decision.h"
#include "mqtt/mqtt_commands.h"

// The limit and the mode that --mqtt-control lets the network set, as the
// loop holds them, and the file that keeps them across restarts.
struct RemoteControl {
    bool enabled = false;
    ControlRange range = {0, 0, false};
    int limit = 0;  // half degrees: the limit of the next decision
    bool off = false;
    std::string stateFile;
    bool writeFailureReported = false;
};

// At start: the state file's settings when it holds valid ones, else LIMIT
// and the instance's mode; a file that is there but not used is named, with
// the reason, in one line.
RemoteControl controlStart(const ControlRange &range, int limitHalfDegrees, const std::string &stateFile);

// Takes what came over MQTT since the last cycle: the last accepted limit
// and mode, each change said in one line and kept in the state file (whole
// or not at all), a refusal and each retained command said in one line.
// Returns whether any command came, so that the state is published again.
bool controlTake(RemoteControl *control, const MqttCommands &commands);

// The rules of the next decision: the command line's, with the limit and
// the mode set over MQTT.
OutputRules controlRules(const OutputRules &rules, const RemoteControl &control);

// "off", "cool" or "heat"; nullptr without --mqtt-control.
const char *controlMode(const RemoteControl &control);
