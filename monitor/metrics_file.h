#pragma once

#include <cstddef>

#include "monitor/cycle_facts.h"

// The Prometheus text of a cycle into text (size bytes, with its NUL), for
// node_exporter's textfile collector. Returns the length, or size or more
// when it does not fit.
size_t metricsFormat(const CycleFacts &facts, char *text, size_t size);

// Replaces file whole with text, mode 0644 whatever the umask, through a
// file beside it ("FILE.new", which node_exporter does not read) and a
// rename, so that a reader never sees half of it. Returns false (errno set)
// when it could not; the file is then left as it was.
bool metricsWrite(const char *file, const char *text, size_t length);
