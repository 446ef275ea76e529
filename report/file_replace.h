#pragma once

#include <cstddef>

// Replaces file whole with text, mode 0644 whatever the umask, through a
// file beside it ("FILE.new") and a rename, so that a reader never sees
// half of it. With durable, the data and then the rename are synced, so
// that a power cut leaves the old file or the new one, never an empty one.
// Returns false (errno set) when it could not; the file is then left as it
// was.
bool fileReplace(const char *file, const char *text, size_t length, bool durable);
