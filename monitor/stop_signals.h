#pragma once

// With a fail-safe level the program catches SIGTERM, SIGINT and SIGHUP, so
// that the loop can set that level before it ends; without one it handles
// no signal at all.
void stopSignalsCatch();

// The stop signal caught so far, or 0.
int stopSignalCaught();

// Ends the process by that signal, as if it had never been caught, so that
// a service manager sees the stop it asked for.
[[noreturn]] void stopSignalRaise(int signal);
