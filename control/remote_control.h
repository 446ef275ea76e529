#pragma once

#include <ctime>
#include <string>

#include "control/control_state_file.h"
#include "mqtt/mqtt_commands.h"

// The limit and the mode that --mqtt-control lets the network set, as the
// loop holds them, and the file that keeps them across restarts. With a
// schedule, a limit set over MQTT is a hold: it lasts until the schedule's
// next point, which the caller knows.
struct RemoteControl {
    bool enabled = false;
    bool scheduled = false;  // --schedule
    ControlRange range = {0, 0, false};
    StoredControl settings;  // the limit (half degrees), the mode and the hold
    bool restored = false;   // the settings came from the state file
    std::string stateFile;
    bool writeFailureReported = false;
};

// At start: the state file's settings when it holds valid ones, else LIMIT
// and the instance's mode; a file that is there but not used is named, with
// the reason, in one line. What the file gave is said here too, but with a
// schedule by remoteSayRestored, once it is known whether a hold still
// holds. Without a schedule a hold in the file is none.
RemoteControl remoteStart(const ControlRange &range, int limitHalfDegrees, const std::string &stateFile, bool scheduled);

// With a schedule: "limit 22 and mode cool from FILE, as last set over
// MQTT, held until 2026-12-10T00:13:00+01:00" during a hold, else "mode
// cool from FILE, as last set over MQTT", since the schedule gives the limit.
void remoteSayRestored(const RemoteControl &control, const std::string &heldUntil);

// Takes what came over MQTT since the last cycle, at time now: the last
// accepted limit, mode and preset, each change said in one line and kept in
// the state file (whole or not at all), a refusal and each retained command
// said in one line. With a schedule a limit starts a hold, the preset none
// holds limitInUse, and the preset schedule ends a hold: the return value.
bool remoteTake(RemoteControl *control, const MqttCommands &commands, int limitInUse, time_t now);

// A hold that the schedule's next point has ended: kept without it.
void remoteEndHold(RemoteControl *control);

// "off", "cool" or "heat"; nullptr without --mqtt-control.
const char *remoteMode(const RemoteControl &control);
