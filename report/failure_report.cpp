#include "report/failure_report.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "report/escaped_text.h"
#include "report/journal_line.h"

void reportFailure(const char *what, const char *file, bool *reported)
{
    int error = errno;
    if (!*reported)
        sayLine(Priority::warning, "cannot %s %s: %s\n", what, escapedText(file).c_str(), strerror(error));
    *reported = true;
}
