#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <unistd.h>
#include <usb.h>

#include "control/limit_control.h"
#include "control/output_decision.h"
#include "control/time_zone.h"
#include "monitor/command_line.h"
#include "monitor/cycle_report.h"
#include "monitor/device_listing.h"
#include "monitor/output_setting.h"
#include "monitor/reading_log.h"
#include "monitor/service_end.h"
#include "monitor/stop_signals.h"
#include "mqtt/mqtt_link.h"
#include "report/cycle_facts.h"
#include "report/failure_report.h"
#include "report/journal_line.h"
#include "report/service_notify.h"
#include "sensor/sensor_requests.h"
#include "sensor/usb_open_device.h"

// Searches for the sensor; on success closes the handle that the new one
// replaces, so at most the held handle and one probe handle are ever open.
static int findSensor(usb_dev_handle **handle, const char *port)
{
    usb_dev_handle *previous = *handle;
    int result = usbOpenDevice(handle, 0x1384, 0x8888, port);
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

// Ends the run on a lost or silent sensor: the fail-safe level is tried
// once over the handle still held, though a lost device is most likely gone.
static int endRun(usb_dev_handle *handle, int failsafe, Reports *reports)
{
    if (failsafe >= 0 && handle != nullptr)
        setFailsafeLevel(handle, failsafe);
    releaseSensor(handle);
    reportEnd(reports, false);
    return 1;
}

// Stopped by a signal: systemd told first, the fail-safe level over the
// handle held, "offline" to the broker and the metrics file removed, then
// the end the signal asked for. Every record is already on disk.
[[noreturn]] static void stopRun(usb_dev_handle *handle, int failsafe, Reports *reports, int signal)
{
    notifyStopping();
    if (failsafe >= 0)
        setFailsafeLevel(handle, failsafe);
    releaseSensor(handle);
    reportEnd(reports, true);
    stopSignalRaise(signal);
}

// Holds are measured on this clock, so that setting the time of day can
// neither shorten nor stretch them.
static int64_t monotonicMs()
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// tempswitch --after-end OPTION... LIMIT, run by the unit after every end of
// the main process: judged first, so that an end the program made itself
// costs nothing and says nothing. Never fails the unit.
static int afterEnd(int argc, char **argv)
{
    ServiceEnd end = serviceEndJudge(getenv("SERVICE_RESULT"), getenv("EXIT_CODE"), getenv("EXIT_STATUS"));
    if (!end.failsafeNeeded)
        return 0;
    CommandLine command = parseCommandLine(argc, argv);
    if (command.action == Action::run && command.failsafe >= 0)
        setFailsafeAfterEnd(command.failsafe, command.port, end.what.c_str());
    return 0;
}

int main(int argc, char **argv)
{
    // A journal or a file behind a pipe must get each reading as it happens.
    setvbuf(stdout, nullptr, _IOLBF, 0);
    if (afterEndRequested(argc, argv))
        return afterEnd(argc, argv);

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
    case Action::set:
        return setOutputOnce(command.setLevel, command.port);
    case Action::refuse:
        return 2;
    case Action::run:
        break;
    }
    const OutputRules &rules = command.output;
    const int failsafe = command.failsafe;
    const char *port = command.port;
    // "温度＝" in Shift_JIS, as the files have it, or in UTF-8 for a journal.
    const char *label = command.utf8Labels ? "\xE6\xB8\xA9\xE5\xBA\xA6\xEF\xBC\x9D" : "\x89\xB7\x93\x78\x81\x81";
    // A stop signal must let the loop end what it started; so must systemd.
    if (failsafe >= 0 || command.mqtt.url != nullptr || command.metricsFile != nullptr || notifyWanted())
        stopSignalsCatch();
    const LimitSettings &limits = command.limits;
    LimitControl control = controlStart(limits, rules.limit, getenv("STATE_DIRECTORY"), localTimeOf);
    Reports reports = {command.metricsFile, false, nullptr, notifyWatchdogWanted()};
    if (command.mqtt.url != nullptr)
        reports.mqtt = mqttStart(command.mqtt, rules.limit, port, TEMPSWITCH_VERSION,
                                 limits.controlled ? &limits.range : nullptr, limits.scheduleFile != nullptr);

    usb_init();

    bool logFailureReported = false;
    FILE *log = logOpenAtStart();
    if (log == nullptr)
        reportFailure("open", "tmp", &logFailureReported);

    usb_dev_handle *handle = nullptr;
    unsigned char reading = 0;      // half degrees as the sensor sent it; 0 until a read succeeds
    unsigned char outputReply = 0;  // the device's answer to an output request, unused
    int silentCycles = 0;           // cycles in a row whose read delivered nothing
    bool readingArrived = false, ready = false;
    OutputState output = {-1, 0, 0};
    CycleFacts facts = {rules.limit, port, controlFacts(control), 0, 0, 0, 0, 0};
    for (;;) {
        int result = findSensor(&handle, port);
        if (result != 0) {
            sayLine(Priority::err, "usbOpenDevice failed %d \n", result);
            return endRun(handle, failsafe, &reports);
        }
        // A failed read repeats the last reading; a sensor that stays silent
        // would freeze it for good, so that ends the run like a lost sensor.
        bool delivered = usbReadTemperature(handle, &reading) == 1;
        if (delivered) {
            silentCycles = 0;
        } else if (++silentCycles == 10) {
            if (failsafe >= 0)
                setFailsafeLevel(handle, failsafe);
            sayLine(Priority::err, "no reading from the sensor for 10 cycles\n");
            return endRun(handle, -1, &reports);
        }
        // Everything from here on sees the reading as --offset corrects it.
        const int corrected = reading + command.offset;
        const int degrees = wholeDegrees(corrected);
        sayLine(Priority::info, "%s%d \n", label, degrees);
        if (!ready)
            notifyReady();
        ready = true;

        logWriteTemperature(log, degrees);
        time_t sampled = time(nullptr);
        if (logWriteTime(log, sampled))
            logFailureReported = false;
        else if (log != nullptr)
            reportFailure("write", "tmp", &logFailureReported);

        if (!stopSignalCaught())
            sleep(1);

        if (sampled % 10 == 0) {
            log = logRotate(log);
            if (log == nullptr)
                reportFailure("open", "tmp", &logFailureReported);
        }
        if (int stop = stopSignalCaught())
            stopRun(handle, failsafe, &reports, stop);

        // What the network asked for since the last cycle, and the schedule
        // at this cycle's time, taken here only.
        if (controlCycle(&control, mqttTakeCommands(reports.mqtt), sampled)) {
            facts.limits = controlFacts(control);
            mqttPublishState(reports.mqtt, facts);
        }
        const OutputRules now = controlRules(rules, control);
        readingArrived = readingArrived || delivered;
        int level = outputDecide(now, &output, corrected, readingArrived, outputHasHolds(rules) ? monotonicMs() : 0);
        // Switching on needs the sensor. Switching off is still sent over the
        // handle of this cycle's read when the sensor is gone; the next
        // search decides.
        if (findSensor(&handle, port) != 0 && level == 255) {
            sayLine(Priority::err, "usbOpenDevice failed\n");
            return endRun(handle, failsafe, &reports);
        }
        usbSetOutput(handle, level, &outputReply);

        facts = {rules.limit, port, controlFacts(control), corrected, level, output.switches,
                 facts.readFailures + !delivered, delivered ? sampled : facts.lastReadingTime};
        reportCycle(&reports, facts);
        if (int stop = stopSignalCaught())
            stopRun(handle, failsafe, &reports, stop);
    }
}
