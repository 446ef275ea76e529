// libFuzzer target for the schedule's parser, which reads a file that an
// edit may have left in any state: never crashes, refuses with a reason
// and a line that exists, and a schedule it takes is one that the
// evaluation answers for, in a zone with daylight saving time.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "control/schedule.h"
#include "control/schedule_evaluation.h"
#include "control/time_zone.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const bool zoneSet = setenv("TZ", "Europe/Berlin", 1) == 0;
    (void)zoneSet;
    const std::string text(reinterpret_cast<const char *>(data), size);
    const ControlRange range = {-5, 40, false};
    int lines = 1;
    for (char c : text)
        lines += c == '\n';
    for (const ControlRange *limits : {static_cast<const ControlRange *>(nullptr), &range}) {
        Schedule schedule;
        ScheduleFault fault;
        if (!scheduleParse(text, limits, &schedule, &fault)) {
            if (fault.reason.empty() || fault.line < 0 || fault.line > lines)
                abort();
            continue;
        }
        // A spring night, an autumn one, and far from the profile's start either way.
        for (time_t at : {time_t(1774746000), time_t(1792890000), time_t(0), time_t(4102444800)}) {
            const ScheduleNow now = scheduleAt(schedule, at, localTimeOf);
            if ((!schedule.profile && (!now.hasLimit || !now.hasNext)) || (now.hasNext && now.next.at <= at))
                abort();
            if (limits != nullptr && now.hasLimit && (now.limit < 2 * range.minDegrees || now.limit > 2 * range.maxDegrees))
                abort();
        }
    }
    return 0;
}
