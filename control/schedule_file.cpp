#include "control/schedule_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "report/escaped_text.h"
#include "report/journal_line.h"

// A thousand points take some 20 kB; a file much larger is not a schedule.
static const size_t mostBytes = 1 << 20;

bool scheduleFileReadInto(const char *path, std::vector<char> *buffer, size_t *length)
{
    int file = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (file < 0)
        return false;
    if (buffer->size() < 16384)
        buffer->resize(16384);
    ssize_t got = 0;
    *length = 0;
    while ((got = read(file, buffer->data() + *length, buffer->size() - *length)) > 0) {
        *length += size_t(got);
        if (*length == buffer->size() && *length <= mostBytes)
            buffer->resize(std::min(2 * buffer->size(), mostBytes + 1));
    }
    const int error = got < 0 ? errno : *length > mostBytes ? EFBIG : 0;
    close(file);
    errno = error;
    return error == 0;
}

bool scheduleFileRead(const char *path, std::string *text)
{
    std::vector<char> buffer;
    size_t length = 0;
    if (!scheduleFileReadInto(path, &buffer, &length))
        return false;
    text->assign(buffer.data(), length);
    return true;
}

std::string scheduleFaultText(const char *path, const ScheduleFault &fault)
{
    return "invalid --schedule \"" + escapedText(path) + "\"" +
           (fault.line > 0 ? " line " + std::to_string(fault.line) : "") + ": " + fault.reason;
}

bool scheduleFileLook(ScheduleFile *file)
{
    size_t length = 0;
    const int error = scheduleFileReadInto(file->path, &file->buffer, &length) ? 0 : errno;
    const bool changed = error != file->error ||
                         (error == 0 && (length != file->text.size() ||
                                         memcmp(file->buffer.data(), file->text.data(), length) != 0));
    if (!changed && file->troubleSaid)
        return false;
    std::string text = error == 0 ? std::string(file->buffer.data(), length) : std::string();
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
