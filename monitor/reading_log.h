#pragma once

#include <cstdio>
#include <ctime>

// The reading log "tmp" in the working directory, emptied for writing.
// Returns nullptr (errno set) when it cannot be opened.
FILE *logOpen();

// Opens the log at start. Records that tmp still holds from an earlier run
// are first copied to "tmp1" as at a rotation; tmp is then emptied, or, when
// the copy fails, kept and appended to. Returns nullptr (errno set) when tmp
// cannot be opened.
FILE *logOpenAtStart();

// The two pieces of a record: "温度＝N " then "時間＝" ctime " \n", in
// Shift_JIS. Both write nothing when log is null. logWriteTime also pushes
// the whole record to the file and says whether it got there (errno set
// when not).
void logWriteTemperature(FILE *log, int degrees);
bool logWriteTime(FILE *log, time_t sampled);

// Closes the log, copies it to "tmp1" and starts it again empty. When there
// was no log or the copy failed, tmp1 is left as it was and tmp keeps its
// records, to be appended to. Returns the new stream, or nullptr (errno
// set) when tmp cannot be opened.
FILE *logRotate(FILE *log);
