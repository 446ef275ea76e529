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
    char message[160];
    // "°C" in UTF-8: systemctl status shows it as it is, whatever --utf8 says.
    snprintf(message, sizeof message, "STATUS=%s \xC2\xB0" "C, output %d, limit %d%s%s%s",
             readingText(facts.reading).c_str(), facts.level, facts.limitInUse / 2, facts.mode ? ", mode " : "",
             facts.mode ? facts.mode : "", watchdog ? "\nWATCHDOG=1" : "");
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
