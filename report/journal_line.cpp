#include "report/journal_line.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>

bool journalIsStandardOutput()
{
    // Looked up at each line rather than kept: one fstat a line costs
    // nothing at a line a second, and no state outlives the call.
    const char *stream = getenv("JOURNAL_STREAM");
    unsigned long long device = 0, inode = 0;
    char rest = 0;
    struct stat out;
    return stream != nullptr && sscanf(stream, "%llu:%llu%c", &device, &inode, &rest) == 2 &&
           fstat(STDOUT_FILENO, &out) == 0 && out.st_dev == device && out.st_ino == inode;
}

void sayLine(Priority priority, const char *format, ...)
{
    std::string line = journalIsStandardOutput() ? "<" + std::to_string(int(priority)) + ">" : "";
    const size_t prefix = line.size();
    va_list arguments;
    va_start(arguments, format);
    va_list again;
    va_copy(again, arguments);
    int length = vsnprintf(nullptr, 0, format, arguments);
    va_end(arguments);
    if (length > 0) {
        line.resize(prefix + size_t(length) + 1);
        vsnprintf(line.data() + prefix, size_t(length) + 1, format, again);
        line.resize(prefix + size_t(length));
        fputs(line.c_str(), stdout);
    }
    va_end(again);
}
