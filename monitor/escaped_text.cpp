#include "monitor/escaped_text.h"

#include <cstdio>

void printEscaped(const char *text)
{
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(text); *p != '\0'; ++p) {
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
