// Preloaded into the program under test with umockdev's preload, which
// around every call that takes a path saves the calling thread's signal
// mask into one variable that all threads share, blocks every signal, and
// later restores the mask from that variable (umockdev 0.17). Two threads
// with different masks (the loop, and the MQTT link's thread, which blocks
// the stop signals) then sometimes swap masks: the loop ends up blocking
// SIGTERM and a test's stop never arrives. Here each thread keeps its own
// mask across such a block-everything and restore, whatever the shared
// variable says.
#include <csignal>
#include <cstring>
#include <dlfcn.h>

namespace {

__thread sigset_t maskBeforeFullBlock;
__thread bool fullyBlocked = false;

bool isFull(const sigset_t *set)
{
    sigset_t full;
    sigfillset(&full);
    for (int signal = 1; signal < NSIG; ++signal)
        if (sigismember(&full, signal) == 1 && sigismember(set, signal) != 1)
            return false;
    return true;
}

}  // namespace

extern "C" int pthread_sigmask(int how, const sigset_t *set, sigset_t *old)
{
    using Real = int (*)(int, const sigset_t *, sigset_t *);
    static Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "pthread_sigmask"));
    if (how == SIG_SETMASK && set != nullptr && isFull(set)) {
        sigset_t before;
        int result = real(how, set, &before);
        if (result == 0) {
            maskBeforeFullBlock = before;
            fullyBlocked = true;
            if (old != nullptr)
                *old = before;
        }
        return result;
    }
    if (how == SIG_SETMASK && set != nullptr && fullyBlocked) {
        // The restore after a full block: this thread's own mask, not the shared one.
        fullyBlocked = false;
        return real(SIG_SETMASK, &maskBeforeFullBlock, old);
    }
    return real(how, set, old);
}
