#include "control/schedule_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "report/escaped_text.h"
#include "report/journal_line.h"

// A thousand points take some 20 kB; a file much larger is not a schedule.
static const size_t mostBytes = 1 << 20;

bool scheduleFileRead(const char *path, std::string *text)
{
    int file = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (file < 0)
        return false;
    text->clear();
    char buffer[16384];
    ssize_t got = 0;
    while ((got = read(file, buffer, sizeof buffer)) > 0 && text->size() <= mostBytes)
        text->append(buffer, size_t(got));
    const int error = got < 0 ? errno : text->size() > mostBytes ? EFBIG : 0;
    close(file);
    errno = error;
    return error == 0;
}

std::string scheduleFaultText(const char *path, const ScheduleFault &fault)
{
    return "invalid --schedule \"" + escapedText(path) + "\"" +
           (fault.line > 0 ? " line " + std::to_string(fault.line) : "") + ": " + fault.reason;
}

bool scheduleFileLook(ScheduleFile *file)
{
    std::string text;
    const int error = scheduleFileRead(file->path, &text) ? 0 : errno;
    const bool changed = error != file->error || text != file->text;
    if (!changed && file->troubleSaid)
        return false;
    Schedule schedule;
    ScheduleFault fault;
    const bool parsed = error == 0 && scheduleParse(text, file->inRange ? &file->range : nullptr, &schedule, &fault);
    if (changed) {
        file->text = std::move(text);
        file->error = error;
        file->troubleSaid = parsed;
        if (parsed) {
            file->schedule = std::move(schedule);
            sayLine(Priority::notice, "read the changed --schedule \"%s\": %s\n", escapedText(file->path).c_str(),
                    scheduleSummary(file->schedule).c_str());
        }
        return parsed;
    }
    file->troubleSaid = true;
    const std::string what = error != 0 ? "cannot read --schedule \"" + escapedText(file->path) + "\": " + strerror(error)
                                        : scheduleFaultText(file->path, fault);
    sayLine(Priority::warning, "%s; the schedule before it goes on\n", what.c_str());
    return false;
}
