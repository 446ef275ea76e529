// A device that is listed on the bus but cannot be opened.
#include "tempswitch_fixture.h"

namespace {

using Faults = TempswitchTest;

TEST_F(Faults, DeviceThatIsListedButCannotBeOpenedIsPassedOver)
{
    {
        sim::Device &ghost = usb.add();
        ghost.setVanishOnScan(true);
        sim::ProgramRun &run = start({"25"});
        EXPECT_EQ(run.wait(), 1);
        EXPECT_EQ(run.output(), "usbOpenDevice failed 1 \n");
        EXPECT_TRUE(usb.wire().empty());
    }
    sim::DeviceInfo info;
    info.address = 3;
    sim::Device &sensor = usb.add(info);
    sensor.setReadings({60});
    unplugAfterOutputs(sensor, 3);
    sim::ProgramRun &run = start({"25"});
    EXPECT_EQ(run.wait(), 1);
    EXPECT_EQ(run.output(), temperatureLine(30) + temperatureLine(30) + temperatureLine(30) +
                                "usbOpenDevice failed 1 \n");
    for (const sim::ControlRequest &r : usb.wire())
        EXPECT_EQ(r.device, 1) << "a request reached the device that cannot be opened";
    EXPECT_LE(usb.mostHandlesSeen(), 2);
}

}  // namespace
