#pragma once

#include <cstdint>
#include <string>

#include "mqtt/mqtt_commands.h"

// The settings last taken over MQTT, kept across restarts in a text file of
// two lines, and a third while a limit set over MQTT holds against the
// schedule:
//   limit 22
//   mode off
//   hold 1765311185
// (whole degrees; "off", "cool" or "heat"; when the hold began, in seconds
// since 1970: it lasts until the schedule's first point after that).
struct StoredControl {
    int limit = 0;  // half degrees
    bool off = false;
    bool held = false;
    int64_t holdStart = 0;
};

std::string controlStateFormat(const ControlRange &range, const StoredControl &stored);

// Reads that text; false with *reason when it does not parse, its limit is
// outside the range or its mode is not the instance's.
bool controlStateParse(const std::string &text, const ControlRange &range, StoredControl *stored, std::string *reason);

// The whole file into *text; false (errno set) when it cannot be read.
bool controlStateRead(const char *file, std::string *text);

// The default place of the file: in systemd's state directory when it gives
// one, else in the working directory.
std::string controlStateDefaultFile(const char *stateDirectory);
