#include "control/control_state_file.h"

#include <cerrno>
#include <cstdio>

std::string controlStateFormat(const ControlRange &range, const StoredControl &stored)
{
    return "limit " + std::to_string(stored.limit / 2) + "\nmode " + controlModeName(range, stored.off) + "\n" +
           (stored.held ? "hold " + std::to_string(stored.holdStart) + "\n" : "");
}

// "hold T": T whole seconds since 1970.
static bool parseHold(const std::string &line, int64_t *start)
{
    if (line.rfind("hold ", 0) != 0 || line.size() == 5 || line.size() > 5 + 18 ||
        line.find_first_not_of("0123456789", 5) != std::string::npos)
        return false;
    *start = std::stoll(line.substr(5));
    return true;
}

bool controlStateParse(const std::string &text, const ControlRange &range, StoredControl *stored, std::string *reason)
{
    size_t end = text.find('\n');
    size_t second = end == std::string::npos ? end : text.find('\n', end + 1);
    size_t third = second == std::string::npos || second + 1 == text.size() ? second : text.find('\n', second + 1);
    const char *unparsed = "it is not two lines \"limit N\" and \"mode M\"";
    StoredControl read;
    if (text.rfind("limit ", 0) != 0 || third == std::string::npos || third + 1 != text.size() ||
        text.compare(end + 1, 5, "mode ") != 0 ||
        (third != second && !parseHold(text.substr(second + 1, third - second - 1), &read.holdStart))) {
        *reason = unparsed;
        return false;
    }
    read.held = third != second;
    std::string limit = text.substr(6, end - 6), mode = text.substr(end + 6, second - end - 6);
    ControlRange any = {-(1 << 30), (1 << 30) - 1, range.heat};
    if (!controlParseLimit(limit, any, &read.limit) || (mode != "off" && mode != "cool" && mode != "heat")) {
        *reason = unparsed;
        return false;
    }
    if (!controlParseLimit(limit, range, &read.limit)) {
        *reason = "its limit " + limit + " is outside --mqtt-control " + std::to_string(range.minDegrees) + ":" +
                  std::to_string(range.maxDegrees);
        return false;
    }
    if (!controlParseMode(mode, range, &read.off)) {
        *reason = "its mode " + mode + " is not this instance's: off or " + controlModeName(range, false);
        return false;
    }
    *stored = read;
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
