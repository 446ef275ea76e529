#pragma once

// Probes every USB device as a search for the sensor would, and prints one
// line for each in the library's order: where it is (bus, device and
// port path), its IDs, whether it
// could be opened, its product and manufacturer strings or why they could
// not be read; the device that a search would take is marked with "*".
// Sends no vendor request and writes no file. Returns the exit status:
// 0 when a search would take a device, 1 when not.
int listDevices(int vendor, int product);
