#include "monitor/output_setting.h"

#include <cstdio>
#include <cstring>

#include "report/journal_line.h"
#include "sensor/sensor_requests.h"
#include "sensor/usb_open_device.h"

// Sends level over handle. The reply byte means nothing; only a failed
// transfer leaves the output unset. Returns 0, or the errno of the failure
// (libusb 0.1 returns it negated).
static int sendLevel(usb_dev_handle *handle, int level)
{
    unsigned char reply = 0;
    int result = usbSetOutput(handle, level, &reply);
    return result < 0 ? -result : 0;
}

// Sends level and says when it failed, naming the level as `named` does.
static bool sendLevelSaid(usb_dev_handle *handle, int level, const char *named)
{
    int error = sendLevel(handle, level);
    if (error != 0)
        sayLine(Priority::err, "cannot set the output to %s%d: %s\n", named, level, strerror(error));
    return error == 0;
}

bool setFailsafeLevel(usb_dev_handle *handle, int level)
{
    return sendLevelSaid(handle, level, "the fail-safe level ");
}

int setOutputOnce(int level, const char *port)
{
    usb_init();
    usb_dev_handle *handle = nullptr;
    int result = usbOpenDevice(&handle, 0x1384, 0x8888, port);
    if (result != 0) {
        sayLine(Priority::err, "usbOpenDevice failed %d \n", result);
        return 1;
    }
    bool sent = sendLevelSaid(handle, level, "");
    usb_close(handle);
    if (!sent)
        return 1;
    sayLine(Priority::info, "output set to %d\n", level);
    return 0;
}

void setFailsafeAfterEnd(int level, const char *port, const char *what)
{
    usb_init();
    usb_dev_handle *handle = nullptr;
    if (usbOpenDevice(&handle, 0x1384, 0x8888, port) != 0) {
        sayLine(Priority::err, "%s: fail-safe level %d not sent: no sensor found%s%s\n", what, level,
                port ? " at port " : "", port ? port : "");
        return;
    }
    int error = sendLevel(handle, level);
    usb_close(handle);
    if (error != 0)
        sayLine(Priority::err, "%s: fail-safe level %d not sent: %s\n", what, level, strerror(error));
    else
        sayLine(Priority::warning, "%s: fail-safe level %d sent\n", what, level);
}
