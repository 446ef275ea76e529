#pragma once

// Parses the limit given in whole degrees: optional leading white space,
// an optional sign, then decimal digits and nothing else. On success stores
// the limit in half degrees (twice the number) and returns true; a text that
// is not such a number, or whose double does not fit 32 bits, gives false.
bool parseLimit(const char *text, int *halfDegrees);
