#pragma once

// Every line the program says goes through here, at its priority. Under
// systemd, when standard output is the journal ($JOURNAL_STREAM names its
// device and inode), a line starts with "<N>", which journald takes as the
// line's priority and strips; anywhere else (a console, a pipe, a file) the
// bytes are the line's own.
enum class Priority {
    err = 3,      // the run ends, or the load is not under control
    warning = 4,  // trouble that the program lives through
    notice = 5,   // a setting changed from outside
    info = 6,     // the readings and everything else
};

// Prints one line (format ends with its "\n") in one write of the stream, so
// that a line of the link's thread cannot cut into it.
void sayLine(Priority priority, const char *format, ...) __attribute__((format(printf, 2, 3)));

// Whether standard output is the journal's stream.
bool journalIsStandardOutput();
