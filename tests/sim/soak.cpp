#include "soak.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "program_run.h"
#include "simulated_usb.h"

namespace sim {

namespace {

long statusField(pid_t pid, const std::string &name)  // in kB
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind(name + ":", 0) == 0)
            return std::stol(line.substr(name.size() + 1));
    return -1;
}

int openDescriptors(pid_t pid)
{
    int count = 0;
    std::error_code ec;
    for (auto it = std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec);
         it != std::filesystem::directory_iterator(); it.increment(ec))
        ++count;
    return count;
}

double cpuSeconds(pid_t pid)  // user + system
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::istringstream fields(all.substr(all.rfind(')') + 2));
    std::string field;
    long utime = 0, stime = 0;
    for (int i = 3; fields >> field; ++i) {  // fields counted as in proc(5)
        if (i == 14)
            utime = std::stol(field);
        if (i == 15) {
            stime = std::stol(field);
            break;
        }
    }
    return double(utime + stime) / double(sysconf(_SC_CLK_TCK));
}

}  // namespace

SoakFigures soak(const std::string &program, int cycles, int earlySample,
                 const std::vector<std::string> &wrapper, const std::string &faketime, const SoakSetup &setup)
{
    SoakFigures figures;
    Usb usb;
    for (int i = 0; i < setup.otherDevices; ++i) {  // mice that name themselves
        DeviceInfo other;
        other.vendor = 0x046d;
        other.product = 0xc077;
        other.address = 3 + i;
        usb.add(other);
    }
    Device &sensor = usb.add();
    // Across the limit of 25 degrees and back, so the output keeps switching.
    std::vector<uint8_t> readings;
    for (int i = 0; i < 64; ++i)
        readings.push_back(i % 2 ? 40 : 60);
    std::vector<uint8_t> all;
    while (int(all.size()) < cycles)
        all.insert(all.end(), readings.begin(), readings.end());
    sensor.setReadings(all);

    char pattern[] = "/tmp/tempswitch-soak-XXXXXX";
    std::string directory = mkdtemp(pattern);
    std::atomic<pid_t> pid{0};
    double cpuStart = 0;
    sensor.onVendorRequest([&](Device &d, const ControlRequest &rq, int reads, int) {
        if (rq.request != 0 || d.unplugged())
            return;
        if (reads == 1) {
            figures.fdsStart = openDescriptors(pid);
            cpuStart = cpuSeconds(pid);
        }
        if (reads == earlySample) {
            figures.rssKbEarly = statusField(pid, "VmRSS");
            figures.fdsEarly = openDescriptors(pid);
        }
        if (reads == cycles) {
            figures.rssKbEnd = statusField(pid, "VmRSS");
            figures.peakRssKb = statusField(pid, "VmHWM");
            figures.fdsEnd = openDescriptors(pid);
            figures.handlesEnd = usb.handlesOpen(pid);
            figures.cpuSecondsPerCycle = (cpuSeconds(pid) - cpuStart) / (cycles - 1);
            figures.cycles = reads;
            d.unplug();
        }
    });

    std::vector<std::string> args(wrapper.begin(), wrapper.end());
    std::string absolute = std::filesystem::absolute(program).string(), run = absolute;
    if (!wrapper.empty()) {
        args.erase(args.begin());
        args.push_back(absolute);
        run = wrapper.front();
    }
    args.insert(args.end(), setup.options.begin(), setup.options.end());
    args.push_back("25");
    auto started = std::chrono::steady_clock::now();
    {
        ProgramRun child(run, {.args = args, .directory = directory, .faketime = faketime});
        pid = child.pid();
        usb.watchHandles(pid);
        figures.status = child.wait(24 * 3600 * 1000);
    }
    figures.wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    figures.mostHandles = usb.mostHandlesSeen();
    std::error_code ec;
    std::filesystem::remove_all(directory, ec);
    return figures;
}

}  // namespace sim
