#include "monitor/cycle_report.h"

#include <cerrno>
#include <unistd.h>

#include "report/failure_report.h"
#include "report/file_replace.h"
#include "report/metrics_file.h"
#include "report/service_notify.h"

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
    // Gone before the broker is told, which may take up to two seconds.
    if (stopped && reports->metricsFile != nullptr && unlink(reports->metricsFile) != 0 && errno != ENOENT) {
        bool reported = false;
        reportFailure("remove", reports->metricsFile, &reported);
    }
    mqttStop(reports->mqtt);
    reports->mqtt = nullptr;
}
