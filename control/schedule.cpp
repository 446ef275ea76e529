#include "control/schedule.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "control/limit_argument.h"
#include "report/calendar.h"
#include "report/escaped_text.h"

namespace {

const char *const weeklyForm = "give DAYS HH:MM DEGREES, such as Mon..Fri 06:30 21";
const char *const bothKinds = "a file holds weekly points or one profile, not both";
const char *const offsetForm =
    "give +0, or whole days, hours and minutes written together in that order, such as +3d, +36h, +2d12h or +90m";

// Offsets beyond a century are a slip of the keyboard; below it, the
// straight lines between points are computed without overflow.
const int64_t mostOffsetDays = 36525;

std::string quoted(const std::string &field)
{
    return "\"" + escapedText(field.data(), field.size()) + "\"";
}

// The fields of a line, split at spaces and tabs, without its comment.
std::vector<std::string> fieldsOf(const std::string &line)
{
    std::vector<std::string> fields;
    const std::string text = line.substr(0, line.find('#'));
    size_t at = 0;
    while ((at = text.find_first_not_of(" \t", at)) != std::string::npos) {
        size_t end = text.find_first_of(" \t", at);
        fields.push_back(text.substr(at, end - at));
        at = end;
    }
    return fields;
}

// Decimal digits only, at most maxDigits of them.
bool readNumber(const std::string &text, size_t maxDigits, int64_t *value)
{
    if (text.empty() || text.size() > maxDigits ||
        !std::all_of(text.begin(), text.end(), [](unsigned char c) { return isdigit(c); }))
        return false;
    *value = 0;
    for (char c : text)
        *value = *value * 10 + (c - '0');
    return true;
}

// "Mon" or "Monday", in any case: 0 for Monday to 6 for Sunday, else -1.
int dayNumber(const std::string &name)
{
    static const char *const names[7][2] = {{"mon", "monday"}, {"tue", "tuesday"},  {"wed", "wednesday"},
                                            {"thu", "thursday"}, {"fri", "friday"}, {"sat", "saturday"},
                                            {"sun", "sunday"}};
    std::string lower;
    for (unsigned char c : name)
        lower += char(tolower(c));
    for (int day = 0; day < 7; ++day)
        if (lower == names[day][0] || lower == names[day][1])
            return day;
    return -1;
}

// Days as systemd's calendar writes them: names, lists with ",", ranges
// with ".." (which wrap: Fri..Mon), or "*" for every day. Bit 0 is Monday.
bool parseDays(const std::string &field, unsigned *mask)
{
    *mask = 0;
    if (field == "*") {
        *mask = 0x7f;
        return true;
    }
    for (size_t at = 0;;) {
        const size_t comma = field.find(',', at);
        const std::string item = field.substr(at, comma - at);
        const size_t dots = item.find("..");
        const int first = dayNumber(item.substr(0, dots));
        const int last = dots == std::string::npos ? first : dayNumber(item.substr(dots + 2));
        if (first < 0 || last < 0)
            return false;
        for (int day = first;; day = (day + 1) % 7) {
            *mask |= 1u << day;
            if (day == last)
                break;
        }
        if (comma == std::string::npos)
            return true;
        at = comma + 1;
    }
}

// HH:MM (or H:MM) from 00:00 to 23:59, as a minute of the day.
bool parseClock(const std::string &field, int *minute)
{
    const size_t colon = field.find(':');
    int64_t hours = 0, minutes = 0;
    if (colon == std::string::npos || field.size() != colon + 3 || !readNumber(field.substr(0, colon), 2, &hours) ||
        !readNumber(field.substr(colon + 1), 2, &minutes) || hours > 23 || minutes > 59)
        return false;
    *minute = int(hours * 60 + minutes);
    return true;
}

// YYYY-MM-DD, a date that exists.
bool parseDate(const std::string &field, int64_t *day)
{
    int64_t year = 0, month = 0, date = 0;
    if (field.size() != 10 || field[4] != '-' || field[7] != '-' || !readNumber(field.substr(0, 4), 4, &year) ||
        !readNumber(field.substr(5, 2), 2, &month) || !readNumber(field.substr(8, 2), 2, &date) || month < 1 ||
        month > 12 || date < 1)
        return false;
    const int64_t first = daysFromCivil(year, int(month), 1);
    const int64_t next = month == 12 ? daysFromCivil(year + 1, 1, 1) : daysFromCivil(year, int(month) + 1, 1);
    if (date > next - first)
        return false;
    *day = first + date - 1;
    return true;
}

// +0, or days, hours and minutes in that order, each at most once: +2d12h.
bool parseOffset(const std::string &field, int64_t *seconds)
{
    if (field == "+0") {
        *seconds = 0;
        return true;
    }
    static const char units[] = {'d', 'h', 'm'};
    static const int64_t unitSeconds[] = {86400, 3600, 60};
    size_t unit = 0, at = 1;
    *seconds = 0;
    if (field.size() < 2 || field[0] != '+')
        return false;
    while (at < field.size()) {
        const size_t end = field.find_first_not_of("0123456789", at);
        int64_t number = 0;
        if (end == std::string::npos || !readNumber(field.substr(at, end - at), 7, &number))
            return false;
        while (unit < 3 && units[unit] != field[end])
            ++unit;
        if (unit == 3)
            return false;
        *seconds += number * unitSeconds[unit++];
        at = end + 1;
    }
    return true;
}

// DEGREES as LIMIT takes them, and within --mqtt-control's range.
bool parseDegrees(const std::string &field, const ControlRange *range, int *halfDegrees, std::string *reason)
{
    if (!parseLimit(field.c_str(), halfDegrees) || field.find_first_of(" \t\n\v\f\r") != std::string::npos) {
        *reason = quoted(field) + " is not a limit: give whole degrees from -1073741824 to 1073741823, such as 21 or -5";
        return false;
    }
    const int degrees = *halfDegrees / 2;
    if (range != nullptr && (degrees < range->minDegrees || degrees > range->maxDegrees)) {
        *reason = std::to_string(degrees) + " is outside --mqtt-control " + std::to_string(range->minDegrees) + ":" +
                  std::to_string(range->maxDegrees);
        return false;
    }
    return true;
}

// What one line read so far makes of the file.
struct Reading {
    Schedule schedule;
    int startLine = 0;
    int firstPointLine = 0;
    int lastOffsetLine = 0;
};

// A weekly point: DAYS HH:MM DEGREES.
bool readWeekly(const std::vector<std::string> &fields, const ControlRange *range, int line, Reading *reading,
                std::string *reason)
{
    unsigned mask = 0;
    int minute = 0, limit = 0;
    if (reading->schedule.profile)
        *reason = "a weekly point in a profile: " + std::string(bothKinds);
    else if (fields.size() != 3)
        *reason = weeklyForm;
    else if (!parseDays(fields[0], &mask))
        *reason = quoted(fields[0]) + " are not days: give Mon or Monday to Sun or Sunday, lists with , and ranges "
                                      "with .., such as Mon..Fri or Sat,Sun, or * for every day";
    else if (!parseClock(fields[1], &minute))
        *reason = quoted(fields[1]) + " is not a time: give HH:MM from 00:00 to 23:59";
    else if (parseDegrees(fields[2], range, &limit, reason)) {
        for (int day = 0; day < 7; ++day)
            if (mask & (1u << day))
                reading->schedule.weekly[day].push_back({minute, limit, line});
        return true;
    }
    return false;
}

// The profile's start: start YYYY-MM-DD HH:MM.
bool readStart(const std::vector<std::string> &fields, int line, Reading *reading, std::string *reason)
{
    Schedule &schedule = reading->schedule;
    if (schedule.points > 0 && !schedule.profile)
        *reason = "a start line among weekly points: " + std::string(bothKinds);
    else if (reading->startLine != 0)
        *reason = "a second start line: the profile's start is on line " + std::to_string(reading->startLine);
    else if (fields.size() != 3 || !parseDate(fields[1], &schedule.startDay) ||
             !parseClock(fields[2], &schedule.startMinute))
        *reason = "give start YYYY-MM-DD HH:MM, a date and time that exist, such as start 2026-03-01 18:00";
    else {
        schedule.profile = true;
        reading->startLine = line;
        return true;
    }
    return false;
}

// A profile's point: +OFFSET DEGREES, at or after the point before it.
bool readProfilePoint(const std::vector<std::string> &fields, const ControlRange *range, int line, Reading *reading,
                      std::string *reason)
{
    Schedule &schedule = reading->schedule;
    int64_t offset = 0;
    int limit = 0;
    if (schedule.points > 0 && !schedule.profile)
        *reason = "a profile's point among weekly points: " + std::string(bothKinds);
    else if (fields.size() != 2)
        *reason = "give +OFFSET DEGREES, such as +2d12h 21";
    else if (!parseOffset(fields[0], &offset))
        *reason = quoted(fields[0]) + " is not an offset: " + offsetForm;
    else if (offset > mostOffsetDays * 86400)
        *reason = quoted(fields[0]) + " is more than " + std::to_string(mostOffsetDays) + " days after the start";
    else if (!schedule.profilePoints.empty() && offset < schedule.profilePoints.back().offset)
        *reason = quoted(fields[0]) + " comes before the point of line " + std::to_string(reading->lastOffsetLine) +
                  ": give each point at or after the one before it";
    else if (parseDegrees(fields[1], range, &limit, reason)) {
        schedule.profile = true;
        schedule.profilePoints.push_back({offset, limit, line});
        reading->lastOffsetLine = line;
        return true;
    }
    return false;
}

}  // namespace

bool scheduleParse(const std::string &text, const ControlRange *range, Schedule *schedule, ScheduleFault *fault)
{
    Reading reading;
    int line = 0;
    for (size_t at = 0; at < text.size();) {
        size_t end = std::min(text.find('\n', at), text.size());
        std::string content = text.substr(at, end - at);
        at = end + 1;
        ++line;
        if (!content.empty() && content.back() == '\r')  // a file saved with CRLF line ends
            content.pop_back();
        const std::vector<std::string> fields = fieldsOf(content);
        if (fields.empty())
            continue;
        std::string reason;
        const bool start = fields[0] == "start";
        const bool read = start               ? readStart(fields, line, &reading, &reason)
                          : fields[0][0] == '+' ? readProfilePoint(fields, range, line, &reading, &reason)
                                                : readWeekly(fields, range, line, &reading, &reason);
        if (!read) {
            *fault = {line, reason};
            return false;
        }
        if (!start && reading.schedule.points++ == 0)
            reading.firstPointLine = line;
    }
    if (reading.schedule.points == 0) {
        *fault = {0, "it holds no point: give lines DAYS HH:MM DEGREES, such as Mon..Fri 06:30 21, or a profile: "
                     "start YYYY-MM-DD HH:MM and lines +OFFSET DEGREES"};
        return false;
    }
    if (reading.schedule.profile && reading.startLine == 0) {
        *fault = {reading.firstPointLine, "a profile needs its start: give a line start YYYY-MM-DD HH:MM"};
        return false;
    }
    for (std::vector<WeeklyPoint> &day : reading.schedule.weekly)
        std::stable_sort(day.begin(), day.end(), [](const WeeklyPoint &a, const WeeklyPoint &b) {
            return a.minute < b.minute;
        });
    *schedule = std::move(reading.schedule);
    return true;
}

std::string scheduleSummary(const Schedule &schedule)
{
    const std::string count = std::to_string(schedule.points);
    if (!schedule.profile)
        return count + (schedule.points == 1 ? " weekly point" : " weekly points");
    int64_t year = 0;
    int month = 0, day = 0;
    civilFromDays(schedule.startDay, &year, &month, &day);
    char start[32];
    snprintf(start, sizeof start, "%04lld-%02d-%02d %02d:%02d", static_cast<long long>(year), month, day,
             schedule.startMinute / 60, schedule.startMinute % 60);
    return "a profile of " + count + (schedule.points == 1 ? " point" : " points") + " from " + start;
}
