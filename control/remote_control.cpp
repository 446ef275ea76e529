#include "control/remote_control.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "control/control_state_file.h"
#include "report/escaped_text.h"
#include "report/failure_report.h"
#include "report/file_replace.h"
#include "report/journal_line.h"

RemoteControl controlStart(const ControlRange &range, int limitHalfDegrees, const std::string &stateFile)
{
    RemoteControl control;
    control.enabled = true;
    control.range = range;
    control.limit = limitHalfDegrees;
    control.stateFile = stateFile;
    std::string text, reason;
    if (!controlStateRead(stateFile.c_str(), &text)) {
        if (errno != ENOENT)
            reason = strerror(errno);
    } else {
        int limit = 0;
        bool off = false;
        if (controlStateParse(text, range, &limit, &off, &reason)) {
            control.limit = limit;
            control.off = off;
            sayLine(Priority::notice, "limit %d and mode %s from %s, as last set over MQTT\n", limit / 2,
                    controlModeName(range, off), escapedText(stateFile.data(), stateFile.size()).c_str());
        }
    }
    if (!reason.empty()) {
        sayLine(Priority::warning, "ignored %s: %s; the limit %d and mode %s of the command line are used\n",
                escapedText(stateFile.data(), stateFile.size()).c_str(), reason.c_str(), limitHalfDegrees / 2,
                controlModeName(range, false));
    }
    return control;
}

static void keepState(RemoteControl *control)
{
    std::string text = controlStateFormat(control->range, control->limit, control->off);
    if (fileReplace(control->stateFile.c_str(), text.data(), text.size(), true))
        control->writeFailureReported = false;
    else
        reportFailure("write", control->stateFile.c_str(), &control->writeFailureReported);
}

bool controlTake(RemoteControl *control, const MqttCommands &commands)
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
    bool changed = false;
    if (commands.hasLimit && commands.limit != control->limit) {
        control->limit = commands.limit;
        sayLine(Priority::notice, "limit %d set over MQTT\n", control->limit / 2);
        changed = true;
    }
    if (commands.hasMode && commands.off != control->off) {
        control->off = commands.off;
        sayLine(Priority::notice, "mode %s set over MQTT\n", controlModeName(control->range, control->off));
        changed = true;
    }
    if (changed)
        keepState(control);
    return commands.any;
}

OutputRules controlRules(const OutputRules &rules, const RemoteControl &control)
{
    OutputRules now = rules;
    if (control.enabled) {
        now.limit = control.limit;
        now.off = control.off;
    }
    return now;
}

const char *controlMode(const RemoteControl &control)
{
    return control.enabled ? controlModeName(control.range, control.off) : nullptr;
}
