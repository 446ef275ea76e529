#include "simulated_usb.h"

#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>

namespace sim {

namespace {

std::vector<uint8_t> descriptors(const DeviceInfo &info)
{
    return {
        // device: USB 1.1, control endpoint of 8 bytes, one configuration
        18, 1, 0x10, 0x01, 0, 0, 0, 8, uint8_t(info.vendor & 0xff), uint8_t(info.vendor >> 8),
        uint8_t(info.product & 0xff), uint8_t(info.product >> 8), 0x00, 0x01, info.manufacturerIndex,
        info.productIndex, 0, 1,
        // configuration, one interface, one interrupt IN endpoint
        9, 2, 25, 0, 1, 1, 0, 0x80, 50, 9, 4, 0, 0, 1, 0xff, 0, 0, 0, 7, 5, 0x81, 3, 8, 0, 10};
}

std::vector<uint8_t> stringDescriptor(const std::string &text)
{
    std::vector<uint8_t> d = {uint8_t(2 + 2 * text.size()), 3};
    for (unsigned char c : text) {
        d.push_back(c);
        d.push_back(0);
    }
    return d;
}

void writeFile(const std::string &path, const std::vector<uint8_t> &bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
}

}  // namespace

void Device::setReadings(std::vector<uint8_t> halfDegrees)
{
    std::lock_guard lock(mutex_);
    readings_ = std::move(halfDegrees);
}

void Device::failRead(int nth, Fault fault)
{
    std::lock_guard lock(mutex_);
    readFaults_[nth] = fault;
}

void Device::failOutput(int nth, Fault fault)
{
    std::lock_guard lock(mutex_);
    outputFaults_[nth] = fault;
}

void Device::onVendorRequest(VendorHook hook)
{
    std::lock_guard lock(mutex_);
    hook_ = std::move(hook);
}

void Device::unplug()
{
    unplugged_ = true;
    std::filesystem::remove(nodePath_);
}

void Device::plug()
{
    writeFile(nodePath_, nodeBytes_);
    unplugged_ = false;
}

struct Handler {
    static void complete(UMockdevIoctlClient *client, long result, int error)
    {
        umockdev_ioctl_client_complete(client, result, error);
    }

    // The answer to a vendor request: data byte, or a fault.
    static bool vendorAnswer(Device &dev, const ControlRequest &rq, uint8_t *byte, Fault *fault)
    {
        VendorHook hook;
        int reads = 0, outputs = 0;
        bool known = rq.request == 0 || (rq.request == 1 && rq.value <= 255);
        {
            std::lock_guard lock(dev.mutex_);
            if (rq.request == 0) {
                reads = ++dev.reads_;
                outputs = dev.outputs_;
                if (auto f = dev.readFaults_.find(reads); f != dev.readFaults_.end())
                    *fault = f->second;
                *byte = dev.readings_[std::min<size_t>(reads, dev.readings_.size()) - 1];
            } else {
                reads = dev.reads_;
                outputs = ++dev.outputs_;
                if (auto f = dev.outputFaults_.find(outputs); f != dev.outputFaults_.end())
                    *fault = f->second;
                *byte = dev.outputReply_;
            }
            hook = dev.hook_;
        }
        if (rq.request == 1 && known && fault->error == 0)
            dev.level_ = rq.value;
        if (hook)
            hook(dev, rq, reads, outputs);
        if (!known && fault->error == 0)
            fault->error = EPIPE;
        return fault->error == 0;
    }

    static gboolean onIoctl(UMockdevIoctlBase *, UMockdevIoctlClient *client, gpointer user)
    {
        Device &dev = *static_cast<Device *>(user);
        Usb &usb = *dev.usb_;
        gulong request = umockdev_ioctl_client_get_request(client);
        UMockdevIoctlData *arg = umockdev_ioctl_client_get_arg(client);
        GError *error = nullptr;

        if (dev.denied_) {  // usbfs refuses ioctls on a node opened without write access
            complete(client, -1, EPERM);
            return TRUE;
        }
        if (dev.unplugged_ && request != USBDEVFS_CONTROL) {
            complete(client, -1, ENODEV);
            return TRUE;
        }
        if (request == USBDEVFS_CONNECTINFO) {
            UMockdevIoctlData *d = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_connectinfo), &error);
            if (d == nullptr) {
                g_error_free(error);
                complete(client, -1, EFAULT);
                return TRUE;
            }
            auto *info = reinterpret_cast<usbdevfs_connectinfo *>(d->data);
            info->devnum = unsigned(dev.info_.address);
            info->slow = 0;
            complete(client, 0, 0);
            g_object_unref(d);
            return TRUE;
        }
        if (request == USBDEVFS_IOCTL && dev.vanishOnScan_) {  // asked of every device during a scan
            std::filesystem::remove(dev.nodePath_);
            dev.vanished_ = true;
        }
        if (request != USBDEVFS_CONTROL) {  // HUB_PORTINFO and the rest: "not a hub"
            complete(client, -1, request == USBDEVFS_IOCTL ? ENOSYS : ENOTTY);
            return TRUE;
        }

        UMockdevIoctlData *ctl = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_ctrltransfer), &error);
        if (ctl == nullptr) {
            g_error_free(error);
            complete(client, -1, EFAULT);
            return TRUE;
        }
        auto *ct = reinterpret_cast<usbdevfs_ctrltransfer *>(ctl->data);
        ControlRequest rq{dev.number_, ct->bRequestType, ct->bRequest, ct->wValue, ct->wIndex, ct->wLength};
        usb.record(rq);
        if (dev.unplugged_) {  // recorded, so a test sees what was tried over a stale handle
            VendorHook hook;
            {
                std::lock_guard lock(dev.mutex_);
                hook = dev.hook_;
            }
            if (hook && rq.type == 0xC0)
                hook(dev, rq, dev.reads_, dev.outputs_);
            g_object_unref(ctl);
            complete(client, -1, ENODEV);
            return TRUE;
        }
        UMockdevIoctlData *buffer = nullptr;
        if (rq.length > 0) {
            buffer = umockdev_ioctl_data_resolve(ctl, offsetof(usbdevfs_ctrltransfer, data), rq.length, &error);
            if (buffer == nullptr) {
                g_error_free(error);
                g_object_unref(ctl);
                complete(client, -1, EFAULT);
                return TRUE;
            }
        }

        std::vector<uint8_t> reply;
        Fault fault{EPIPE, 0};  // a real device stalls on what it does not know
        if (rq.type == 0x80 && rq.request == 6) {  // GET_DESCRIPTOR
            uint8_t kind = rq.value >> 8, index = rq.value & 0xff;
            std::vector<uint8_t> all = descriptors(dev.info_);
            if (kind == 1) {
                reply.assign(all.begin(), all.begin() + 18);
            } else if (kind == 2 && index == 0) {
                reply.assign(all.begin() + 18, all.end());
            } else if (kind == 3) {
                ++dev.stringRequests_;
                if (int e = dev.stringError_)
                    fault.error = e;
                else if (index == 0)
                    reply = {4, 3, 0x09, 0x04};  // English (US)
                else if (index == dev.info_.manufacturerIndex)
                    reply = stringDescriptor(dev.info_.manufacturer);
                else if (index == dev.info_.productIndex)
                    reply = stringDescriptor(dev.info_.productName);
            }
            if (!reply.empty())
                fault.error = 0;
        } else if (rq.type == 0xC0 && (rq.request == 0 || rq.request == 1)) {
            uint8_t byte = 0;
            fault.error = 0;
            if (vendorAnswer(dev, rq, &byte, &fault))
                reply = {byte};
        }
        if (fault.delayMs > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(fault.delayMs));
        if (fault.error == 0) {
            size_t n = std::min<size_t>(reply.size(), rq.length);
            if (n > 0)
                memcpy(buffer->data, reply.data(), n);
            complete(client, long(n), 0);
        } else {
            complete(client, -1, fault.error);
        }
        if (buffer != nullptr)
            g_object_unref(buffer);
        g_object_unref(ctl);
        return TRUE;
    }

    static void onConnected(UMockdevIoctlBase *, UMockdevIoctlClient *, gpointer user)
    {
        ++static_cast<Device *>(user)->opens_;
    }
};

Usb::Usb()
{
    testbed_ = umockdev_testbed_new();  // also points UMOCKDEV_DIR of this process at it
    gchar *root = umockdev_testbed_get_root_dir(testbed_);
    root_ = root;
    g_free(root);
}

Usb::~Usb()
{
    for (auto &dev : devices_) {
        if (!dev->unplugged_)
            umockdev_testbed_detach_ioctl(testbed_, dev->devnode_.c_str(), nullptr);
        g_object_unref(dev->handler_);
    }
    g_object_unref(testbed_);  // removes the directory
}

Device &Usb::add(const DeviceInfo &info)
{
    auto dev = std::make_unique<Device>();
    dev->info_ = info;
    dev->usb_ = this;
    dev->number_ = int(devices_.size());
    dev->nodeBytes_ = descriptors(info);
    char node[64], sys[160];
    snprintf(node, sizeof node, "bus/usb/%03d/%03d", info.bus, info.address);
    std::string port = info.port.empty() ? std::to_string(info.bus) + "-" + std::to_string(info.address) : info.port;
    snprintf(sys, sizeof sys, "/devices/pci0000:00/0000:00:1d.0/usb%d/%s", info.bus, port.c_str());
    dev->devnode_ = std::string("/dev/") + node;
    dev->nodePath_ = root_ + dev->devnode_;
    std::string hex;
    for (uint8_t b : dev->nodeBytes_) {
        char h[3];
        snprintf(h, sizeof h, "%02X", b);
        hex += h;
    }
    char text[1024];
    snprintf(text, sizeof text,
             "P: %s\nN: %s=%s\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: DEVNAME=/dev/%s\n"
             "E: BUSNUM=%03d\nE: DEVNUM=%03d\nA: idVendor=%04x\nA: idProduct=%04x\n"
             "A: busnum=%d\nA: devnum=%d\nA: dev=189:%d\n\n",
             sys, node, hex.c_str(), node, info.bus, info.address, info.vendor, info.product,
             info.bus, info.address, (info.bus - 1) * 128 + info.address - 1);
    GError *error = nullptr;
    if (!umockdev_testbed_add_from_string(testbed_, text, &error))
        throw std::runtime_error(std::string("umockdev add: ") + error->message);
    dev->handler_ = umockdev_ioctl_base_new();
    g_signal_connect(dev->handler_, "handle-ioctl", G_CALLBACK(Handler::onIoctl), dev.get());
    g_signal_connect(dev->handler_, "client-connected", G_CALLBACK(Handler::onConnected), dev.get());
    if (!umockdev_testbed_attach_ioctl(testbed_, dev->devnode_.c_str(), dev->handler_, &error))
        throw std::runtime_error(std::string("umockdev attach: ") + error->message);
    devices_.push_back(std::move(dev));
    return *devices_.back();
}

namespace {
void raise(std::atomic<int> &most, int seen)
{
    int now = most;
    while (seen > now && !most.compare_exchange_weak(now, seen)) {
    }
}
}  // namespace

void Usb::record(const ControlRequest &request)
{
    {
        std::lock_guard lock(mutex_);
        wire_.push_back(request);
    }
    // The scan is over once any device is talked to: bring back what vanished.
    for (auto &dev : devices_)
        if (dev->vanished_.exchange(false))
            writeFile(dev->nodePath_, dev->nodeBytes_);
    pid_t pid = watched_;
    if (pid == 0)
        return;
    std::map<std::string, int> open = openNodes(pid);
    int total = 0;
    for (const auto &[node, count] : open)
        total += count;
    raise(mostHandles_, total);
    if (request.type == 0xC0)  // between searches: what stays open while the sensor is used
        for (auto &dev : devices_)
            raise(dev->mostHeldAtTransfers_, open[dev->nodePath_]);
}

std::vector<ControlRequest> Usb::wire()
{
    std::lock_guard lock(mutex_);
    return wire_;
}

std::vector<ControlRequest> Usb::vendorRequests()
{
    std::vector<ControlRequest> vendor;
    for (const ControlRequest &r : wire())
        if (r.type == 0xC0)
            vendor.push_back(r);
    return vendor;
}

void Usb::openToEveryone()
{
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::permissions(root_, fs::perms::all, fs::perm_options::add, ec);
    for (const auto &entry : fs::recursive_directory_iterator(root_, ec))
        fs::permissions(entry.path(), fs::perms::all, fs::perm_options::add, ec);
}

std::map<std::string, int> Usb::openNodes(pid_t pid) const
{
    namespace fs = std::filesystem;
    std::map<std::string, int> open;
    std::error_code ec;
    const std::string nodes = root_ + "/dev/bus/usb/", deleted = " (deleted)";
    for (const auto &entry : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec)) {
        std::string target = fs::read_symlink(entry.path(), ec).string();
        if (target.rfind(nodes, 0) != 0)
            continue;
        if (target.size() > deleted.size() && target.ends_with(deleted))
            target.resize(target.size() - deleted.size());
        ++open[target];
    }
    return open;
}

int Usb::handlesOpen(pid_t pid) const
{
    int total = 0;
    for (const auto &[node, count] : openNodes(pid))
        total += count;
    return total;
}

}  // namespace sim
