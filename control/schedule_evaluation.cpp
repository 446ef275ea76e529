#include "control/schedule_evaluation.h"

#include <algorithm>
#include <iterator>

namespace {

// How the zone runs around one local day: one offset, or a change from one
// to another at an instant. A day's local times lie within 26 hours of its
// wall-clock span, whatever the zone.
struct DayZone {
    long before, after;  // seconds east of UTC
    time_t change;       // the first instant of the offset after, when the two differ
};

DayZone dayZone(int64_t day, TimeZone zone)
{
    const time_t midnight = time_t(day * 86400);
    time_t early = midnight - 26 * 3600, late = midnight + 50 * 3600;
    DayZone found = {zone(early).utcOffset, zone(late).utcOffset, 0};
    if (found.before != found.after) {
        while (late - early > 1) {
            const time_t middle = early + (late - early) / 2;
            (zone(middle).utcOffset == found.before ? early : late) = middle;
        }
        found.change = late;
        found.after = zone(late).utcOffset;
    }
    return found;
}

// The first instant at or after a local second of the day: the wall time
// read back through the offset before the change, else the one after, else
// (the clocks skipped it) the change itself.
time_t momentIn(const DayZone &zone, int64_t day, int second)
{
    const time_t wall = time_t(day * 86400 + second);
    const time_t early = wall - zone.before, late = wall - zone.after;
    if (zone.before == zone.after || early < zone.change)
        return early;
    return late >= zone.change ? late : zone.change;
}

// The zones of the few days that one evaluation looks at, each asked once.
struct DayZones {
    TimeZone zone;
    int64_t days[4];
    DayZone zones[4];
    int known;
};

DayZone zoneOfDay(DayZones *memo, int64_t day)
{
    for (int i = 0; i < memo->known; ++i)
        if (memo->days[i] == day)
            return memo->zones[i];
    const int slot = memo->known < 4 ? memo->known++ : 3;
    memo->days[slot] = day;
    memo->zones[slot] = dayZone(day, memo->zone);
    return memo->zones[slot];
}

time_t pointMoment(const DayZone &zone, int64_t day, const WeeklyPoint &point)
{
    return momentIn(zone, day, point.minute * 60);
}

// The first of a day's points, from `from` on, that has not taken effect by `at`.
std::vector<WeeklyPoint>::const_iterator firstAfter(std::vector<WeeklyPoint>::const_iterator from,
                                                    const std::vector<WeeklyPoint> &points, const DayZone &zone,
                                                    int64_t day, time_t at)
{
    return std::partition_point(from, points.end(), [&](const WeeklyPoint &p) { return pointMoment(zone, day, p) <= at; });
}

long offsetAt(const DayZone &zone, time_t at)
{
    return zone.before == zone.after || at < zone.change ? zone.before : zone.after;
}

// Points take effect in the order of their days, minutes and lines, so the
// one in force is the last that has, and the next one the first that has
// not. A week back and ahead holds both, since every point recurs weekly.
// Yesterday's points have all taken effect once today's date is local;
// tomorrow's may have only if the clocks went back over midnight.
ScheduleNow weeklyAt(const Schedule &schedule, time_t now, TimeZone zone)
{
    ScheduleNow result;
    DayZones zones = {zone, {}, {}, 0};
    const int64_t today = zone(now).day;
    const DayZone todays = zoneOfDay(&zones, today);
    const bool wentBack = todays.after < todays.before;
    for (int64_t day = wentBack ? today + 1 : today; day >= today - 8 && !result.hasLimit; --day) {
        const std::vector<WeeklyPoint> &points = schedule.weekly[weekdayOf(day)];
        if (points.empty())
            continue;
        auto taken = firstAfter(points.begin(), points, zoneOfDay(&zones, day), day, now);
        if (taken != points.begin()) {
            result.hasLimit = true;
            result.limit = std::prev(taken)->limit;
        }
    }
    for (int64_t day = today; day <= today + 8 && !result.hasNext; ++day) {
        const std::vector<WeeklyPoint> &points = schedule.weekly[weekdayOf(day)];
        if (points.empty())
            continue;
        const DayZone around = zoneOfDay(&zones, day);
        auto next = firstAfter(points.begin(), points, around, day, now);
        if (next == points.end())
            continue;
        // Of the points that take effect at that moment (those the clocks
        // skip, one day and time written twice), the latest local time
        // wins, then the later line; past midnight, the next day's.
        const time_t at = pointMoment(around, day, *next);
        const WeeklyPoint *winner = &*std::prev(firstAfter(next, points, around, day, at));
        const std::vector<WeeklyPoint> &following = schedule.weekly[weekdayOf(day + 1)];
        if (!following.empty() && winner == &points.back()) {
            const DayZone aroundFollowing = zoneOfDay(&zones, day + 1);
            for (const WeeklyPoint &p : following) {
                if (pointMoment(aroundFollowing, day + 1, p) > at)
                    break;
                winner = &p;
            }
        }
        result.hasNext = true;
        result.next = {at, offsetAt(around, at)};
        result.nextLimit = winner->limit;
    }
    return result;
}

// Offsets count elapsed seconds from the start, whatever the clocks do.
ScheduleNow profileAt(const Schedule &schedule, time_t now, TimeZone zone)
{
    ScheduleNow result;
    const std::vector<ProfilePoint> &points = schedule.profilePoints;
    const time_t start = firstLocalMoment(schedule.startDay, schedule.startMinute * 60, zone);
    const int64_t elapsed = int64_t(now) - start;
    auto byOffset = [](int64_t offset, const ProfilePoint &p) { return offset < p.offset; };
    auto next = std::upper_bound(points.begin(), points.end(), elapsed, byOffset);
    if (next != points.begin()) {
        // Of points at one offset (a step), the last holds from there on.
        const ProfilePoint &from = *std::prev(next);
        result.hasLimit = true;
        result.limit = next == points.end()
                           ? from.limit
                           : 2 * rampDegrees(from.limit / 2, next->limit / 2, elapsed - from.offset,
                                             next->offset - from.offset);
    }
    if (next != points.end()) {
        const time_t at = time_t(start + next->offset);
        result.hasNext = true;
        result.next = {at, zone(at).utcOffset};
        result.nextLimit = std::prev(std::upper_bound(next, points.end(), next->offset, byOffset))->limit;
    }
    return result;
}

}  // namespace

ScheduleNow scheduleAt(const Schedule &schedule, time_t now, TimeZone zone)
{
    return schedule.profile ? profileAt(schedule, now, zone) : weeklyAt(schedule, now, zone);
}

time_t firstLocalMoment(int64_t day, int second, TimeZone zone)
{
    return momentIn(dayZone(day, zone), day, second);
}

int rampDegrees(int from, int to, int64_t elapsed, int64_t span)
{
    // The line's value times span; degrees below 2^30 and a span below a
    // century of seconds keep it within 63 bits.
    const int64_t scaled = int64_t(from) * (span - elapsed) + int64_t(to) * elapsed;
    const int64_t whole = floorDivide(scaled, span), rest = scaled - whole * span;
    const bool up = 2 * rest > span || (2 * rest == span && to > from);
    return int(whole + up);
}
