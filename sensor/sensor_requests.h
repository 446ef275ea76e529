#pragma once

#include <usb.h>

// Reads the temperature, in half degrees, into *reading. Returns the
// transfer result; *reading is left as it was unless one byte arrived.
int usbReadTemperature(usb_dev_handle *handle, unsigned char *reading);

// Sets the output to level (0 or 255). The device answers with one byte,
// stored in *reply under the same rule as the reading.
int usbSetOutput(usb_dev_handle *handle, int level, unsigned char *reply);
