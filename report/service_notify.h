#pragma once

#include "report/cycle_facts.h"

// systemd's notification protocol (Type=notify), through libsystemd. Under
// a service manager that gives $NOTIFY_SOCKET it says when the program is
// ready, how it is each cycle, that the loop still runs, and that it is
// stopping; otherwise, and in a build without libsystemd, nothing is sent.

// Whether a service manager listens.
bool notifyWanted();

// Whether it wants WATCHDOG=1 (WatchdogSec= in the unit).
bool notifyWatchdogWanted();

// READY=1: the first reading has been tried and printed.
void notifyReady();

// STATUS= with the cycle's reading, output level and limit (and mode), in
// UTF-8, and WATCHDOG=1 when wanted.
void notifyCycle(const CycleFacts &facts, bool watchdog);

// STOPPING=1: a stop signal came, the end is under way.
void notifyStopping();
