#include "control/limit_control.h"

#include "report/calendar.h"
#include "report/journal_line.h"

// Whether the hold has come to the schedule's first point after its start,
// which an edit of the file may have moved. A hold after a profile's last
// point lasts until the schedule is resumed.
static bool holdOver(LimitControl *control, time_t now)
{
    control->sinceHold = scheduleAt(control->schedule.schedule, time_t(control->remote.settings.holdStart), control->zone);
    return control->sinceHold.hasNext && now >= control->sinceHold.next.at;
}

// The limit in use at now: the schedule's (LIMIT before a profile's first
// point) unless a hold holds. A change that the schedule makes is said, and
// its limit always when a hold ends (say).
static void followSchedule(LimitControl *control, time_t now, bool say)
{
    const StoredControl &settings = control->remote.settings;
    control->scheduled = scheduleAt(control->schedule.schedule, now, control->zone);
    if (settings.held && holdOver(control, now)) {
        remoteEndHold(&control->remote);
        say = true;
    }
    const int limit = settings.held                 ? settings.limit
                      : control->scheduled.hasLimit ? control->scheduled.limit
                                                    : control->commandLineLimit;
    if (!settings.held && (say || limit != control->limit))
        sayLine(Priority::notice, "limit %d from the schedule\n", limit / 2);
    control->limit = limit;
}

LimitControl controlStart(const LimitSettings &settings, int limitHalfDegrees, const char *stateDirectory,
                          TimeZone zone)
{
    LimitControl control;
    control.commandLineLimit = control.limit = limitHalfDegrees;
    control.zone = zone;
    const bool scheduled = settings.scheduleFile != nullptr;
    if (settings.controlled) {
        control.remote = remoteStart(settings.range, limitHalfDegrees,
                                     settings.stateFile ? settings.stateFile : controlStateDefaultFile(stateDirectory),
                                     scheduled);
        control.limit = control.remote.settings.limit;
    }
    if (!scheduled)
        return control;
    ScheduleFile &file = control.schedule;
    file.path = settings.scheduleFile;
    file.inRange = settings.controlled;
    file.range = settings.range;
    file.schedule = settings.schedule;
    file.text = settings.scheduleText;
    // The clock is read here only with a schedule: the cycles' times come from the loop.
    const time_t now = time(nullptr);
    const StoredControl &stored = control.remote.settings;
    if (stored.held && holdOver(&control, now))  // a run that starts after the end follows the schedule
        remoteEndHold(&control.remote);
    if (control.remote.restored)
        remoteSayRestored(control.remote, !stored.held                 ? ""
                                          : control.sinceHold.hasNext ? isoLocalTime(control.sinceHold.next)
                                                                      : "the schedule is resumed");
    followSchedule(&control, now, true);
    return control;
}

bool controlCycle(LimitControl *control, const MqttCommands &commands, time_t now)
{
    const bool scheduled = control->schedule.path != nullptr;
    if (scheduled) {
        tzset();  // a zone set while the program runs counts from this cycle on
        scheduleFileLook(&control->schedule);
    }
    bool resumed = false;
    if (control->remote.enabled)
        resumed = remoteTake(&control->remote, commands, control->limit, now);
    if (scheduled)
        followSchedule(control, now, resumed);
    else if (control->remote.enabled)
        control->limit = control->remote.settings.limit;
    return commands.any;
}

OutputRules controlRules(const OutputRules &rules, const LimitControl &control)
{
    OutputRules now = rules;
    now.limit = control.limit;
    now.off = control.remote.enabled && control.remote.settings.off;
    return now;
}

LimitFacts controlFacts(const LimitControl &control)
{
    LimitFacts facts;
    facts.inUse = control.limit;
    facts.mode = remoteMode(control.remote);
    facts.scheduled = control.schedule.path != nullptr;
    facts.held = control.remote.settings.held;
    facts.holdEnds = facts.held && control.sinceHold.hasNext;
    facts.holdUntil = control.sinceHold.next;
    facts.hasNext = control.scheduled.hasNext;
    facts.next = control.scheduled.next;
    facts.nextLimit = control.scheduled.nextLimit;
    return facts;
}
