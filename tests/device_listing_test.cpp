// tempswitch --list: why a sensor is, or is not, found.
#include <algorithm>
#include <cerrno>

#include "tempswitch_fixture.h"

namespace {

using DeviceListing = TempswitchTest;

std::vector<std::string> sorted(std::vector<std::string> lines)
{
    std::sort(lines.begin(), lines.end());
    return lines;
}

TEST_F(DeviceListing, SaysWhatEachDeviceLacksAndMarksTheSensor)
{
    std::vector<sim::DeviceInfo> infos(4);
    infos[0].product = 0x8889;
    infos[0].productName = "Probe\n\x1b[2J";
    infos[2].manufacturerIndex = 0;
    for (size_t i = 0; i < infos.size(); ++i)
        infos[i].address = 3 + int(i);
    infos[1].port = "1-1.4";  // behind a hub: the path --port takes
    std::vector<sim::Device *> devices;
    for (const sim::DeviceInfo &info : infos)
        devices.push_back(&usb.add(info));
    devices[3]->setAccessDenied(true);

    const std::string named = ", opened, product \"USB Thermometer\", manufacturer \"Example Works\"";
    std::vector<std::string> expected = {
        "  Bus 001 Device 003 Port 1-3: ID 1384:8889, opened, product \"Probe\\n\\x1b[2J\", manufacturer \"Example Works\"",
        "* Bus 001 Device 004 Port 1-1.4: ID 1384:8888" + named,
        "  Bus 001 Device 005 Port 1-5: ID 1384:8888, opened, product \"USB Thermometer\", manufacturer: none",
        "  Bus 001 Device 006 Port 1-6: ID 1384:8888, opened, product: cannot read (Operation not permitted), "
        "manufacturer: cannot read (Operation not permitted)",
    };
    {
        sim::ProgramRun &run = start({"--list"});
        EXPECT_EQ(run.wait(), 0);
        EXPECT_EQ(sorted(run.lines()), sorted(expected));
    }
    // Without the sensor, nothing is marked and the status says so.
    devices[1]->unplug();
    expected.erase(expected.begin() + 1);
    expected.push_back("no sensor: no device 1384:8888 that opens and names itself");
    sim::ProgramRun &run = start({"--list"});
    EXPECT_EQ(run.wait(), 1);
    EXPECT_EQ(sorted(run.lines()), sorted(expected));
    EXPECT_EQ(run.errors(), "");

    EXPECT_TRUE(usb.vendorRequests().empty()) << "a vendor request was sent";
    EXPECT_TRUE(std::filesystem::is_empty(directory())) << "a file was written";
    EXPECT_LE(usb.mostHandlesSeen(), 1);
}

}  // namespace
