#include "report/metrics_file.h"

#include <cstdio>

size_t metricsFormat(const CycleFacts &s, char *text, size_t size)
{
    // Several instances may write into one directory: the limit, and the
    // port when one is chosen, tell their samples apart; the help texts are
    // the same in every file. A port path needs no escaping.
    char labels[64];
    snprintf(labels, sizeof labels, s.port ? "limit=\"%d\",port=\"%s\"" : "limit=\"%d\"", s.limit / 2, s.port);
    return size_t(snprintf(
        text, size,
        "# HELP tempswitch_temperature_celsius Temperature of this cycle; a failed read repeats the last reading.\n"
        "# TYPE tempswitch_temperature_celsius gauge\n"
        "tempswitch_temperature_celsius{%s} %s\n"
        "# HELP tempswitch_limit_celsius Temperature at which the output switches.\n"
        "# TYPE tempswitch_limit_celsius gauge\n"
        "tempswitch_limit_celsius{%s} %d\n"
        "# HELP tempswitch_output_level Level of this cycle's output request (0 or 255).\n"
        "# TYPE tempswitch_output_level gauge\n"
        "tempswitch_output_level{%s} %d\n"
        "# HELP tempswitch_output_switches_total Changes of the output level since the start.\n"
        "# TYPE tempswitch_output_switches_total counter\n"
        "tempswitch_output_switches_total{%s} %ld\n"
        "# HELP tempswitch_read_failures_total Cycles whose read delivered no reading.\n"
        "# TYPE tempswitch_read_failures_total counter\n"
        "tempswitch_read_failures_total{%s} %ld\n"
        "# HELP tempswitch_last_reading_timestamp_seconds Unix time of the last read that delivered a reading.\n"
        "# TYPE tempswitch_last_reading_timestamp_seconds gauge\n"
        "tempswitch_last_reading_timestamp_seconds{%s} %lld\n",
        labels, readingText(s.reading).c_str(), labels, s.limits.inUse / 2, labels, s.level, labels,
        s.switches, labels, s.readFailures, labels, static_cast<long long>(s.lastReadingTime)));
}
