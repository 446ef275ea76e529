#include "monitor/device_listing.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "report/escaped_text.h"
#include "sensor/usb_open_device.h"
#include "sensor/usb_port_path.h"

static void printString(const char *name, int index, int length, const char *text)
{
    if (index == 0) {
        printf(", %s: none", name);
    } else if (length < 0) {
        printf(", %s: cannot read (%s)", name, strerror(-length));
    } else {
        printf(", %s \"", name);
        printEscaped(text);
        printf("\"");
    }
}

int listDevices(int vendor, int product)
{
    usbRescan();
    bool taken = false;
    int seen = 0;
    for (struct usb_bus *bus = usb_get_busses(); bus != nullptr; bus = bus->next) {
        for (struct usb_device *device = bus->devices; device != nullptr; device = device->next) {
            ++seen;
            UsbProbe probe;
            usb_dev_handle *handle = usbProbe(device, &probe);
            int openError = errno;
            // The first device that matches is the one a search stops at.
            bool takes = handle != nullptr && !taken && usbProbeMatches(device, &probe, vendor, product);
            taken = taken || takes;
            // The port path is what --port takes; a root hub has none.
            char port[64];
            if (!usbPortOf(bus, device, port, sizeof port))
                strcpy(port, "-");
            printf("%s Bus %s Device %s Port %s: ID %04x:%04x", takes ? "*" : " ", bus->dirname,
                   device->filename, port, device->descriptor.idVendor, device->descriptor.idProduct);
            if (handle == nullptr) {
                printf(", cannot open: %s\n", strerror(openError));
                continue;
            }
            printf(", opened");
            printString("product", device->descriptor.iProduct, probe.productLength, probe.product);
            printString("manufacturer", device->descriptor.iManufacturer, probe.manufacturerLength,
                        probe.manufacturer);
            printf("\n");
            usb_close(handle);
        }
    }
    if (seen == 0)
        printf("no USB devices\n");
    if (!taken)
        printf("no sensor: no device %04x:%04x that opens and names itself\n", vendor, product);
    return taken ? 0 : 1;
}
