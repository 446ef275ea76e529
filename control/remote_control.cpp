#include "control/remote_control.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "report/escaped_text.h"
#include "report/failure_report.h"
#include "report/file_replace.h"
#include "report/journal_line.h"

RemoteControl remoteStart(const ControlRange &range, int limitHalfDegrees, const std::string &stateFile, bool scheduled)
{
    RemoteControl control;
    control.enabled = true;
    control.scheduled = scheduled;
    control.range = range;
    control.settings.limit = limitHalfDegrees;
    control.stateFile = stateFile;
    std::string text, reason;
    StoredControl stored;
    if (!controlStateRead(stateFile.c_str(), &text)) {
        if (errno != ENOENT)
            reason = strerror(errno);
    } else if (controlStateParse(text, range, &stored, &reason)) {
        stored.held = stored.held && scheduled;
        control.settings = stored;
        control.restored = true;
        if (!scheduled)
            sayLine(Priority::notice, "limit %d and mode %s from %s, as last set over MQTT\n", stored.limit / 2,
                    controlModeName(range, stored.off), escapedText(stateFile.data(), stateFile.size()).c_str());
    }
    if (!reason.empty()) {
        sayLine(Priority::warning, "ignored %s: %s; the limit %d and mode %s of the command line are used\n",
                escapedText(stateFile.data(), stateFile.size()).c_str(), reason.c_str(), limitHalfDegrees / 2,
                controlModeName(range, false));
    }
    return control;
}

void remoteSayRestored(const RemoteControl &control, const std::string &heldUntil)
{
    const std::string file = escapedText(control.stateFile.data(), control.stateFile.size());
    const char *mode = controlModeName(control.range, control.settings.off);
    if (control.settings.held)
        sayLine(Priority::notice, "limit %d and mode %s from %s, as last set over MQTT, held until %s\n",
                control.settings.limit / 2, mode, file.c_str(), heldUntil.c_str());
    else
        sayLine(Priority::notice, "mode %s from %s, as last set over MQTT\n", mode, file.c_str());
}

static void keepState(RemoteControl *control)
{
    std::string text = controlStateFormat(control->range, control->settings);
    if (fileReplace(control->stateFile.c_str(), text.data(), text.size(), true))
        control->writeFailureReported = false;
    else
        reportFailure("write", control->stateFile.c_str(), &control->writeFailureReported);
}

// A limit set over MQTT: with a schedule it holds from now, even when it is
// the limit in use.
static bool takeLimit(StoredControl *settings, bool scheduled, int limit, time_t now)
{
    if (limit == settings->limit && (settings->held || !scheduled))
        return false;
    settings->limit = limit;
    settings->held = scheduled;
    settings->holdStart = now;
    sayLine(Priority::notice, "limit %d set over MQTT\n", limit / 2);
    return true;
}

bool remoteTake(RemoteControl *control, const MqttCommands &commands, int limitInUse, time_t now)
{
    // Each line in one call: the link's thread may print at the same time.
    for (const std::string &topic : commands.retainedTopics)
        sayLine(Priority::warning, "ignored a retained MQTT command on %s: commands must not be retained\n",
                escapedText(topic.data(), topic.size()).c_str());
    if (commands.refused)
        sayLine(Priority::warning, "refused MQTT command on %s \"%s\": %s\n",
                escapedText(commands.refusedTopic.data(), commands.refusedTopic.size()).c_str(),
                escapedText(commands.refusedPayload.data(), commands.refusedPayload.size()).c_str(),
                commands.refusedHint.c_str());
    StoredControl &settings = control->settings;
    bool changed = false, resumed = false;
    if (commands.hasPreset && commands.resume == settings.held) {
        sayLine(Priority::notice, "preset %s set over MQTT\n", commands.resume ? "schedule" : "none");
        resumed = commands.resume;
        settings.held = !commands.resume;
        settings.limit = commands.resume ? settings.limit : limitInUse;
        settings.holdStart = now;
        changed = true;
    }
    if (commands.hasLimit)
        changed = takeLimit(&settings, control->scheduled, commands.limit, now) || changed;
    if (commands.hasMode && commands.off != settings.off) {
        settings.off = commands.off;
        sayLine(Priority::notice, "mode %s set over MQTT\n", controlModeName(control->range, settings.off));
        changed = true;
    }
    if (changed)
        keepState(control);
    return resumed;
}

void remoteEndHold(RemoteControl *control)
{
    control->settings.held = false;
    keepState(control);
}

const char *remoteMode(const RemoteControl &control)
{
    return control.enabled ? controlModeName(control.range, control.settings.off) : nullptr;
}
