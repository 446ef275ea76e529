#pragma once

#include <usb.h>

// One output request outside the cycle: the fail-safe level at the end of a
// run, over the handle it holds. Says on standard output when the request
// fails, since the output is then where the run left it. Returns whether it
// went through.
bool setFailsafeLevel(usb_dev_handle *handle, int level);

// After an end of the service that the program did not make itself (what
// says which): finds the sensor once (at port, when given) and sends the
// fail-safe level, then says in one line what ended the process and whether
// the level went out.
void setFailsafeAfterEnd(int level, const char *port, const char *what);

// tempswitch --set LEVEL: finds the sensor as a run does (at port, when
// given) and sends LEVEL, nothing else. Returns the exit status: 0 when the
// request went through.
int setOutputOnce(int level, const char *port);
