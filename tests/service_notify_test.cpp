// Under systemd's Type=notify: what the program says on $NOTIFY_SOCKET, a
// socket of the test's own, and how a stop of the service ends.
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <csignal>

#include "tempswitch_fixture.h"

namespace {

namespace fs = std::filesystem;

using ServiceNotify = TempswitchTest;

// The service manager's end: one datagram a message.
class NotifySocket {
public:
    explicit NotifySocket(const fs::path &path) : fd_(socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0))
    {
        sockaddr_un address = {};
        address.sun_family = AF_UNIX;
        path.string().copy(address.sun_path, sizeof address.sun_path - 1);
        bind(fd_, reinterpret_cast<sockaddr *>(&address), sizeof address);
    }
    ~NotifySocket() { close(fd_); }
    // The next message, or "" when none comes in that time.
    std::string receive(int timeoutMs = 20000)
    {
        pollfd ready = {fd_, POLLIN, 0};
        if (poll(&ready, 1, timeoutMs) != 1)
            return "";
        char message[512];
        ssize_t n = recv(fd_, message, sizeof message, 0);
        return n < 0 ? "" : std::string(message, size_t(n));
    }

private:
    int fd_;
};

TEST_F(ServiceNotify, ReadyAfterTheFirstReadingThenStatusAndWatchdogEachCycleAndStoppingAtTheEnd)
{
    sim::Device &sensor = usb.add();
    sensor.setReadings({49, 51});  // 24.5, then 25.5: on at 25
    const fs::path socketPath = directory() / "notify", metrics = directory() / "t.prom";
    NotifySocket manager(socketPath);
    sim::ProgramRun &run = start({"--metrics", metrics.string(), "25"}, "+0 x20",
                                 {"NOTIFY_SOCKET=" + socketPath.string(), "WATCHDOG_USEC=30000000"});

    // Ready once the sensor has been read, before the first output request.
    ASSERT_EQ(manager.receive(), "READY=1");
    std::vector<sim::ControlRequest> before = usb.vendorRequests();
    ASSERT_FALSE(before.empty());
    EXPECT_EQ(before[0].request, 0);
    EXPECT_EQ(outputLevels().size(), 0u);

    const std::string degree = "\xC2\xB0" "C";
    EXPECT_EQ(manager.receive(), "STATUS=24.5 " + degree + ", output 0, limit 25\nWATCHDOG=1");
    for (int cycle = 0; cycle < 3; ++cycle)
        EXPECT_EQ(manager.receive(), "STATUS=25.5 " + degree + ", output 255, limit 25\nWATCHDOG=1");
    ASSERT_TRUE(fs::exists(metrics));

    // A stop: STOPPING=1 first; the metrics file goes, so that a stopped
    // instance is not taken for a dead one.
    run.signal(SIGTERM);
    EXPECT_EQ(run.wait(), 128 + SIGTERM);
    std::string message;
    long statuses = 4;
    while ((message = manager.receive()).rfind("STATUS=", 0) == 0)
        ++statuses;
    EXPECT_EQ(message, "STOPPING=1");
    EXPECT_EQ(manager.receive(0), "") << "nothing after STOPPING=1";
    long readings = long(run.lines().size());
    EXPECT_TRUE(statuses == readings || statuses == readings - 1) << statuses << " statuses, " << readings << " readings";
    EXPECT_FALSE(fs::exists(metrics));
}

}  // namespace
