#pragma once

#include <usb.h>

// Rescans every bus and opens the first device with these IDs that also
// answers both its product and manufacturer string reads with text.
// Returns 0 and stores the new handle in *handle_out, or 1 and leaves
// *handle_out as it was. The caller owns the handle it gets.
int usbOpenDevice(usb_dev_handle **handle_out, int vendor, int product);
