#pragma once

#include <string>
#include <vector>

#include "control/schedule.h"
#include "mqtt/mqtt_commands.h"

// The file of --schedule, looked at once a cycle, and the schedule in use.
struct ScheduleFile {
    const char *path = nullptr;  // nullptr without --schedule
    bool inRange = false;        // with --mqtt-control, every limit must lie in its range
    ControlRange range = {0, 0, false};
    Schedule schedule;           // in use
    std::string text;            // what the file held at the last look
    std::vector<char> buffer;    // what a look reads into, kept so that a look copies nothing more
    int error = 0;               // why the last look could not read it; 0 when it could
    bool troubleSaid = true;     // what was wrong at the last look has been said, or nothing was
};

// The whole file, up to 1 MiB, into *text; false (errno set) when it cannot
// be read. Neither a FIFO nor a device makes it wait.
bool scheduleFileRead(const char *path, std::string *text);

// The same into the first *length bytes of *buffer, which grows as needed.
bool scheduleFileReadInto(const char *path, std::vector<char> *buffer, size_t *length);

// "invalid --schedule "FILE" line N: REASON", or without the line when the
// file as a whole is at fault.
std::string scheduleFaultText(const char *path, const ScheduleFault &fault);

// Once a cycle: the file is read and compared with what it held, since its
// times may lie (a clock set back, a copy that keeps them). A change that
// parses replaces the schedule at once and is said; one that does not, or
// a file that is gone, is said once it has stayed so for one more look (an
// editor may be writing it), and the schedule before it goes on. Returns
// whether the schedule was replaced.
bool scheduleFileLook(ScheduleFile *file);
