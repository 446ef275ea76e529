// libFuzzer target for the limit argument: never crashes, and agrees with
// an independent reading through strtoll on what is a valid limit.
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "control/limit_argument.h"

static bool oracle(const std::string &text, int *halfDegrees)
{
    size_t start = 0;
    while (start < text.size() && strchr(" \t\n\v\f\r", text[start]) != nullptr && text[start] != '\0')
        ++start;
    size_t digits = start + (start < text.size() && (text[start] == '+' || text[start] == '-'));
    if (digits >= text.size() || text[digits] < '0' || text[digits] > '9')
        return false;
    errno = 0;
    char *end = nullptr;
    long long value = strtoll(text.c_str() + start, &end, 10);
    if (*end != '\0' || errno == ERANGE || value < INT_MIN / 2 || value > INT_MAX / 2)
        return false;
    *halfDegrees = int(2 * value);
    return true;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string text(reinterpret_cast<const char *>(data), size);
    text = text.substr(0, text.find('\0'));  // what argv can hold
    int parsed = 12345, expected = 54321;
    bool ok = parseLimit(text.c_str(), &parsed);
    if (ok != oracle(text, &expected) || (ok && parsed != expected))
        abort();
    return 0;
}
