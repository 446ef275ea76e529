#pragma once

#include <usb.h>

// One output request outside the cycle: the fail-safe level at the end of a
// run, over the handle it holds. Says on standard output when the request
// fails, since the output is then where the run left it. Returns whether it
// went through.
bool setFailsafeLevel(usb_dev_handle *handle, int level);

// tempswitch --set LEVEL: finds the sensor as a run does (at port, when
// given) and sends LEVEL, nothing else. Returns the exit status: 0 when the
// request went through.
int setOutputOnce(int level, const char *port);
