#pragma once

// What the command line asks for. Options come before LIMIT; whatever
// follows LIMIT is ignored.
enum class Action { run, help, version, list, refuse };

struct CommandLine {
    Action action;
    bool utf8Labels;  // --utf8: UTF-8 labels on standard output
    int limit;        // half degrees, for Action::run
};

// Reads the options and LIMIT. For Action::refuse it has already printed
// why (and the usage line); the exit status is then 2.
CommandLine parseCommandLine(int argc, char **argv);

void printHelp();
