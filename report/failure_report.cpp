#include "report/failure_report.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "report/escaped_text.h"

void reportFailure(const char *what, const char *file, bool *reported)
{
    int error = errno;
    if (!*reported)
        printf("cannot %s %s: %s\n", what, escapedText(file, strlen(file)).c_str(), strerror(error));
    *reported = true;
}
