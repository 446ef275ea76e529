#include "monitor/stop_signals.h"

#include <csignal>
#include <cstdlib>

static volatile sig_atomic_t caught = 0;

static void onStopSignal(int signal)
{
    caught = signal;
}

void stopSignalsCatch()
{
    struct sigaction action = {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    // Reads and writes go on where they were; the one-second sleep does not
    // restart, so a stop is seen at once.
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
}

int stopSignalCaught()
{
    return caught;
}

void stopSignalRaise(int signal)
{
    ::signal(signal, SIG_DFL);
    raise(signal);
    abort();  // not reached: the default action of these signals ends the process
}
