#include "report/service_notify.h"

#include <cstdlib>
#include <string>

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
    std::string message = "STATUS=" + readingText(facts.reading) + " \xC2\xB0" "C, output " +
                          std::to_string(facts.level) + ", limit " + std::to_string(limits.inUse / 2);
    if (limits.held)
        message += " held";
    if (limits.mode != nullptr)
        message += std::string(", mode ") + limits.mode;
    if (limits.hasNext)
        message += ", next " + std::to_string(limits.nextLimit / 2) + " at " + shortLocalTime(limits.next);
    if (watchdog)
        message += "\nWATCHDOG=1";
    sd_notify(0, message.c_str());
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
