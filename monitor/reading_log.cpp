#include "monitor/reading_log.h"

#include <csignal>
#include <cstdlib>
#include <sys/stat.h>
#include <sys/wait.h>

FILE *logOpen()
{
    return fopen("tmp", "w");
}

void logWriteTemperature(FILE *log, int degrees)
{
    if (log != nullptr)
        fprintf(log, "\x89\xB7\x93\x78\x81\x81%d ", degrees);
}

bool logWriteTime(FILE *log, time_t sampled)
{
    if (log == nullptr)
        return false;
    fprintf(log, "\x8E\x9E\x8A\xD4\x81\x81%s \n", ctime(&sampled));
    // A record still in the buffer would be lost to the signal that stops us.
    return fflush(log) == 0;
}

// Copies tmp to tmp1 so that a reader of tmp1 only ever sees a whole
// snapshot: cp to a file beside it, then rename over it.
static bool logSnapshot()
{
    int status = system("cp tmp tmp1.new");
    if (status != 0) {
        remove("tmp1.new");
        // system() ignored the Ctrl-C that killed cp; it was meant for us too.
        if (status != -1 && WIFSIGNALED(status) &&
            (WTERMSIG(status) == SIGINT || WTERMSIG(status) == SIGQUIT))
            raise(WTERMSIG(status));
        return false;
    }
    if (rename("tmp1.new", "tmp1") != 0) {
        remove("tmp1.new");
        return false;
    }
    return true;
}

// tmp is only emptied once its records are safe in tmp1; otherwise the
// next records are appended to them.
static FILE *logReopen(bool snapshotted)
{
    return snapshotted ? logOpen() : fopen("tmp", "a");
}

FILE *logOpenAtStart()
{
    // Records that an earlier run left (a restart, a reboot) go to tmp1
    // first, as at a rotation, rather than being emptied away.
    struct stat file;
    bool leftover = stat("tmp", &file) == 0 && file.st_size > 0;
    return logReopen(!leftover || logSnapshot());
}

FILE *logRotate(FILE *log)
{
    bool copied = false;
    if (log != nullptr) {
        // A window with a record that never reached the file is no snapshot.
        bool complete = ferror(log) == 0;
        complete = fclose(log) == 0 && complete;
        copied = complete && logSnapshot();
    }
    return logReopen(copied);
}
