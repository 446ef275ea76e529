#pragma once

// Says "cannot WHAT FILE: REASON" (from errno) once, not every cycle until
// the file recovers; *reported remembers it, and the caller clears it once
// the file works again. The readings and the switching go on without it.
void reportFailure(const char *what, const char *file, bool *reported);
