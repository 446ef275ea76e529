#include "control/limit_argument.h"

#include <cstdint>

static bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool parseLimit(const char *text, int *halfDegrees)
{
    const char *p = text;
    while (isBlank(*p))
        ++p;

    bool negative = false;
    if (*p == '+' || *p == '-')
        negative = *p++ == '-';

    if (*p < '0' || *p > '9')
        return false;

    // The doubled value must fit: degrees from -2^30 to 2^30 - 1.
    const int64_t most = negative ? (INT64_C(1) << 30) : (INT64_C(1) << 30) - 1;
    int64_t degrees = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        degrees = degrees * 10 + (*p - '0');
        if (degrees > most)
            return false;
    }
    if (*p != '\0')
        return false;

    *halfDegrees = static_cast<int>(2 * (negative ? -degrees : degrees));
    return true;
}
