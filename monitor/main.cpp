#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <unistd.h>
#include <usb.h>

#include "monitor/command_line.h"
#include "monitor/device_listing.h"
#include "monitor/reading_log.h"
#include "sensor/sensor_requests.h"
#include "sensor/usb_open_device.h"

// Searches for the sensor; on success closes the handle that the new one
// replaces, so at most the held handle and one probe handle are ever open.
static int findSensor(usb_dev_handle **handle)
{
    usb_dev_handle *previous = *handle;
    int result = usbOpenDevice(handle, 0x1384, 0x8888);
    if (result == 0 && previous != nullptr)
        usb_close(previous);
    return result;
}

// The handle of a sensor that has gone; closed rather than left to the exit.
static void releaseSensor(usb_dev_handle *handle)
{
    if (handle != nullptr)
        usb_close(handle);
}

// Says once that the log is failing, not every cycle until it recovers;
// the readings and the switching go on without it.
static void reportLogFailure(const char *what, bool *reported)
{
    if (!*reported)
        printf("cannot %s tmp: %s\n", what, strerror(errno));
    *reported = true;
}

int main(int argc, char **argv)
{
    // A journal or a file behind a pipe must get each reading as it happens.
    setvbuf(stdout, nullptr, _IOLBF, 0);

    CommandLine command = parseCommandLine(argc, argv);
    switch (command.action) {
    case Action::help:
        printHelp();
        return 0;
    case Action::version:
        printf("tempswitch %s\n", TEMPSWITCH_VERSION);
        return 0;
    case Action::list:
        return listDevices(0x1384, 0x8888);
    case Action::refuse:
        return 2;
    case Action::run:
        break;
    }
    const int limit = command.limit;
    // "温度＝" in Shift_JIS, as the files have it, or in UTF-8 for a journal.
    const char *label = command.utf8Labels ? "\xE6\xB8\xA9\xE5\xBA\xA6\xEF\xBC\x9D" : "\x89\xB7\x93\x78\x81\x81";

    usb_init();

    bool logFailureReported = false;
    FILE *log = logOpenAtStart();
    if (log == nullptr)
        reportLogFailure("open", &logFailureReported);

    usb_dev_handle *handle = nullptr;
    unsigned char reading = 0;      // half degrees; 0 until a read succeeds
    unsigned char outputReply = 0;  // the device's answer to an output request, unused
    int silentCycles = 0;           // cycles in a row whose read delivered nothing
    for (;;) {
        int result = findSensor(&handle);
        if (result != 0) {
            printf("usbOpenDevice failed %d \n", result);
            releaseSensor(handle);
            return 1;
        }
        // A failed read repeats the last reading; a sensor that stays silent
        // would freeze it for good, so that ends the run like a lost sensor.
        if (usbReadTemperature(handle, &reading) == 1) {
            silentCycles = 0;
        } else if (++silentCycles == 10) {
            printf("no reading from the sensor for 10 cycles\n");
            releaseSensor(handle);
            return 1;
        }
        unsigned temperature = reading >> 1;
        printf("%s%u \n", label, temperature);

        logWriteTemperature(log, temperature);
        time_t sampled = time(nullptr);
        if (logWriteTime(log, sampled))
            logFailureReported = false;
        else if (log != nullptr)
            reportLogFailure("write", &logFailureReported);

        sleep(1);

        if (sampled % 10 == 0) {
            log = logRotate(log);
            if (log == nullptr)
                reportLogFailure("open", &logFailureReported);
        }

        if (reading < limit) {
            // Below the limit a lost sensor is not fatal yet: switch off over
            // the handle of this cycle's read; the next search decides.
            findSensor(&handle);
            usbSetOutput(handle, 0, &outputReply);
        } else {
            if (findSensor(&handle) != 0) {
                printf("usbOpenDevice failed\n");
                releaseSensor(handle);
                return 1;
            }
            usbSetOutput(handle, 255, &outputReply);
        }
    }
}
