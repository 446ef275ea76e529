// --metrics: the file node_exporter reads, replaced whole every cycle.
#include <sys/stat.h>

#include <csignal>

#include "tempswitch_fixture.h"

namespace {

namespace fs = std::filesystem;

using Metrics = TempswitchTest;

TEST_F(Metrics, FileIsReplacedWholeEveryCycleAndFailuresAreSaidOnce)
{
    // 4.5, 5 and 3.5 degrees, -15.5, -15 and -16.5 with --offset -20, against
    // -15, then a failed read that repeats -16.5; the clock steps one second
    // per cycle from 07:49:01 UTC.
    sim::Device &sensor = usb.add();
    sensor.setReadings({9, 10, 7});
    sensor.failRead(4, {EPIPE, 0});
    unplugAfterOutputs(sensor, 4);
    fs::create_directory(directory() / "textfile");
    const fs::path file = directory() / "textfile" / "tempswitch-25.prom";
    const sim::RunOptions options{.args = {"--metrics", file.string(), "--offset=-20", "-15"},
                                  .environment = {"TZ=UTC"},
                                  .faketime = "@2007-05-12 07:49:01 i1",
                                  .fastSleep = true};
    mode_t umaskBefore = umask(077);
    sim::ProgramRun &run = start(options);
    umask(umaskBefore);
    EXPECT_EQ(run.wait(), 1);
    const std::string readings =
        temperatureLine(-16) + temperatureLine(-15) + temperatureLine(-17) + temperatureLine(-17);
    EXPECT_EQ(run.output(), readings + "usbOpenDevice failed 1 \n");
    EXPECT_EQ(outputLevels(), (std::vector<int>{0, 255, 0, 0}));
    EXPECT_EQ(readFile(file),
              "# HELP tempswitch_temperature_celsius Temperature of this cycle; a failed read repeats the last reading.\n"
              "# TYPE tempswitch_temperature_celsius gauge\n"
              "tempswitch_temperature_celsius{limit=\"-15\"} -16.5\n"
              "# HELP tempswitch_limit_celsius Temperature at which the output switches.\n"
              "# TYPE tempswitch_limit_celsius gauge\n"
              "tempswitch_limit_celsius{limit=\"-15\"} -15\n"
              "# HELP tempswitch_output_level Level of this cycle's output request (0 or 255).\n"
              "# TYPE tempswitch_output_level gauge\n"
              "tempswitch_output_level{limit=\"-15\"} 0\n"
              "# HELP tempswitch_output_switches_total Changes of the output level since the start.\n"
              "# TYPE tempswitch_output_switches_total counter\n"
              "tempswitch_output_switches_total{limit=\"-15\"} 2\n"
              "# HELP tempswitch_read_failures_total Cycles whose read delivered no reading.\n"
              "# TYPE tempswitch_read_failures_total counter\n"
              "tempswitch_read_failures_total{limit=\"-15\"} 1\n"
              "# HELP tempswitch_last_reading_timestamp_seconds Unix time of the last read that delivered a reading.\n"
              "# TYPE tempswitch_last_reading_timestamp_seconds gauge\n"
              "tempswitch_last_reading_timestamp_seconds{limit=\"-15\"} 1178956143\n");
    EXPECT_EQ(fs::status(file).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read);
    std::vector<std::string> names;
    for (const fs::directory_entry &entry : fs::directory_iterator(file.parent_path()))
        names.push_back(entry.path().filename());
    EXPECT_EQ(names, std::vector<std::string>{file.filename()}) << "nothing left beside it";

    // A directory that is missing, appears while the second read is
    // answered, and is gone again at the third: said at the first failure
    // and again after it has worked, while the loop goes on as before.
    const fs::path gone = directory() / "gone";
    sensor.onVendorRequest([gone](sim::Device &d, const sim::ControlRequest &rq, int reads, int outputs) {
        if (rq.request == 0 && reads == 6)
            fs::create_directory(gone);
        if (rq.request == 0 && reads == 7)
            fs::remove_all(gone);
        if (rq.request == 1 && outputs == 8)
            d.unplug();
    });
    sensor.plug();
    sim::RunOptions unwritable = options;
    unwritable.args = {"--metrics", (gone / "m.prom").string(), "25"};
    sim::ProgramRun &again = start(unwritable);
    EXPECT_EQ(again.wait(), 1);
    const std::string failed = "cannot write " + (gone / "m.prom").string() + ": No such file or directory\n";
    EXPECT_EQ(again.output(), temperatureLine(3) + failed + temperatureLine(3) + temperatureLine(3) + failed +
                                  temperatureLine(3) + "usbOpenDevice failed 1 \n");
    EXPECT_EQ(sensor.outputs(), 8);
}

TEST_F(Metrics, StopRemovesTheFileSoThatAStoppedInstanceRaisesNoAlert)
{
    // --metrics alone catches the stop signals; a lost sensor (above) leaves the file.
    usb.add().setReadings({49});
    const fs::path file = directory() / "t.prom";
    sim::ProgramRun &run = start({"--metrics", file.string(), "25"});
    ASSERT_TRUE(run.waitForLines(3));
    ASSERT_TRUE(fs::exists(file));
    run.signal(SIGINT);
    EXPECT_EQ(run.wait(), 128 + SIGINT);
    EXPECT_FALSE(fs::exists(file));
    EXPECT_EQ(run.output().find("cannot"), std::string::npos) << run.output();
}

}  // namespace
