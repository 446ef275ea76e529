#pragma once

#include "control/limit_control.h"
#include "control/output_decision.h"
#include "mqtt/mqtt_commands.h"
#include "mqtt/mqtt_settings.h"

// What the command line asks for. Options come before LIMIT; whatever
// follows LIMIT (or the level of --set) is ignored.
enum class Action { run, set, help, version, list, refuse };

struct CommandLine {
    Action action = Action::run;
    bool utf8Labels = false;             // --utf8: UTF-8 labels on standard output
    OutputRules output = {0, 0, false, 0, 0};  // LIMIT, --hysteresis, --heat, --min-on, --min-off
    int failsafe = -1;                   // --failsafe LEVEL; -1 without it
    int offset = 0;                      // --offset DEGREES, in half degrees: added to every reading
    const char *metricsFile = nullptr;   // --metrics FILE; nullptr without it
    const char *port = nullptr;          // --port PATH; nullptr: the first sensor found
    int setLevel = 0;                    // --set LEVEL, for Action::set
    MqttSettings mqtt;                   // --mqtt URL and its options
    LimitSettings limits;                // --mqtt-control MIN:MAX, --state FILE, --schedule FILE
    bool afterEnd = false;               // --after-end: the unit's ExecStopPost=, with the run's options
};

// Whether the options before LIMIT hold --after-end, before they are read.
bool afterEndRequested(int argc, char **argv);

// Reads the options and LIMIT. For Action::refuse it has already printed
// why (and the usage line); the exit status is then 2. With --after-end the
// files that the options name are not read: the run that needed them is
// over, and a credential or a schedule may be gone with it.
CommandLine parseCommandLine(int argc, char **argv);

void printHelp();
