#include "control/control_state_file.h"

#include <cerrno>
#include <cstdio>
#include <vector>

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
    std::vector<std::string> lines;
    for (size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1)
        lines.push_back(text.substr(at, end - at));
    const char *unparsed = "it is not two lines \"limit N\" and \"mode M\"";
    StoredControl read;
    read.held = lines.size() == 3;
    // Whole lines only: the last one ends with its newline too.
    if (text.empty() || text.back() != '\n' || lines.size() < 2 || lines.size() > 3 || lines[0].rfind("limit ", 0) != 0 ||
        lines[1].rfind("mode ", 0) != 0 || (read.held && !parseHold(lines[2], &read.holdStart))) {
        *reason = unparsed;
        return false;
    }
    const std::string limit = lines[0].substr(6), mode = lines[1].substr(5);
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
