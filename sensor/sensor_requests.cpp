#include "sensor/sensor_requests.h"

// Both requests are vendor IN transfers of one byte on endpoint 0.
static int vendorRequest(usb_dev_handle *handle, int request, int value, unsigned char *buffer)
{
    // The library may scribble on its buffer when a transfer fails, so the
    // caller's byte is only replaced by a byte that really arrived.
    char received = 0;
    int result = usb_control_msg(handle, 0xC0, request, value, 0, &received, 1, 5000);
    if (result == 1)
        *buffer = static_cast<unsigned char>(received);
    return result;
}

int usbReadTemperature(usb_dev_handle *handle, unsigned char *reading)
{
    return vendorRequest(handle, 0, 0, reading);
}

int usbSetOutput(usb_dev_handle *handle, int level, unsigned char *reply)
{
    return vendorRequest(handle, 1, level, reply);
}
