#include "monitor/output_setting.h"

#include <cstdio>
#include <cstring>

#include "sensor/sensor_requests.h"
#include "sensor/usb_open_device.h"

// Sends level over handle. The reply byte means nothing; only a failed
// transfer (minus the errno in libusb 0.1) leaves the output unset, and
// that is said, naming the level as `named` does.
static bool sendLevel(usb_dev_handle *handle, int level, const char *named)
{
    unsigned char reply = 0;
    int result = usbSetOutput(handle, level, &reply);
    if (result < 0)
        printf("cannot set the output to %s%d: %s\n", named, level, strerror(-result));
    return result >= 0;
}

bool setFailsafeLevel(usb_dev_handle *handle, int level)
{
    return sendLevel(handle, level, "the fail-safe level ");
}

int setOutputOnce(int level, const char *port)
{
    usb_init();
    usb_dev_handle *handle = nullptr;
    int result = usbOpenDevice(&handle, 0x1384, 0x8888, port);
    if (result != 0) {
        printf("usbOpenDevice failed %d \n", result);
        return 1;
    }
    bool sent = sendLevel(handle, level, "");
    usb_close(handle);
    if (!sent)
        return 1;
    printf("output set to %d\n", level);
    return 0;
}
