#pragma once

#include <ctime>
#include <string>

#include "control/output_decision.h"
#include "control/remote_control.h"
#include "control/schedule_evaluation.h"
#include "control/schedule_file.h"
#include "mqtt/mqtt_commands.h"
#include "report/cycle_facts.h"

// What the command line says of the limit beyond LIMIT.
struct LimitSettings {
    bool controlled = false;             // --mqtt-control MIN:MAX
    ControlRange range = {0, 0, false};  // its range, and --heat
    const char *stateFile = nullptr;     // --state FILE; nullptr: the default place
    const char *scheduleFile = nullptr;  // --schedule FILE
    std::string scheduleText;            // as read when the option was taken
    Schedule schedule;                   // parsed once the range was known
};

// The limit and the mode of each cycle, and where they come from: LIMIT,
// the network's settings (--mqtt-control) and the schedule (--schedule).
struct LimitControl {
    int commandLineLimit = 0;  // half degrees
    RemoteControl remote;
    ScheduleFile schedule;
    TimeZone zone = nullptr;
    ScheduleNow scheduled;     // the schedule at the last cycle
    ScheduleNow sinceHold;     // the schedule at the start of a hold: its next point ends it
    int limit = 0;             // half degrees: in use, for the next decision
};

// At start, before the first reading: the state file's settings and the
// schedule's limit at this moment, each said.
LimitControl controlStart(const LimitSettings &settings, int limitHalfDegrees, const char *stateDirectory,
                          TimeZone zone);

// Once a cycle, at the cycle's time: the commands that came over MQTT, the
// schedule's file and its points, and the end of a hold. Each change is
// said. Returns whether a command came, so that the state is published at
// once.
bool controlCycle(LimitControl *control, const MqttCommands &commands, time_t now);

// The rules of the next decision: the command line's, with the limit in
// use and the mode set over MQTT.
OutputRules controlRules(const OutputRules &rules, const LimitControl &control);

LimitFacts controlFacts(const LimitControl &control);
