#include "monitor/cycle_report.h"

#include <cerrno>
#include <unistd.h>

#include "monitor/failure_report.h"
#include "monitor/file_replace.h"
#include "monitor/metrics_file.h"
#include "monitor/service_notify.h"

void reportCycle(Reports *reports, const CycleFacts &facts)
{
    if (reports->metricsFile != nullptr) {
        char text[2048];
        size_t length = metricsFormat(facts, text, sizeof text);
        if (fileReplace(reports->metricsFile, text, length, false))
            reports->metricsFailureReported = false;
        else
            reportFailure("write", reports->metricsFile, &reports->metricsFailureReported);
    }
    mqttPublishCycle(reports->mqtt, facts);
    notifyCycle(facts, reports->watchdog);
}

void reportEnd(Reports *reports, bool stopped)
{
    mqttStop(reports->mqtt);
    reports->mqtt = nullptr;
    if (stopped && reports->metricsFile != nullptr && unlink(reports->metricsFile) != 0 && errno != ENOENT) {
        bool reported = false;
        reportFailure("remove", reports->metricsFile, &reported);
    }
}
