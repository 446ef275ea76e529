#include "monitor/service_end.h"

#include <cstring>

static bool is(const char *text, const char *word)
{
    return text != nullptr && strcmp(text, word) == 0;
}

ServiceEnd serviceEndJudge(const char *serviceResult, const char *exitCode, const char *exitStatus)
{
    const std::string status = exitStatus ? exitStatus : "";
    if (is(exitCode, "exited")) {
        if (status == "0" || status == "1" || status == "2")
            return {false, ""};
        return {true, "the service exited with status " + status};
    }
    if (!is(exitCode, "killed") && !is(exitCode, "dumped"))
        return {false, ""};  // no main process ended: nothing it left undone
    if (status == "TERM" || status == "INT" || status == "HUP")
        return {false, ""};
    std::string what = is(serviceResult, "watchdog") ? "the watchdog ended the service by signal " + status
                       : is(serviceResult, "timeout") ? "the service ran past its time-out and ended by signal " + status
                                                      : "the service ended by signal " + status;
    return {true, is(exitCode, "dumped") ? what + " (core dumped)" : what};
}
