#pragma once

// Prints text on standard output with its control bytes, backslashes and
// double quotes escaped as in a C string (\n, \x1b, \\, \"), so that text
// from a user or a device can neither break a line nor forge one.
void printEscaped(const char *text);
