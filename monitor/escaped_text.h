#pragma once

#include <cstddef>

// Prints text on standard output with its control bytes, backslashes and
// double quotes escaped as in a C string (\n, \x1b, \\, \"), so that text
// from a user or a device can neither break a line nor forge one.
void printEscaped(const char *text);

// The same for bytes that may hold a NUL (shown as \x00).
void printEscapedBytes(const char *text, size_t length);
