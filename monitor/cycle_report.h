#pragma once

#include "mqtt/mqtt_link.h"
#include "report/cycle_facts.h"

// Whatever reports each cycle's facts beyond the console and the log: the
// metrics file, the MQTT broker and systemd.
struct Reports {
    const char *metricsFile = nullptr;  // --metrics FILE
    bool metricsFailureReported = false;
    MqttLink *mqtt = nullptr;           // --mqtt
    bool watchdog = false;              // systemd waits for WATCHDOG=1
};

// After each cycle's output request.
void reportCycle(Reports *reports, const CycleFacts &facts);

// At the end of the run: on a stop by signal (stopped) the metrics file
// removed, so that a deliberate stop is not taken for a dead instance; then
// "offline" to the broker and the link closed.
void reportEnd(Reports *reports, bool stopped);
