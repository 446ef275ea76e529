#include "sensor/usb_open_device.h"

#include <cerrno>

#include "sensor/usb_port_path.h"

void usbRescan()
{
    // Rescanning on every call lets a sensor that was unplugged and
    // plugged back in be found again.
    usb_init();
    usb_find_busses();
    usb_find_devices();
}

// Index 0 names no string: libusb 0.1.12 answers it with the decoded
// language table, libusb-compat with an error; either way the device has
// no such string. The read still goes out, as for any other index.
static int readString(usb_dev_handle *handle, int index, char *text, size_t size)
{
    int length = usb_get_string_simple(handle, index, text, size);
    if (index == 0)
        return 0;
    return length;
}

usb_dev_handle *usbProbe(struct usb_device *device, UsbProbe *probe)
{
    probe->product[0] = probe->manufacturer[0] = '\0';
    probe->productLength = probe->manufacturerLength = 0;
    errno = 0;
    usb_dev_handle *handle = usb_open(device);
    if (handle == nullptr) {
        if (errno == 0)
            errno = ENODEV;
        return nullptr;
    }
    probe->productLength =
        readString(handle, device->descriptor.iProduct, probe->product, sizeof probe->product);
    probe->manufacturerLength = readString(handle, device->descriptor.iManufacturer, probe->manufacturer,
                                           sizeof probe->manufacturer);
    return handle;
}

bool usbProbeMatches(const struct usb_device *device, const UsbProbe *probe, int vendor, int product)
{
    // Only the counts matter: a device that cannot name itself is not taken.
    return probe->productLength > 0 && probe->manufacturerLength > 0 &&
           device->descriptor.idVendor == vendor && device->descriptor.idProduct == product;
}

int usbOpenDevice(usb_dev_handle **handle_out, int vendor, int product, const char *port)
{
    usbRescan();
    // The device number changes at every replug: it is looked up each time.
    int portBus = 0, portDevice = 0;
    if (port != nullptr && !usbPortLocate(port, &portBus, &portDevice))
        return 1;
    for (struct usb_bus *bus = usb_get_busses(); bus != nullptr; bus = bus->next) {
        for (struct usb_device *device = bus->devices; device != nullptr; device = device->next) {
            if (port != nullptr && !usbDeviceIs(bus, device, portBus, portDevice))
                continue;
            UsbProbe probe;
            usb_dev_handle *handle = usbProbe(device, &probe);
            if (handle == nullptr)
                continue;
            if (usbProbeMatches(device, &probe, vendor, product)) {
                *handle_out = handle;
                return 0;
            }
            usb_close(handle);
        }
    }
    return 1;
}
