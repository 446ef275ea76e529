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

bool setFailsafeLevel(usb_dev_handle *handle, int level)
{
    int error = sendLevel(handle, level);
    if (error != 0)
        sayLine(Priority::err, "cannot set the output to the fail-safe level %d: %s\n", level, strerror(error));
    return error == 0;
}

// One search (at port, when given) and one output request, outside a run.
// Returns whether the sensor was found; *error is then the request's errno,
// or 0.
static bool sendLevelOnce(int level, const char *port, int *error)
{
    usb_init();
    usb_dev_handle *handle = nullptr;
    if (usbOpenDevice(&handle, 0x1384, 0x8888, port) != 0)
        return false;
    *error = sendLevel(handle, level);
    usb_close(handle);
    return true;
}

int setOutputOnce(int level, const char *port)
{
    int error = 0;
    if (!sendLevelOnce(level, port, &error)) {
        sayLine(Priority::err, "usbOpenDevice failed 1 \n");
        return 1;
    }
    if (error != 0) {
        sayLine(Priority::err, "cannot set the output to %d: %s\n", level, strerror(error));
        return 1;
    }
    sayLine(Priority::info, "output set to %d\n", level);
    return 0;
}

void setFailsafeAfterEnd(int level, const char *port, const char *what)
{
    int error = 0;
    if (!sendLevelOnce(level, port, &error))
        sayLine(Priority::err, "%s: fail-safe level %d not sent: no sensor found%s%s\n", what, level,
                port ? " at port " : "", port ? port : "");
    else if (error != 0)
        sayLine(Priority::err, "%s: fail-safe level %d not sent: %s\n", what, level, strerror(error));
    else
        sayLine(Priority::warning, "%s: fail-safe level %d sent\n", what, level);
}
