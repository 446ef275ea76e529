// What protects the load when a run ends, and --set.
#include <cerrno>
#include <csignal>

#include "tempswitch_fixture.h"

namespace {

std::string readingLines(int degrees, int count)
{
    std::string lines;
    for (int i = 0; i < count; ++i)
        lines += temperatureLine(degrees);
    return lines;
}

class OutputProtection : public TempswitchTest {
protected:
    sim::Device &nextSensor(std::vector<uint8_t> readings)
    {
        sim::DeviceInfo info;
        info.address = 2 + devices_++;
        sim::Device &sensor = usb.add(info);
        sensor.setReadings(std::move(readings));
        return sensor;
    }

    // On a clock that steps one second at each read of it, from a second
    // clear of a multiple of ten, so that every record stays in tmp.
    sim::ProgramRun &startStepped(std::vector<std::string> args)
    {
        return start(sim::RunOptions{.args = std::move(args),
                                     .environment = {"TZ=UTC"},
                                     .faketime = "@2007-05-12 07:49:01 i1",
                                     .fastSleep = true});
    }

    std::vector<int> levelsSentTo(const sim::Device &sensor)
    {
        std::vector<int> levels;
        for (const sim::ControlRequest &r : usb.vendorRequests())
            if (r.request == 1 && r.device == sensor.number())
                levels.push_back(r.value);
        return levels;
    }

private:
    int devices_ = 0;
};

TEST_F(OutputProtection, FailsafeLevelIsSentWhenTheRunEnds)
{
    // A stop signal while the program is blocked in an output request, or
    // in a read (that cycle then ends before its output): the fail-safe
    // level goes out, and the program ends by that signal with the record
    // of every printed reading on disk. The third run also holds 255 for
    // 4 s of the monotonic clock, which here steps with the calendar one:
    // two seconds a cycle.
    struct Stop {
        std::vector<std::string> args;
        std::vector<uint8_t> readings;
        int request, nth, signal;
        std::vector<int> levels;
    };
    const std::vector<Stop> stops = {
        {{"--failsafe", "0", "--hysteresis", "1", "25"}, {60}, 1, 3, SIGTERM, {255, 255, 255, 0}},
        {{"--failsafe", "0", "25"}, {60}, 0, 3, SIGINT, {255, 255, 0}},
        {{"--min-on", "4", "--failsafe", "128", "25"}, {60, 40}, 1, 4, SIGHUP, {255, 255, 0, 0, 128}},
    };
    for (const Stop &stop : stops) {
        sim::Device &sensor = nextSensor(stop.readings);
        std::atomic<pid_t> pid{0};
        sensor.onVendorRequest([&pid, &stop](sim::Device &, const sim::ControlRequest &rq, int reads, int outputs) {
            if (rq.request != stop.request || (rq.request == 0 ? reads : outputs) != stop.nth)
                return;
            for (int tries = 0; pid == 0 && tries < 10000; ++tries)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            kill(pid, stop.signal);
        });
        sim::ProgramRun &run = startStepped(stop.args);
        pid = run.pid();
        EXPECT_EQ(run.wait(), 128 + stop.signal);
        EXPECT_EQ(levelsSentTo(sensor), stop.levels) << "signal " << stop.signal;
        std::vector<std::string> lines = run.lines();
        EXPECT_EQ(int(lines.size()), sensor.reads()) << "signal " << stop.signal;
        std::string log = readFile(directory() / "tmp");
        EXPECT_EQ(int(std::count(log.begin(), log.end(), '\n')), 2 * sensor.reads()) << "signal " << stop.signal;
        sensor.unplug();
    }

    // A silent sensor gets the level before the message; a lost one gets a
    // try over the handle still held, which fails and says so.
    sim::Device &silent = nextSensor({60});
    for (int read = 1; read <= 10; ++read)
        silent.failRead(read, {EPIPE, 0});
    sim::ProgramRun &quiet = start({"--failsafe", "77", "25"});
    EXPECT_EQ(quiet.wait(), 1);
    EXPECT_EQ(quiet.output(), readingLines(0, 9) + "no reading from the sensor for 10 cycles\n");
    std::vector<int> levels(9, 0);
    levels.push_back(77);
    EXPECT_EQ(levelsSentTo(silent), levels);
    EXPECT_EQ(usb.vendorRequests().back().value, 77) << "sent after the tenth read";
    silent.unplug();

    sim::Device &lost = nextSensor({60});
    unplugAfterOutputs(lost, 2);
    sim::ProgramRun &run = start({"--failsafe", "0", "25"});
    EXPECT_EQ(run.wait(), 1);
    EXPECT_EQ(run.output(), readingLines(30, 2) + "usbOpenDevice failed 1 \n" +
                                "cannot set the output to the fail-safe level 0: No such device\n");
    EXPECT_EQ(levelsSentTo(lost), (std::vector<int>{255, 255, 0}));
}

TEST_F(OutputProtection, SetSendsOneOutputRequestAndNothingElse)
{
    {
        sim::ProgramRun &run = start({"--set", "128"});
        EXPECT_EQ(run.wait(), 1);
        EXPECT_EQ(run.output(), "usbOpenDevice failed 1 \n");
    }
    sim::Device &sensor = nextSensor({60});
    {
        sim::ProgramRun &run = start({"--set", "255", "ignored"});
        EXPECT_EQ(run.wait(), 0);
        EXPECT_EQ(run.output(), "output set to 255\n");
    }
    sensor.failOutput(2, {EPIPE, 0});
    sim::ProgramRun &run = start({"--set", "0"});
    EXPECT_EQ(run.wait(), 1);
    EXPECT_EQ(run.output(), "cannot set the output to 0: Broken pipe\n");

    std::vector<sim::ControlRequest> vendor = usb.vendorRequests();
    ASSERT_EQ(vendor.size(), 2u);
    EXPECT_EQ(vendor[0].request, 1);
    EXPECT_EQ(vendor[0].value, 255);
    EXPECT_EQ(vendor[1].value, 0);
    EXPECT_EQ(sensor.reads(), 0);
    EXPECT_TRUE(std::filesystem::is_empty(directory())) << "a file was written";
}

}  // namespace
