// What --schedule adds to a cycle: the look at the file and the evaluation
// that controlCycle does, for a file of 1,000 points, in Europe/Berlin.
// bench/run runs it under callgrind and counts the instructions of
// runCycles alone, so that setting up and writing the file are left out.
//   schedule_cost_bench weekly|dst-night|profile CYCLES
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "control/limit_control.h"
#include "control/time_zone.h"
#include "report/calendar.h"

namespace {

// Cycles one second apart, as the loop runs them, with no command from the network.
__attribute__((noinline)) void runCycles(LimitControl *control, time_t from, int cycles)
{
    for (int cycle = 0; cycle < cycles; ++cycle)
        controlCycle(control, MqttCommands{}, from + cycle);
}

// 1,000 weekly points of every kind of DAYS, spread over the day: some
// 650 of them fall on each day.
std::string weeklyPoints()
{
    static const char *const days[] = {"Mon..Fri", "Sat,Sun", "*", "Mon", "Tue..Thu", "Fri..Mon", "Wed,Fri,Sun"};
    std::string text = "# 1,000 weekly points\n";
    char line[64];
    for (int i = 0; i < 1000; ++i) {
        const int minute = i * 1439 / 999;
        snprintf(line, sizeof line, "%s %02d:%02d %d\n", days[i % 7], minute / 60, minute % 60, 15 + i % 10);
        text += line;
    }
    return text;
}

// A profile of 1,000 points a quarter of an hour apart, ramps and steps.
std::string profilePoints()
{
    std::string text = "start 2026-12-01 18:00\n";
    for (int i = 0; i < 1000; ++i)
        text += "+" + std::to_string(i / 2 * 15) + "m " + std::to_string(15 + i % 10) + "\n";
    return text;
}

time_t berlin(int year, int month, int day, int hour, int minute)
{
    return time_t(daysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60) -
           localTimeOf(time_t(daysFromCivil(year, month, day) * 86400)).utcOffset;
}

}  // namespace

int main(int argc, char **argv)
{
    const std::string kind = argc > 1 ? argv[1] : "";
    const int cycles = argc > 2 ? atoi(argv[2]) : 0;
    if ((kind != "weekly" && kind != "dst-night" && kind != "profile") || cycles <= 0) {
        fprintf(stderr, "usage: %s weekly|dst-night|profile CYCLES\n", argv[0]);
        return 2;
    }
    setenv("TZ", "Europe/Berlin", 1);
    tzset();
    char directory[] = "/tmp/schedule-cost-XXXXXX";
    if (mkdtemp(directory) == nullptr)
        return 1;
    const std::string file = std::string(directory) + "/points.schedule";
    std::ofstream(file) << (kind == "profile" ? profilePoints() : weeklyPoints());

    LimitSettings settings;
    settings.scheduleFile = file.c_str();
    ScheduleFault fault;
    if (!scheduleFileRead(file.c_str(), &settings.scheduleText) ||
        !scheduleParse(settings.scheduleText, nullptr, &settings.schedule, &fault)) {
        fprintf(stderr, "%s\n", scheduleFaultText(file.c_str(), fault).c_str());
        return 1;
    }
    // A weekday afternoon; the night the clocks go forward; the middle of the profile's ramps.
    const time_t from = kind == "weekly"    ? berlin(2026, 12, 9, 14, 0)
                        : kind == "dst-night" ? berlin(2026, 3, 29, 1, 0)
                                              : berlin(2026, 12, 4, 12, 0);
    LimitControl control = controlStart(settings, 50, nullptr, localTimeOf);
    runCycles(&control, from, cycles);
    fprintf(stderr, "%s: %d points, %d cycles from %s, %zu bytes read each cycle\n", kind.c_str(),
            settings.schedule.points, cycles, isoLocalTime({from, localTimeOf(from).utcOffset}).c_str(),
            settings.scheduleText.size());
    unlink(file.c_str());
    rmdir(directory);
    return 0;
}
