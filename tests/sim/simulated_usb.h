// The "kernel and sensor" for the tests: a umockdev testbed whose usbfs
// nodes are answered by ioctl handlers in this process, so that the real
// libusb 0.1 in a child process talks to simulated devices.
#pragma once

#include <umockdev.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <vector>

namespace sim {

// What a device says about itself. An empty string reads as length 0.
struct DeviceInfo {
    uint16_t vendor = 0x1384;
    uint16_t product = 0x8888;
    std::string productName = "USB Thermometer";
    std::string manufacturer = "Example Works";
    uint8_t manufacturerIndex = 1;  // 0: the device has no such string
    uint8_t productIndex = 2;
    int bus = 1;
    int address = 2;
    std::string port = "";  // its port path in sysfs; "" for BUS-ADDRESS
};

// How one request fails: the errno it completes with, after a delay.
struct Fault {
    int error = 0;
    int delayMs = 0;
};

// One control request as it came over the wire.
struct ControlRequest {
    int device;  // index in the order devices were added
    uint8_t type, request;
    uint16_t value, index, length;
};

class Device;
// Called on the handler thread for every vendor request of a device,
// before it is answered; reads and outputs count from 1. It is also called
// for a request over a handle left from before an unplug, which fails.
using VendorHook = std::function<void(Device &, const ControlRequest &, int reads, int outputs)>;

class Device {
public:
    // Each read takes the next reading; the last one then repeats.
    void setReadings(std::vector<uint8_t> halfDegrees);
    void failRead(int nth, Fault fault);
    void failOutput(int nth, Fault fault);
    void setOutputReply(uint8_t reply) { outputReply_ = reply; }
    void setStringError(int error) { stringError_ = error; }  // 0: strings answer
    void setAccessDenied(bool denied) { denied_ = denied; }   // every ioctl EPERM
    // The node goes away while the bus is scanned, after the device was
    // listed, so that opening it fails; it is back for the next scan.
    void setVanishOnScan(bool vanish) { vanishOnScan_ = vanish; }
    void onVendorRequest(VendorHook hook);
    // Unplugging removes the node, so the next scan does not see the device,
    // and fails every request still made over an open handle with ENODEV.
    void unplug();
    void plug();
    bool unplugged() const { return unplugged_; }

    int number() const { return number_; }      // the order it was added in, from 0
    int outputLevel() const { return level_; }  // -1 until an output request
    int reads() const { return reads_; }
    int outputs() const { return outputs_; }
    int stringRequests() const { return stringRequests_; }
    int opens() const { return opens_; }
    // The most handles the watched process held on this device during any
    // vendor request (to this device or another).
    int mostHeldAtTransfers() const { return mostHeldAtTransfers_; }

private:
    friend class Usb;
    friend struct Handler;
    DeviceInfo info_;
    int number_ = 0;
    std::string nodePath_, devnode_;
    std::vector<uint8_t> nodeBytes_;
    UMockdevIoctlBase *handler_ = nullptr;
    class Usb *usb_ = nullptr;

    std::mutex mutex_;
    std::vector<uint8_t> readings_{50};
    std::map<int, Fault> readFaults_, outputFaults_;
    VendorHook hook_;
    std::atomic<int> level_{-1}, reads_{0}, outputs_{0}, stringRequests_{0}, opens_{0};
    std::atomic<int> mostHeldAtTransfers_{0};
    std::atomic<uint8_t> outputReply_{0xA5};
    std::atomic<int> stringError_{0};
    std::atomic<bool> denied_{false}, unplugged_{false}, vanishOnScan_{false}, vanished_{false};
};

class Usb {
public:
    Usb();
    ~Usb();
    Usb(const Usb &) = delete;
    Usb &operator=(const Usb &) = delete;

    Device &add(const DeviceInfo &info = {});
    // Every control request to every device, in order.
    std::vector<ControlRequest> wire();
    std::vector<ControlRequest> vendorRequests();
    // Counts, at every control request, the device nodes the process holds open.
    void watchHandles(pid_t pid) { watched_ = pid; }
    int mostHandlesSeen() const { return mostHandles_; }
    int handlesOpen(pid_t pid) const;
    std::map<std::string, int> openNodes(pid_t pid) const;  // node path -> open handles
    const std::string &root() const { return root_; }
    // Lets a child that runs as another user reach the simulated nodes.
    void openToEveryone();

private:
    friend struct Handler;
    void record(const ControlRequest &request);
    UMockdevTestbed *testbed_;
    std::string root_;
    std::vector<std::unique_ptr<Device>> devices_;
    std::mutex mutex_;
    std::vector<ControlRequest> wire_;
    std::atomic<pid_t> watched_{0};
    std::atomic<int> mostHandles_{0};
};

}  // namespace sim
