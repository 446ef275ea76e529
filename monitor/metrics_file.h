#pragma once

#include <cstddef>
#include <ctime>

// What one cycle tells a Prometheus scrape, through node_exporter's
// textfile collector.
struct MetricsSample {
    int limit;               // half degrees
    unsigned reading;        // half degrees: this cycle's, or the last one when the read failed
    int level;               // of this cycle's output request
    long switches;           // level changes since the start
    long readFailures;       // cycles whose read delivered no reading
    time_t lastReadingTime;  // of the last read that delivered one; 0 before
};

// The Prometheus text of a sample into text (size bytes, with its NUL).
// Returns the length, or size or more when it does not fit.
size_t metricsFormat(const MetricsSample &sample, char *text, size_t size);

// Replaces file whole with text, mode 0644 whatever the umask, through a
// file beside it ("FILE.new", which node_exporter does not read) and a
// rename, so that a reader never sees half of it. Returns false (errno set)
// when it could not; the file is then left as it was.
bool metricsWrite(const char *file, const char *text, size_t length);
