// Under systemd: what the program says on $NOTIFY_SOCKET (Type=notify), a
// socket of the test's own, and how a stop of the service ends; the
// fail-safe level that ExecStopPost= sends after an end that the program
// did not make itself; the priority of each line in the journal.
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <csignal>

#include "sim/mqtt_broker.h"
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

    // With a schedule the status names the next point, in local time.
    sensor.setReadings({49});
    std::ofstream(directory() / "s") << "* 06:00 20\nThu 05:00 26\n";
    sim::ProgramRun &scheduled = start({"--schedule", "s", "25"}, "@2026-12-09 12:00:00",
                                       {"NOTIFY_SOCKET=" + socketPath.string(), "TZ=Asia/Tokyo"});
    ASSERT_EQ(manager.receive(), "READY=1");
    EXPECT_EQ(manager.receive(), "STATUS=24.5 " + degree + ", output 255, limit 20, next 26 at Thu 05:00");
    scheduled.signal(SIGTERM);
    scheduled.wait();
}

// tempswitch --after-end, as ExecStopPost= runs it with what systemd says of
// each kind of end: it sends the fail-safe level, once, only when the run
// could not, and says so at the journal's priority.
TEST_F(ServiceNotify, AfterEndSendsTheFailsafeLevelOnlyWhenTheRunCouldNot)
{
    sim::Device &sensor = usb.add();
    sensor.failOutput(2, {EPIPE, 0});
    struct End {
        std::vector<std::string> environment;  // SERVICE_RESULT, EXIT_CODE, EXIT_STATUS
        std::string line;                      // "": nothing said, nothing sent
        std::vector<std::string> options = {"--failsafe", "0"};
    };
    const std::string sent = ": fail-safe level 0 sent";
    const std::vector<End> ends = {
        {{"SERVICE_RESULT=success", "EXIT_CODE=killed", "EXIT_STATUS=TERM"}, ""},
        {{"SERVICE_RESULT=exit-code", "EXIT_CODE=exited", "EXIT_STATUS=1"}, ""},
        {{"SERVICE_RESULT=exit-code", "EXIT_CODE=exited", "EXIT_STATUS=2"}, ""},
        {{}, ""},
        {{"SERVICE_RESULT=signal", "EXIT_CODE=killed", "EXIT_STATUS=KILL"}, "<4>the service ended by signal KILL" + sent},
        // The second output request fails: what failed is said, as an error.
        {{"SERVICE_RESULT=signal", "EXIT_CODE=killed", "EXIT_STATUS=PIPE"},
         "<3>the service ended by signal PIPE: fail-safe level 0 not sent: Broken pipe"},
        {{"SERVICE_RESULT=core-dump", "EXIT_CODE=dumped", "EXIT_STATUS=SEGV"},
         "<4>the service ended by signal SEGV (core dumped)" + sent},
        {{"SERVICE_RESULT=watchdog", "EXIT_CODE=dumped", "EXIT_STATUS=ABRT"},
         "<4>the watchdog ended the service by signal ABRT (core dumped)" + sent},
        {{"SERVICE_RESULT=watchdog", "EXIT_CODE=killed", "EXIT_STATUS=ABRT"},
         "<4>the watchdog ended the service by signal ABRT" + sent},
        {{"SERVICE_RESULT=timeout", "EXIT_CODE=killed", "EXIT_STATUS=KILL"},
         "<4>the service ran past its time-out and ended by signal KILL" + sent},
        {{"SERVICE_RESULT=exit-code", "EXIT_CODE=exited", "EXIT_STATUS=203"},
         "<4>the service exited with status 203" + sent},
        // Without --failsafe there is no level to send.
        {{"SERVICE_RESULT=signal", "EXIT_CODE=killed", "EXIT_STATUS=KILL"}, "", {}},
        // A schedule that is gone with the run is not read.
        {{"SERVICE_RESULT=signal", "EXIT_CODE=killed", "EXIT_STATUS=KILL"}, "<4>the service ended by signal KILL" + sent,
         {"--failsafe", "0", "--schedule", "/gone/lab.schedule"}},
        {{"SERVICE_RESULT=signal", "EXIT_CODE=killed", "EXIT_STATUS=KILL"},
         "<3>the service ended by signal KILL: fail-safe level 0 not sent: no sensor found at port 1-9",
         {"--failsafe", "0", "--port", "1-9"}},
#ifdef TEMPSWITCH_MQTT
        // The files of the run are not read: a credential may be gone with it.
        {{"SERVICE_RESULT=signal", "EXIT_CODE=killed", "EXIT_STATUS=KILL"}, "<4>the service ended by signal KILL" + sent,
         {"--failsafe", "0", "--mqtt", "mqtts://u@broker", "--mqtt-password-file", "/gone/password", "--mqtt-ca",
          "/gone/ca.pem"}},
#endif
    };
    for (const End &end : ends) {
        std::vector<std::string> args = {"--after-end"};
        args.insert(args.end(), end.options.begin(), end.options.end());
        args.push_back("25");
        const int outputsBefore = sensor.outputs();
        sim::ProgramRun &run = start(sim::RunOptions{.args = args, .environment = end.environment, .journalStream = true});
        const std::string what = end.environment.empty() ? "no environment" : end.environment.back();
        EXPECT_EQ(run.wait(), 0) << what;
        EXPECT_EQ(run.output(), end.line.empty() ? "" : end.line + "\n") << what;
        const bool tried = !end.line.empty() && end.line.find("no sensor found") == std::string::npos;
        EXPECT_EQ(sensor.outputs() - outputsBefore, tried ? 1 : 0) << what;
    }
    EXPECT_EQ(sensor.reads(), 0);
    EXPECT_EQ(sensor.outputLevel(), 0);
}

// Under the journal every line starts with its priority, which journald
// strips; written anywhere else, the bytes are as they always were.
TEST_F(ServiceNotify, EachLineHasItsPriorityInTheJournalAndNoneElsewhere)
{
    sim::Device &sensor = usb.add();
    sensor.setReadings({46});
    const std::vector<std::string> args = {"--failsafe", "0", "--metrics", "gone/m.prom", "25"};
    auto lines = [&](bool journal, const std::vector<std::string> &arguments) {
        unplugAfterOutputs(sensor, sensor.outputs() + 3);
        // Elsewhere: $JOURNAL_STREAM names another file, as in a shell started from a service.
        sim::ProgramRun &run = start(sim::RunOptions{.args = arguments,
                                                     .environment = journal ? std::vector<std::string>{}
                                                                            : std::vector<std::string>{"JOURNAL_STREAM=1:2"},
                                                     .faketime = "+0 x20",
                                                     .journalStream = journal});
        run.wait();
        sensor.plug();
        return run.lines();
    };
    const std::string reading = temperatureLine(23).substr(0, temperatureLine(23).size() - 1);
    const std::string unwritable = "cannot write gone/m.prom: No such file or directory";
    const std::vector<std::string> expected = {
        "<6>" + reading, "<4>" + unwritable, "<6>" + reading, "<6>" + reading, "<3>usbOpenDevice failed 1 ",
        "<3>cannot set the output to the fail-safe level 0: No such device"};
    EXPECT_EQ(lines(true, args), expected);
    std::vector<std::string> plain;
    for (const std::string &line : expected)
        plain.push_back(line.substr(3));
    EXPECT_EQ(lines(false, args), plain);
#ifdef TEMPSWITCH_MQTT
    // A setting taken from outside is a notice; a broker that is not there, a warning.
    std::ofstream(directory() / "s") << "limit 22\nmode cool\n";
    const std::string broker = "127.0.0.1:" + std::to_string(sim::freeTcpPort());
    sim::ProgramRun &run = start(sim::RunOptions{
        .args = {"--mqtt", "mqtt://" + broker, "--mqtt-control", "5:40", "--state", "s", "25"}, .journalStream = true});
    const std::string refused = "<4>cannot reach the MQTT broker " + broker + ": Connection refused\n";
    waitForText(run, refused);  // whether it came is checked below
    run.signal(SIGTERM);
    run.wait();
    EXPECT_EQ(run.lines().at(0), "<5>limit 22 and mode cool from s, as last set over MQTT");
    EXPECT_NE(run.output().find(refused), std::string::npos) << run.output();
#endif
    EXPECT_EQ(lines(true, {"--failsafe", "256", "25"}),
              (std::vector<std::string>{"<3>invalid --failsafe \"256\": give a level from 0 to 255",
                                        "<3>you need temperature data"}));
}

}  // namespace
