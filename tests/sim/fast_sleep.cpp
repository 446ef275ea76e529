// Preloaded into the program under test ahead of libfaketime: sleep() lasts
// a twentieth of the time asked. With libfaketime stepping the clock at each
// read, the program's clock is then fixed by what it does, not by how fast
// the machine runs it, and a cycle still takes little real time.
#include <cerrno>
#include <ctime>
#include <sys/syscall.h>
#include <unistd.h>

extern "C" unsigned int sleep(unsigned int seconds)
{
    long nanoseconds = long(seconds) * (1000000000L / 20);
    struct timespec wait = {nanoseconds / 1000000000L, nanoseconds % 1000000000L};
    // The system call itself, so that no other preloaded sleep gets in between.
    while (syscall(SYS_nanosleep, &wait, &wait) != 0 && errno == EINTR) {
    }
    return 0;
}
