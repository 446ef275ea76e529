#include "report/escaped_text.h"

#include <cstdio>
#include <cstring>

std::string escapedText(const char *text, size_t length)
{
    std::string escaped;
    const unsigned char *bytes = reinterpret_cast<const unsigned char *>(text);
    for (const unsigned char *p = bytes; p != bytes + length; ++p) {
        switch (*p) {
        case '\n': escaped += "\\n"; break;
        case '\r': escaped += "\\r"; break;
        case '\t': escaped += "\\t"; break;
        case '\\': escaped += "\\\\"; break;
        case '"': escaped += "\\\""; break;
        default:
            if (*p < 0x20 || *p == 0x7f) {
                char hex[5];
                snprintf(hex, sizeof hex, "\\x%02x", *p);
                escaped += hex;
            } else {
                escaped += char(*p);
            }
        }
    }
    return escaped;
}

std::string escapedText(const char *text)
{
    return escapedText(text, strlen(text));
}

void printEscaped(const char *text)
{
    fputs(escapedText(text).c_str(), stdout);
}
