#include "sensor/usb_port_path.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>

// Reads the decimal number at *text, 1 to 255 without a leading zero, and
// moves *text past it.
static bool readPortNumber(const char **text)
{
    const char *p = *text;
    if (*p < '1' || *p > '9')
        return false;
    int number = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        number = number * 10 + (*p - '0');
        if (number > 255)
            return false;
    }
    *text = p;
    return true;
}

bool usbPortPathValid(const char *text)
{
    if (!readPortNumber(&text) || *text++ != '-' || !readPortNumber(&text))
        return false;
    for (int depth = 1; *text != '\0'; ++depth)
        if (depth == 7 || *text++ != '.' || !readPortNumber(&text))
            return false;
    return true;
}

// A whole decimal number and nothing else, as the names of libusb's bus
// directories and device files are ("001"), and sysfs's numbers ("1\n").
static bool wholeNumber(const char *text, int *value)
{
    char *end = nullptr;
    long number = strtol(text, &end, 10);
    if (end == text || (*end != '\0' && strcmp(end, "\n") != 0) || number < 0 || number > 65535)
        return false;
    *value = int(number);
    return true;
}

static bool readSysfsNumber(const char *device, const char *attribute, int *value)
{
    char path[256], text[32];
    snprintf(path, sizeof path, "/sys/bus/usb/devices/%s/%s", device, attribute);
    FILE *file = fopen(path, "re");
    if (file == nullptr)
        return false;
    bool read = fgets(text, sizeof text, file) != nullptr && wholeNumber(text, value);
    fclose(file);
    return read;
}

bool usbPortLocate(const char *path, int *bus, int *device)
{
    return usbPortPathValid(path) && readSysfsNumber(path, "busnum", bus) && readSysfsNumber(path, "devnum", device);
}

bool usbDeviceIs(const struct usb_bus *bus, const struct usb_device *device, int busNumber, int deviceNumber)
{
    int b = 0, d = 0;
    return wholeNumber(bus->dirname, &b) && wholeNumber(device->filename, &d) && b == busNumber &&
           d == deviceNumber;
}

bool usbPortOf(const struct usb_bus *bus, const struct usb_device *device, char *path, size_t size)
{
    DIR *devices = opendir("/sys/bus/usb/devices");
    if (devices == nullptr)
        return false;
    bool found = false;
    // Interfaces ("1-1:1.0") and root hubs ("usb1") are no port paths.
    while (const struct dirent *entry = readdir(devices)) {
        int b = 0, d = 0;
        if (usbPortLocate(entry->d_name, &b, &d) &&
            usbDeviceIs(bus, device, b, d) && strlen(entry->d_name) < size) {
            strcpy(path, entry->d_name);
            found = true;
            break;
        }
    }
    closedir(devices);
    return found;
}
