#include "sensor/usb_open_device.h"

int usbOpenDevice(usb_dev_handle **handle_out, int vendor, int product)
{
    // Rescanning on every call lets a sensor that was unplugged and
    // plugged back in be found again.
    usb_init();
    usb_find_busses();
    usb_find_devices();

    for (struct usb_bus *bus = usb_get_busses(); bus != nullptr; bus = bus->next) {
        for (struct usb_device *device = bus->devices; device != nullptr; device = device->next) {
            usb_dev_handle *probe = usb_open(device);
            if (probe == nullptr)
                continue;

            // Only the counts matter: a device that cannot name itself is not taken.
            char text[256];
            int productLength =
                usb_get_string_simple(probe, device->descriptor.iProduct, text, sizeof text);
            int manufacturerLength =
                usb_get_string_simple(probe, device->descriptor.iManufacturer, text, sizeof text);

            if (productLength > 0 && manufacturerLength > 0 &&
                device->descriptor.idVendor == vendor && device->descriptor.idProduct == product) {
                *handle_out = probe;
                return 0;
            }
            usb_close(probe);
        }
    }
    return 1;
}
