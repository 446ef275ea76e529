#pragma once

// With a fail-safe level, MQTT, a metrics file or systemd's notify socket
// the program catches SIGTERM, SIGINT and SIGHUP, so that the loop can set
// that level, say "offline", remove the file and say STOPPING=1 before it
// ends; without them it handles no signal at all.
void stopSignalsCatch();

// The stop signal caught so far, or 0.
int stopSignalCaught();

// Ends the process by that signal, as if it had never been caught, so that
// a service manager sees the stop it asked for.
[[noreturn]] void stopSignalRaise(int signal);
