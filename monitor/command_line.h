#pragma once

#include "monitor/output_decision.h"

// What the command line asks for. Options come before LIMIT; whatever
// follows LIMIT (or the level of --set) is ignored.
enum class Action { run, set, help, version, list, refuse };

struct CommandLine {
    Action action;
    bool utf8Labels;          // --utf8: UTF-8 labels on standard output
    OutputRules output;       // LIMIT, --hysteresis, --heat, --min-on, --min-off
    int failsafe;             // --failsafe LEVEL; -1 without it
    const char *metricsFile;  // --metrics FILE; nullptr without it
    int setLevel;             // --set LEVEL, for Action::set
};

// Reads the options and LIMIT. For Action::refuse it has already printed
// why (and the usage line); the exit status is then 2.
CommandLine parseCommandLine(int argc, char **argv);

void printHelp();
