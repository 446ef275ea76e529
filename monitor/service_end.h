#pragma once

#include <string>

// How the service's main process ended, as systemd tells the commands of
// ExecStopPost=: $SERVICE_RESULT, $EXIT_CODE and $EXIT_STATUS (each nullptr
// when unset).
struct ServiceEnd {
    bool failsafeNeeded;  // the process did not end itself, so it could not set its fail-safe level
    std::string what;     // what ended it, as the line says: "the service ended by signal KILL"
};

// An exit the program chose (status 0, 1 or 2) and a stop signal that it
// handles (TERM, INT, HUP) are its own ends: it set the fail-safe level
// itself. Any other signal (KILL, the watchdog's ABRT, SEGV), and an exit
// with another status (the program never ran), needs the level set now.
ServiceEnd serviceEndJudge(const char *serviceResult, const char *exitCode, const char *exitStatus);
