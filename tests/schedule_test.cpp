// The schedule alone: its parser line by line, and what it says at chosen
// instants in Europe/Berlin, daylight saving nights included.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <string>
#include <vector>

#include "control/schedule.h"
#include "control/schedule_evaluation.h"
#include "control/time_zone.h"
#include "report/calendar.h"
#include "tempswitch_fixture.h"

namespace {

// A parsed schedule as text: each day's points as HH:MM=DEGREES, or the
// profile's start and its points as +SECONDS=DEGREES.
std::string render(const Schedule &schedule)
{
    static const char *const days[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
    std::string text;
    char point[32];
    if (schedule.profile) {
        text = scheduleSummary(schedule) + ":";
        for (const ProfilePoint &p : schedule.profilePoints)
            text += " +" + std::to_string(p.offset) + "=" + std::to_string(p.limit / 2);
        return text;
    }
    for (int day = 0; day < 7; ++day) {
        text += std::string(day ? " | " : "") + days[day];
        for (const WeeklyPoint &p : schedule.weekly[day]) {
            snprintf(point, sizeof point, " %02d:%02d=%d", p.minute / 60, p.minute % 60, p.limit / 2);
            text += point;
        }
    }
    return text;
}

TEST(Schedule, ParserTakesEachKindOfLineAndSaysWhyItRefusesOne)
{
    struct Accepted {
        std::string text, parsed;
    };
    const std::vector<Accepted> accepted = {
        {"# a room\n\nMon..Fri 06:30 21\n\tSat,Sun  08:00\t20   # weekend\n* 22:00 17\n",
         "Mon 06:30=21 22:00=17 | Tue 06:30=21 22:00=17 | Wed 06:30=21 22:00=17 | Thu 06:30=21 22:00=17 | "
         "Fri 06:30=21 22:00=17 | Sat 08:00=20 22:00=17 | Sun 08:00=20 22:00=17"},
        // Names in any case and in full, ranges that wrap, H:MM, signs, CRLF, a time written twice (both kept, in order).
        {"monday,WED 6:05 +21\r\nFri..mon 23:59 -5\r\nsaturday 00:00 0\nMon 6:05 22\n",
         "Mon 06:05=21 06:05=22 23:59=-5 | Tue | Wed 06:05=21 | Thu | Fri 23:59=-5 | Sat 00:00=0 23:59=-5 | "
         "Sun 23:59=-5"},
        // A profile: the start may come after its points; one offset twice is a step.
        {"+0 18\n+3d 18 # hold\n+2d24h 21\n+3d1h 21\n+7d 21\n+7d 2\n+10080m 3\nstart 2026-03-27 18:00\n",
         "a profile of 7 points from 2026-03-27 18:00: +0=18 +259200=18 +259200=21 +262800=21 +604800=21 +604800=2 "
         "+604800=3"},
        {"start 2028-02-29 00:00\n+0d 1\n+90m 2\n+36h 3\n",
         "a profile of 3 points from 2028-02-29 00:00: +0=1 +5400=2 +129600=3"},
    };
    for (const Accepted &row : accepted) {
        Schedule schedule;
        ScheduleFault fault;
        EXPECT_TRUE(scheduleParse(row.text, nullptr, &schedule, &fault)) << row.text << "\nline " << fault.line << ": "
                                                                         << fault.reason;
        EXPECT_EQ(render(schedule), row.parsed) << row.text;
    }

    struct Refused {
        std::string text;
        int line;
        std::string reason;
    };
    const std::string weeklyForm = "give DAYS HH:MM DEGREES, such as Mon..Fri 06:30 21";
    const std::string notDays = " are not days: give Mon or Monday to Sun or Sunday, lists with , and ranges with .., "
                                "such as Mon..Fri or Sat,Sun, or * for every day";
    const std::string notTime = " is not a time: give HH:MM from 00:00 to 23:59";
    const std::string notLimit = " is not a limit: give whole degrees from -1073741824 to 1073741823, such as 21 or -5";
    const std::string notOffset = " is not an offset: give +0, or whole days, hours and minutes written together in "
                                  "that order, such as +3d, +36h, +2d12h or +90m";
    const std::string start = "start 2026-03-01 18:00\n";
    const std::string both = "a file holds weekly points or one profile, not both";
    const std::vector<Refused> refused = {
        {"Mon 06:30", 1, weeklyForm},
        {"# x\nMon 06:30 21 22", 2, weeklyForm},
        {"Sat, Sun 08:00 20", 1, weeklyForm},
        {"Mox 06:30 21", 1, "\"Mox\"" + notDays},
        {"Mon,,Tue 06:30 21", 1, "\"Mon,,Tue\"" + notDays},
        {"Mon.. 06:30 21", 1, "\"Mon..\"" + notDays},
        {"*,Mon 06:30 21", 1, "\"*,Mon\"" + notDays},
        {"Mon 24:00 21", 1, "\"24:00\"" + notTime},
        {"Mon 06:60 21", 1, "\"06:60\"" + notTime},
        {"Mon 6:5 21", 1, "\"6:5\"" + notTime},
        {"Mon 0630 21", 1, "\"0630\"" + notTime},
        {"Mon 06:30 21.5", 1, "\"21.5\"" + notLimit},
        {"Mon 06:30 1073741824", 1, "\"1073741824\"" + notLimit},
        {"Mon 06:30 2\x1b[2J", 1, "\"2\\x1b[2J\"" + notLimit},
        {"Mon 06:30 21\n\n+1d 20\n", 3, "a profile's point among weekly points: " + both},
        {"Mon 06:30 21\n" + start, 2, "a start line among weekly points: " + both},
        {start + "+0 18\nMon 06:30 21\n", 3, "a weekly point in a profile: " + both},
        {"start 2026-02-29 18:00\n+0 1", 1,
         "give start YYYY-MM-DD HH:MM, a date and time that exist, such as start 2026-03-01 18:00"},
        {start + "+0 1\n" + start, 3, "a second start line: the profile's start is on line 1"},
        {start + "+3d 18\n# c\n+1d 20\n", 4, "\"+1d\" comes before the point of line 2: give each point at or after the "
                                              "one before it"},
        {start + "+1h2d 18", 2, "\"+1h2d\"" + notOffset},
        {start + "+3 18", 2, "\"+3\"" + notOffset},
        {start + "+1d1d 18", 2, "\"+1d1d\"" + notOffset},
        {start + "+36526d 18", 2, "\"+36526d\" is more than 36525 days after the start"},
        {start + "+1d", 2, "give +OFFSET DEGREES, such as +2d12h 21"},
        {"# a start is missing\n+0 18\n+1d 20\n", 2, "a profile needs its start: give a line start YYYY-MM-DD HH:MM"},
        {"# nothing\n\n", 0, "it holds no point: give lines DAYS HH:MM DEGREES, such as Mon..Fri 06:30 21, or a "
                             "profile: start YYYY-MM-DD HH:MM and lines +OFFSET DEGREES"},
        {start, 0, "it holds no point: give lines DAYS HH:MM DEGREES, such as Mon..Fri 06:30 21, or a profile: start "
                   "YYYY-MM-DD HH:MM and lines +OFFSET DEGREES"},
    };
    for (const Refused &row : refused) {
        Schedule schedule;
        ScheduleFault fault;
        EXPECT_FALSE(scheduleParse(row.text, nullptr, &schedule, &fault)) << row.text;
        EXPECT_EQ(fault.line, row.line) << row.text;
        EXPECT_EQ(fault.reason, row.reason) << row.text;
    }

    // With --mqtt-control 5:30 every limit must lie in its range.
    const ControlRange range = {5, 30, false};
    Schedule schedule;
    ScheduleFault fault;
    EXPECT_TRUE(scheduleParse("* 06:00 5\n* 07:00 30\n", &range, &schedule, &fault));
    EXPECT_FALSE(scheduleParse("* 06:00 5\n\nSun 07:00 35\n", &range, &schedule, &fault));
    EXPECT_EQ(fault.line, 3);
    EXPECT_EQ(fault.reason, "35 is outside --mqtt-control 5:30");
    EXPECT_FALSE(scheduleParse(start + "+0 4\n", &range, &schedule, &fault));
    EXPECT_EQ(fault.reason, "4 is outside --mqtt-control 5:30");
}

// "2026-03-29T03:00:00+02:00" as an instant.
time_t instant(const std::string &iso)
{
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, offsetHours = 0, offsetMinutes = 0;
    char sign = '+';
    EXPECT_EQ(sscanf(iso.c_str(), "%d-%d-%dT%d:%d:%d%c%d:%d", &year, &month, &day, &hour, &minute, &second, &sign,
                     &offsetHours, &offsetMinutes),
              9)
        << iso;
    const long offset = (sign == '-' ? -1 : 1) * (offsetHours * 3600L + offsetMinutes * 60L);
    return time_t(daysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second - offset);
}

class BerlinTime : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char *before = getenv("TZ");
        saved_ = before ? before : "";
        hadZone_ = before != nullptr;
        setenv("TZ", "Europe/Berlin", 1);
        tzset();
        ASSERT_EQ(localTimeOf(instant("2026-07-01T12:00:00+00:00")).utcOffset, 7200) << "no tzdata for Europe/Berlin";
    }
    void TearDown() override
    {
        if (hadZone_)
            setenv("TZ", saved_.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

private:
    std::string saved_;
    bool hadZone_ = false;
};

TEST_F(BerlinTime, EvaluationFollowsTheWeekDaylightSavingRampsAndSteps)
{
    struct Row {
        const char *what;
        std::string at;     // the instant, as local time with its offset
        int limit;          // whole degrees; -999: none (LIMIT holds)
        std::string next;   // "": none
        int nextLimit = 0;
    };
    struct Case {
        std::string text;
        std::vector<Row> rows;
    };
    const std::vector<Case> cases = {
        {"Mon..Fri 06:30 21\nSat,Sun 08:00 20\nSun 22:00 17\n",
         {{"Sunday's last point holds into Monday", "2026-12-07T06:29:59+01:00", 17, "2026-12-07T06:30:00+01:00", 21},
          {"a point at its minute", "2026-12-07T06:30:00+01:00", 21, "2026-12-08T06:30:00+01:00", 21},
          {"Friday's point holds into Saturday", "2026-12-12T07:59:59+01:00", 21, "2026-12-12T08:00:00+01:00", 20},
          {"the week wraps", "2026-12-13T23:59:59+01:00", 17, "2026-12-14T06:30:00+01:00", 21}}},
        // The night the clocks go forward (02:00 CET is 03:00 CEST): the points in the
        // hour skipped take effect at 03:00, the latest local time winning, not the later line.
        {"* 01:00 10\n* 02:30 20\n* 02:00 18\n* 04:00 24\n",
         {{"before the hour skipped", "2026-03-29T01:59:59+01:00", 10, "2026-03-29T03:00:00+02:00", 20},
          {"at the end of the skip", "2026-03-29T03:00:00+02:00", 20, "2026-03-29T04:00:00+02:00", 24}}},
        {"* 01:00 10\n* 02:30 20\n* 03:00 22\n* 02:30 21\n",
         {{"03:00 is later than the points skipped", "2026-03-29T03:00:00+02:00", 22, "2026-03-30T01:00:00+02:00", 10},
          {"one day and time written twice: the later line", "2026-03-30T02:30:00+02:00", 21,
           "2026-03-30T03:00:00+02:00", 22}}},
        // The night they go back (03:00 CEST is 02:00 CET): 02:30 takes effect the first time only.
        {"* 01:00 10\n* 02:30 20\n* 05:00 25\n",
         {{"before the first 02:30", "2026-10-25T02:29:59+02:00", 10, "2026-10-25T02:30:00+02:00", 20},
          {"between the two 02:30", "2026-10-25T02:29:59+01:00", 20, "2026-10-25T05:00:00+01:00", 25},
          {"at the second 02:30", "2026-10-25T02:30:00+01:00", 20, "2026-10-25T05:00:00+01:00", 25}}},
        // Pitch at 18, hold three days, rise to 21 over two, hold, then crash to 2. The offsets count
        // elapsed time: three days from 18:00 CET end at 19:00 CEST.
        {"start 2026-03-27 18:00\n+0 18\n+3d 18\n+5d 21\n+7d 21\n+7d 2\n",
         {{"before the first point LIMIT holds", "2026-03-27T17:59:59+01:00", -999, "2026-03-27T18:00:00+01:00", 18},
          {"the first point", "2026-03-27T18:00:00+01:00", 18, "2026-03-30T19:00:00+02:00", 18},
          {"a ramp's sixth less a second: 18.4999", "2026-03-31T02:59:59+02:00", 18, "2026-04-01T19:00:00+02:00", 21},
          {"a ramp's sixth: 18.5, a half toward 21", "2026-03-31T03:00:00+02:00", 19, "2026-04-01T19:00:00+02:00", 21},
          {"half way: 19.5", "2026-03-31T19:00:00+02:00", 20, "2026-04-01T19:00:00+02:00", 21},
          {"before the step", "2026-04-03T18:59:59+02:00", 21, "2026-04-03T19:00:00+02:00", 2},
          {"the step: the later line", "2026-04-03T19:00:00+02:00", 2, ""},
          {"after the last point", "2027-01-01T00:00:00+01:00", 2, ""}}},
        {"start 2026-01-01 00:00\n+0 21\n+4h 18\n",
         {{"falling, a half goes down: 20.5", "2026-01-01T00:40:00+01:00", 20, "2026-01-01T04:00:00+01:00", 18},
          {"19.5", "2026-01-01T02:00:00+01:00", 19, "2026-01-01T04:00:00+01:00", 18},
          {"19.25", "2026-01-01T02:20:00+01:00", 19, "2026-01-01T04:00:00+01:00", 18}}},
        // A start in the hour skipped is at 03:00.
        {"start 2026-03-29 02:30\n+0 5\n+1h 6\n",
         {{"the start", "2026-03-29T03:00:00+02:00", 5, "2026-03-29T04:00:00+02:00", 6}}},
    };
    for (const Case &c : cases) {
        Schedule schedule;
        ScheduleFault fault;
        ASSERT_TRUE(scheduleParse(c.text, nullptr, &schedule, &fault)) << c.text << fault.reason;
        for (const Row &row : c.rows) {
            const ScheduleNow now = scheduleAt(schedule, instant(row.at), localTimeOf);
            EXPECT_EQ(now.hasLimit ? now.limit / 2 : -999, row.limit) << row.what;
            EXPECT_EQ(now.hasNext ? isoLocalTime(now.next) : "", row.next) << row.what;
            if (now.hasNext) {
                EXPECT_EQ(now.nextLimit / 2, row.nextLimit) << row.what;
            }
        }
    }

    // A hold lasts until the schedule's first point after it began, whatever that point's limit:
    // the next day's same limit, the end of a ramp; after a profile's last point, until resumed.
    struct Hold {
        std::string text, began, ends;
    };
    const std::vector<Hold> holds = {
        {"* 06:00 20\n", "2026-12-09T21:13:05+01:00", "2026-12-10T06:00:00+01:00"},
        {"start 2026-01-01 00:00\n+0 21\n+4h 18\n", "2026-01-01T01:00:00+01:00", "2026-01-01T04:00:00+01:00"},
        {"start 2026-01-01 00:00\n+0 21\n+4h 18\n", "2026-01-01T04:00:00+01:00", ""},
    };
    for (const Hold &hold : holds) {
        Schedule schedule;
        ScheduleFault fault;
        ASSERT_TRUE(scheduleParse(hold.text, nullptr, &schedule, &fault));
        const ScheduleNow then = scheduleAt(schedule, instant(hold.began), localTimeOf);
        EXPECT_EQ(then.hasNext ? isoLocalTime(then.next) : "", hold.ends) << hold.text;
    }
    EXPECT_EQ(shortLocalTime({instant("2026-12-10T06:00:00+01:00"), 3600}), "Thu 06:00");
}

using ScheduleRun = TempswitchTest;

// The real program on a clock that steps one second at each read, in
// Berlin's time: the limit changes with the cycle stamped on the point,
// and the file is looked at every cycle.
TEST_F(ScheduleRun, LimitChangesAtItsPointAndEditsAreTakenOrRefusedOnce)
{
    sim::Device &sensor = usb.add();
    sensor.setReadings({50});  // 25 degrees: 255 at the limit 20, 0 at 30
    unplugAfterOutputs(sensor, 10);
    const std::filesystem::path file = directory() / "s";
    std::ofstream(file) << "# evening\n* 21:00 20\n* 22:00 30\n";
    const std::vector<std::string> args = {"--schedule", "s", "--metrics", "m.prom", "25"};
    auto startAt = [&](const std::string &time) -> sim::ProgramRun & {
        return start(sim::RunOptions{
            .args = args, .environment = {"TZ=Europe/Berlin"}, .faketime = "@2026-12-09 " + time + " i1", .fastSleep = true});
    };
    const std::string limitLine = "tempswitch_limit_celsius{limit=\"25\"} ";

    // The start reads the clock once (21:59:52); the cycles follow from 21:59:53.
    sim::ProgramRun &run = startAt("21:59:52");
    EXPECT_EQ(run.wait(), 1);
    std::string expected = "limit 20 from the schedule\n";
    for (int cycle = 1; cycle <= 10; ++cycle)
        expected += temperatureLine(25) + (cycle == 8 ? "limit 30 from the schedule\n" : "");
    EXPECT_EQ(run.output(), expected + "usbOpenDevice failed 1 \n");
    EXPECT_EQ(outputLevels(), (std::vector<int>{255, 255, 255, 255, 255, 255, 255, 0, 0, 0}));
    // Each record's time: "時間＝" in Shift_JIS, then ctime's "Wed Dec  9 21:59:53 2026".
    const std::string records = readFile(directory() / "tmp1") + readFile(directory() / "tmp");
    const std::string label = "\x8E\x9E\x8A\xD4\x81\x81";
    std::vector<std::string> times;
    for (size_t at = records.find(label); at != std::string::npos; at = records.find(label, at + 1))
        times.push_back(records.substr(at + label.size() + 11, 8));
    ASSERT_EQ(times.size(), 10u) << records;
    EXPECT_EQ(times[6] + " " + times[7], "21:59:59 22:00:00") << "the first 0 decides the cycle stamped on the point";
    EXPECT_NE(readFile(directory() / "m.prom").find(limitLine + "30\n"), std::string::npos);

    // While it runs: an edit that parses is taken at once; a bad one is said once and changes nothing.
    sensor.onVendorRequest(nullptr);
    sensor.plug();
    sim::ProgramRun &again = startAt("22:00:30");
    ASSERT_TRUE(waitForText(again, "limit 30 from the schedule\n")) << again.output();
    std::ofstream(directory() / "s.new") << "* 21:00 20\n* 22:00 18\n";
    std::filesystem::rename(directory() / "s.new", file);
    ASSERT_TRUE(waitForText(again, "limit 18 from the schedule\n")) << again.output();
    const size_t taken = outputLevels().size();
    std::ofstream(file, std::ios::app) << "* 25:00 20\n";
    const std::string refusal = "invalid --schedule \"s\" line 3: \"25:00\" is not a time: give HH:MM from 00:00 to "
                                "23:59; the schedule before it goes on";
    ASSERT_TRUE(waitForText(again, refusal)) << again.output();
    ASSERT_TRUE(again.waitForLines(again.lines().size() + 5));
    EXPECT_NE(readFile(directory() / "m.prom").find(limitLine + "18\n"), std::string::npos);
    again.signal(SIGTERM);
    again.wait();
    EXPECT_EQ(saidLines(again), (std::vector<std::string>{"limit 30 from the schedule",
                                              "read the changed --schedule \"s\": 2 weekly points",
                                              "limit 18 from the schedule", refusal}));
    const std::vector<int> levels = outputLevels();
    EXPECT_EQ(std::count(levels.begin() + long(taken) + 1, levels.end(), 0), 0) << "the limit 18 stays";
}

}  // namespace
