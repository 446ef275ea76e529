#pragma once

#include <cstddef>

#include "report/cycle_facts.h"

// The Prometheus text of a cycle into text (size bytes, with its NUL), for
// node_exporter's textfile collector. Returns the length, or size or more
// when it does not fit.
size_t metricsFormat(const CycleFacts &facts, char *text, size_t size);
