#include "control/control_state_file.h"

#include <cerrno>
#include <cstdio>

std::string controlStateFormat(const ControlRange &range, int limitHalfDegrees, bool off)
{
    return "limit " + std::to_string(limitHalfDegrees / 2) + "\nmode " + controlModeName(range, off) + "\n";
}

bool controlStateParse(const std::string &text, const ControlRange &range, int *limitHalfDegrees, bool *off,
                       std::string *reason)
{
    size_t end = text.find('\n');
    size_t second = end == std::string::npos ? end : text.find('\n', end + 1);
    const char *unparsed = "it is not two lines \"limit N\" and \"mode M\"";
    if (text.rfind("limit ", 0) != 0 || second == std::string::npos || second + 1 != text.size() ||
        text.compare(end + 1, 5, "mode ") != 0) {
        *reason = unparsed;
        return false;
    }
    std::string limit = text.substr(6, end - 6), mode = text.substr(end + 6, second - end - 6);
    ControlRange any = {-(1 << 30), (1 << 30) - 1, range.heat};
    if (!controlParseLimit(limit, any, limitHalfDegrees) || (mode != "off" && mode != "cool" && mode != "heat")) {
        *reason = unparsed;
        return false;
    }
    if (!controlParseLimit(limit, range, limitHalfDegrees)) {
        *reason = "its limit " + limit + " is outside --mqtt-control " + std::to_string(range.minDegrees) + ":" +
                  std::to_string(range.maxDegrees);
        return false;
    }
    if (!controlParseMode(mode, range, off)) {
        *reason = "its mode " + mode + " is not this instance's: off or " + controlModeName(range, false);
        return false;
    }
    return true;
}

bool controlStateRead(const char *file, std::string *text)
{
    FILE *in = fopen(file, "re");
    if (in == nullptr)
        return false;
    char buffer[256];
    size_t length = fread(buffer, 1, sizeof buffer, in);
    bool failed = ferror(in);
    fclose(in);
    if (failed) {
        errno = EIO;
        return false;
    }
    // A file longer than any valid one is kept too long, and so refused.
    text->assign(buffer, length);
    return true;
}

std::string controlStateDefaultFile(const char *stateDirectory)
{
    if (stateDirectory == nullptr || *stateDirectory == '\0')
        return "tempswitch.state";
    // systemd lists one directory for each StateDirectory=; ours is the first.
    std::string directory = stateDirectory;
    return directory.substr(0, directory.find(':')) + "/tempswitch.state";
}
