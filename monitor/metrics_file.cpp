#include "monitor/metrics_file.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
        "tempswitch_temperature_celsius{%s} %u%s\n"
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
        labels, s.reading >> 1, s.reading & 1 ? ".5" : "", labels, s.limit / 2, labels, s.level, labels,
        s.switches, labels, s.readFailures, labels, static_cast<long long>(s.lastReadingTime)));
}

static bool writeAll(int fd, const char *text, size_t length)
{
    while (length > 0) {
        ssize_t n = write(fd, text, length);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC;
            return false;
        }
        text += n;
        length -= size_t(n);
    }
    return true;
}

bool metricsWrite(const char *file, const char *text, size_t length)
{
    char beside[PATH_MAX];
    if (snprintf(beside, sizeof beside, "%s.new", file) >= int(sizeof beside)) {
        errno = ENAMETOOLONG;
        return false;
    }
    int fd = open(beside, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    // node_exporter runs as another user: readable by all, whatever our umask.
    bool written = fchmod(fd, 0644) == 0 && writeAll(fd, text, length);
    written = close(fd) == 0 && written;
    if (written && rename(beside, file) == 0)
        return true;
    int error = errno;
    unlink(beside);
    errno = error;
    return false;
}
