#include "report/service_notify.h"

#include <cstdio>
#include <cstdlib>

#ifdef TEMPSWITCH_SYSTEMD
#include <systemd/sd-daemon.h>

bool notifyWanted()
{
    return getenv("NOTIFY_SOCKET") != nullptr;
}

bool notifyWatchdogWanted()
{
    uint64_t usec = 0;
    return sd_watchdog_enabled(0, &usec) > 0;
}

void notifyReady()
{
    sd_notify(0, "READY=1");
}

void notifyCycle(const CycleFacts &facts, bool watchdog)
{
    // "°C" in UTF-8: systemctl status shows it as it is, whatever --utf8 says.
    const LimitFacts &limits = facts.limits;
    char message[256];
    size_t length = size_t(snprintf(message, sizeof message, "STATUS=%s \xC2\xB0" "C, output %d, limit %d%s%s%s",
                                    readingText(facts.reading).c_str(), facts.level, limits.inUse / 2,
                                    limits.held ? " held" : "", limits.mode ? ", mode " : "",
                                    limits.mode ? limits.mode : ""));
    if (limits.hasNext && length < sizeof message)
        length += size_t(snprintf(message + length, sizeof message - length, ", next %d at %s", limits.nextLimit / 2,
                                  shortLocalTime(limits.next).c_str()));
    if (watchdog && length < sizeof message)
        snprintf(message + length, sizeof message - length, "\nWATCHDOG=1");
    sd_notify(0, message);
}

void notifyStopping()
{
    sd_notify(0, "STOPPING=1");
}

#else  // built without libsystemd: nothing is sent

bool notifyWanted() { return false; }
bool notifyWatchdogWanted() { return false; }
void notifyReady() {}
void notifyCycle(const CycleFacts &, bool) {}
void notifyStopping() {}

#endif
