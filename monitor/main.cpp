#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <unistd.h>
#include <usb.h>

#include "monitor/limit_argument.h"
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

static void printHelp()
{
    printf("usage: tempswitch LIMIT\n"
           "Reads the USB temperature sensor 1384:8888 once a second, prints each reading\n"
           "and logs it to tmp (snapshot every ten seconds in tmp1), and sets the sensor's\n"
           "output to 255 when the temperature in whole degrees is at or above LIMIT,\n"
           "to 0 below it.\n"
           "Exit status: 1 when the sensor is not found or lost, 2 for a bad LIMIT.\n"
           "  --help     show this help\n"
           "  --version  show the version\n");
}

int main(int argc, char **argv)
{
    // A journal or a file behind a pipe must get each reading as it happens.
    setvbuf(stdout, nullptr, _IOLBF, 0);

    if (argc <= 1) {
        printf("you need temperature data\n");
        return 2;
    }
    if (strcmp(argv[1], "--help") == 0) {
        printHelp();
        return 0;
    }
    if (strcmp(argv[1], "--version") == 0) {
        printf("tempswitch %s\n", TEMPSWITCH_VERSION);
        return 0;
    }
    int limit = 0;
    if (!parseLimit(argv[1], &limit)) {
        printf("invalid temperature limit \"%s\": give a whole number of degrees"
               " from -1073741824 to 1073741823\n", argv[1]);
        printf("you need temperature data\n");
        return 2;
    }

    usb_init();

    bool logFailureReported = false;
    FILE *log = logOpen();
    if (log == nullptr)
        reportLogFailure("open", &logFailureReported);

    usb_dev_handle *handle = nullptr;
    unsigned char reading = 0;      // half degrees; 0 until a read succeeds
    unsigned char outputReply = 0;  // the device's answer to an output request, unused
    for (;;) {
        int result = findSensor(&handle);
        if (result != 0) {
            printf("usbOpenDevice failed %d \n", result);
            releaseSensor(handle);
            return 1;
        }
        usbReadTemperature(handle, &reading);
        unsigned temperature = reading >> 1;
        printf("\x89\xB7\x93\x78\x81\x81%u \n", temperature);

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
