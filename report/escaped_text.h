#pragma once

#include <cstddef>
#include <string>

// Text from a user, a device or the network with its control bytes,
// backslashes and double quotes escaped as in a C string (\n, \x1b, \\,
// \"), so that it can neither break a line nor forge one. NUL bytes, which
// a payload may hold, become \x00.
std::string escapedText(const char *text, size_t length);
std::string escapedText(const char *text);  // up to its NUL

// The same, printed on standard output.
void printEscaped(const char *text);
