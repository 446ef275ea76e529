// One long end-to-end scenario under valgrind's memcheck: rotations, failed
// and timed-out transfers, a sensor that drops off the bus and comes back,
// and the end by a lost sensor. Any invalid access or leak fails it.
#include <cerrno>

#include "tempswitch_fixture.h"

#ifndef VALGRIND_PROGRAM
#error VALGRIND_PROGRAM must name valgrind
#endif

namespace {

using MemoryCheck = TempswitchTest;

TEST_F(MemoryCheck, WholeRunIsCleanUnderValgrind)
{
    sim::Device &sensor = usb.add();
    std::vector<uint8_t> readings;
    for (int i = 0; i < 30; ++i)
        readings.push_back(i % 4 == 0 ? 40 : 60);
    sensor.setReadings(readings);
    sensor.failRead(3, {EPIPE, 0});
    sensor.failRead(5, {ETIMEDOUT, 0});
    sensor.failOutput(7, {EPIPE, 0});
    std::atomic<bool> ending{false};
    sensor.onVendorRequest([&ending](sim::Device &d, const sim::ControlRequest &rq, int reads, int) {
        if (d.unplugged()) {
            if (!ending)
                d.plug();
        } else if (rq.request == 0 && reads == 9) {  // reading 40: below the limit
            d.unplug();
        } else if (rq.request == 0 && reads == 24) {
            ending = true;
            d.unplug();
        }
    });
    sim::RunOptions options{.args = {"--quiet", "--leak-check=full", "--errors-for-leak-kinds=definite,indirect",
                                     "--suppressions=" VALGRIND_SUPPRESSIONS, "--error-exitcode=99",
                                     TEMPSWITCH_BINARY, "25"},
                            .environment = {"TZ=UTC"},
                            .faketime = "@2007-05-12 07:49:05 i1",
                            .fastSleep = true};
    sim::ProgramRun &run = start(options, VALGRIND_PROGRAM);
    EXPECT_EQ(run.wait(120000), 1) << run.errors();
    EXPECT_EQ(run.errors(), "");
    EXPECT_EQ(sensor.reads(), 24);
    EXPECT_TRUE(std::filesystem::exists(directory() / "tmp1"));
}

}  // namespace
