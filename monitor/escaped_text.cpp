#include "monitor/escaped_text.h"

#include <cstdio>
#include <cstring>

void printEscaped(const char *text)
{
    printEscapedBytes(text, strlen(text));
}

void printEscapedBytes(const char *text, size_t length)
{
    const unsigned char *bytes = reinterpret_cast<const unsigned char *>(text);
    for (const unsigned char *p = bytes; p != bytes + length; ++p) {
        switch (*p) {
        case '\n': fputs("\\n", stdout); break;
        case '\r': fputs("\\r", stdout); break;
        case '\t': fputs("\\t", stdout); break;
        case '\\': fputs("\\\\", stdout); break;
        case '"': fputs("\\\"", stdout); break;
        default:
            if (*p < 0x20 || *p == 0x7f)
                printf("\\x%02x", *p);
            else
                putchar(*p);
        }
    }
}
