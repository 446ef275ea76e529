#pragma once

#include <string>

#include "mqtt/mqtt_commands.h"

// The settings last taken over MQTT, kept across restarts in a text file of
// two lines:
//   limit 22
//   mode off
// (whole degrees; "off", "cool" or "heat").
std::string controlStateFormat(const ControlRange &range, int limitHalfDegrees, bool off);

// Reads that text; false with *reason when it does not parse, its limit is
// outside the range or its mode is not the instance's.
bool controlStateParse(const std::string &text, const ControlRange &range, int *limitHalfDegrees, bool *off,
                       std::string *reason);

// The whole file into *text; false (errno set) when it cannot be read.
bool controlStateRead(const char *file, std::string *text);

// The default place of the file: in systemd's state directory when it gives
// one, else in the working directory.
std::string controlStateDefaultFile(const char *stateDirectory);
