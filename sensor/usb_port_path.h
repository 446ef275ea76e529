#pragma once

#include <cstddef>
#include <usb.h>

// A USB port path as the kernel names it under /sys/bus/usb/devices:
// BUS-PORT, then .PORT for each hub below, "1-1.2". It stays with the port
// through replugs and reboots, unlike the device number.

// Whether text is of that form: decimal numbers from 1 to 255 without
// leading zeros, at most 7 ports deep. Touches nothing.
bool usbPortPathValid(const char *text);

// The bus and device number of what is plugged in at path now, from sysfs.
// False when nothing is there.
bool usbPortLocate(const char *path, int *bus, int *device);

// Whether libusb's record of a device is the one at that bus and device
// number (its bus directory and device file are named after them).
bool usbDeviceIs(const struct usb_bus *bus, const struct usb_device *device, int busNumber, int deviceNumber);

// The port path of a device listed by libusb, into path (size bytes).
// False for a root hub or a device sysfs does not show.
bool usbPortOf(const struct usb_bus *bus, const struct usb_device *device, char *path, size_t size);
