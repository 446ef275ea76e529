#include "monitor/output_setting.h"

#include <cstdio>
#include <cstring>

#include "sensor/sensor_requests.h"
#include "sensor/usb_open_device.h"

bool setFailsafeLevel(usb_dev_handle *handle, int level)
{
    unsigned char reply = 0;
    int result = usbSetOutput(handle, level, &reply);
    // The reply byte means nothing; only a failed transfer (minus the errno
    // in libusb 0.1) leaves the output unset.
    if (result >= 0)
        return true;
    printf("cannot set the output to the fail-safe level %d: %s\n", level, strerror(-result));
    return false;
}

int setOutputOnce(int level)
{
    usb_init();
    usb_dev_handle *handle = nullptr;
    if (usbOpenDevice(&handle, 0x1384, 0x8888) != 0) {
        printf("usbOpenDevice failed 1 \n");
        return 1;
    }
    unsigned char reply = 0;
    int result = usbSetOutput(handle, level, &reply);
    usb_close(handle);
    if (result < 0) {
        printf("cannot set the output to %d: %s\n", level, strerror(-result));
        return 1;
    }
    printf("output set to %d\n", level);
    return 0;
}
