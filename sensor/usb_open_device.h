#pragma once

#include <usb.h>

// What probing one device found: each string's count as the library gave
// it (negative: the library's error), or 0 for a string the device does not
// have (index 0); and the strings' text where the count is positive.
struct UsbProbe {
    int productLength;
    int manufacturerLength;
    char product[256];
    char manufacturer[256];
};

// Rescans every bus, so that the lists reflect the devices as they are now.
void usbRescan();

// Opens the device and reads its product and manufacturer strings. Returns
// the handle, or nullptr (errno set) when the device cannot be opened.
usb_dev_handle *usbProbe(struct usb_device *device, UsbProbe *probe);

// Whether a probed device is the one wanted: these IDs, and both strings
// read with text.
bool usbProbeMatches(const struct usb_device *device, const UsbProbe *probe, int vendor, int product);

// Rescans every bus and opens the first device with these IDs that also
// answers both its product and manufacturer string reads with text. With a
// port path, only the device plugged in there is considered, and no other
// is opened. Returns 0 and stores the new handle in *handle_out, or 1 and
// leaves *handle_out as it was. The caller owns the handle it gets.
int usbOpenDevice(usb_dev_handle **handle_out, int vendor, int product, const char *port = nullptr);
