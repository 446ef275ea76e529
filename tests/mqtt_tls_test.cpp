// --mqtt mqtts:// against a real mosquitto with TLS listeners, with
// certificates made for the test: publishing through a restart of the
// broker, a client certificate that the broker takes the user from, and a
// line for each failure that says what to mend.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <memory>
#include <thread>

#include "sim/mqtt_broker.h"
#include "sim/tls_files.h"
#include "tempswitch_fixture.h"

namespace {

using MqttTls = TempswitchTest;

// A broker with a plain listener (for the test's watcher), one over TLS
// with the broker's certificate for "localhost", and one over TLS that
// requires a client certificate of the test CA and takes its CN as the user.
struct TlsBroker {
    int plain = sim::freeTcpPort(), tls = sim::freeTcpPort(), withCertificate = sim::freeTcpPort();
    std::unique_ptr<sim::MqttBroker> broker;

    void start(const sim::TlsFiles &files)
    {
        const std::string identity = "certfile " + files.path("broker.crt") + "\nkeyfile " + files.path("broker.key") + "\n";
        broker = std::make_unique<sim::MqttBroker>(
            plain, "listener " + std::to_string(tls) + " 127.0.0.1\n" + identity + "listener " +
                       std::to_string(withCertificate) + " 127.0.0.1\n" + identity + "cafile " + files.path("ca.crt") +
                       "\nrequire_certificate true\nuse_identity_as_username true\n");
    }
};

// Whether a live (not retained) message came on topic.
bool freshOn(sim::MqttWatch &watch, const std::string &topic)
{
    return watch.waitFor([&](const std::vector<sim::DeliveredMessage> &messages) {
        return std::any_of(messages.begin(), messages.end(),
                           [&](const auto &m) { return m.topic == topic && !m.retained; });
    });
}

long linesAbout(sim::ProgramRun &run, const std::string &text)
{
    std::vector<std::string> lines = run.lines();
    return std::count_if(lines.begin(), lines.end(), [&](const std::string &l) { return l.find(text) != l.npos; });
}

TEST_F(MqttTls, PublishesOverTlsThroughARestartAndWithAClientCertificateAsTheUser)
{
    usb.add().setReadings({49});
    sim::TlsFiles files;
    TlsBroker mosquitto;
    const std::string broker = "localhost:" + std::to_string(mosquitto.tls);

    // The broker is not there yet: said once, the switching goes on.
    sim::ProgramRun *run =
        &start({"--mqtt", "mqtts://" + broker, "--mqtt-ca", files.path("ca.crt"), "--mqtt-topic", "test/tls", "25"});
    ASSERT_TRUE(waitForText(*run, "cannot reach the MQTT broker " + broker + ": Connection refused\n")) << run->output();
    mosquitto.start(files);
    ASSERT_TRUE(mosquitto.broker->running());
    {
        sim::MqttWatch watch(mosquitto.plain, {"test/tls/#"});
        EXPECT_TRUE(freshOn(watch, "test/tls/temperature")) << run->output();
    }

    // A restart of the broker: the same link, the same certificates, fresh messages again.
    mosquitto.broker.reset();
    mosquitto.start(files);
    ASSERT_TRUE(mosquitto.broker->running());
    {
        sim::MqttWatch watch(mosquitto.plain, {"test/tls/#"});
        EXPECT_TRUE(freshOn(watch, "test/tls/temperature")) << run->output();
    }
    EXPECT_LE(linesAbout(*run, "MQTT broker"), 2) << run->output();
    const size_t readings = run->lines().size();
    ASSERT_TRUE(run->waitForLines(readings + 2));
    run->signal(SIGTERM);
    EXPECT_EQ(run->wait(), 128 + SIGTERM);

    // A client certificate, with the CA after it as an intermediate would be,
    // to a listener that requires one: no user in the URL, the broker takes
    // the certificate's CN.
    sim::MqttWatch watch(mosquitto.plain, {"test/cert/#"});
    run = &start({"--mqtt", "mqtts://localhost:" + std::to_string(mosquitto.withCertificate), "--mqtt-ca",
                  files.path("ca.crt"), "--mqtt-cert", files.path("client-chain.crt"), "--mqtt-key",
                  files.path("client.key"), "--mqtt-topic", "test/cert", "25"});
    EXPECT_TRUE(freshOn(watch, "test/cert/temperature")) << run->output();
    bool asTempswitch = false;
    for (int waited = 0; !asTempswitch && waited < 20000; waited += 10) {
        asTempswitch = mosquitto.broker->log().find("u'tempswitch')") != std::string::npos;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(asTempswitch) << mosquitto.broker->log();
    EXPECT_EQ(linesAbout(*run, "MQTT"), 0) << run->output();
    run->signal(SIGTERM);
    run->wait();
}

// A port that takes the TCP connection and never says a word.
class SilentListener {
public:
    SilentListener() : fd_(socket(AF_INET, SOCK_STREAM, 0))
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        bind(fd_, reinterpret_cast<sockaddr *>(&address), size);
        listen(fd_, 8);
        getsockname(fd_, reinterpret_cast<sockaddr *>(&address), &size);
        port_ = ntohs(address.sin_port);
    }
    ~SilentListener() { close(fd_); }
    int port() const { return port_; }

private:
    int fd_, port_ = 0;
};

TEST_F(MqttTls, EachFailureSaysWhatToMendAndTheSwitchingGoesOn)
{
    sim::Device &sensor = usb.add();
    sensor.setReadings({49, 51});
    sim::TlsFiles files;
    TlsBroker mosquitto;
    mosquitto.start(files);
    ASSERT_TRUE(mosquitto.broker->running());
    SilentListener silent;
    const std::string ca = files.path("ca.crt"), tls = std::to_string(mosquitto.tls),
                      required = std::to_string(mosquitto.withCertificate), plain = std::to_string(mosquitto.plain);
    struct Failure {
        std::vector<std::string> options;
        std::string reason;      // after "cannot reach the MQTT broker HOST:PORT: "
        std::string otherwise = {};  // "": the reason alone; else a TLS 1.3 broker's alert may be lost with the connection
    };
    const std::vector<Failure> failures = {
        {{"--mqtt", "mqtts://localhost:" + tls, "--mqtt-ca", files.path("other-ca.crt")},
         "its certificate (CN=localhost) does not verify against --mqtt-ca " + files.path("other-ca.crt") +
             ": unable to get local issuer certificate"},
        {{"--mqtt", "mqtts://localhost:" + tls},
         "its certificate (CN=localhost) does not verify against the system's CA store: unable to get local issuer "
         "certificate"},
        {{"--mqtt", "mqtts://127.0.0.1:" + tls, "--mqtt-ca", ca}, "its certificate is for localhost, not 127.0.0.1"},
        {{"--mqtt", "mqtts://localhost:" + required, "--mqtt-ca", ca},
         "the broker asks for a client certificate (TLS alert \"certificate required\"): give --mqtt-cert and --mqtt-key",
         "the broker asks for a client certificate: give --mqtt-cert and --mqtt-key"},
        {{"--mqtt", "mqtts://localhost:" + required, "--mqtt-ca", ca, "--mqtt-cert", files.path("other-client.crt"),
          "--mqtt-key", files.path("other-client.key")},
         "the broker refused the client certificate --mqtt-cert " + files.path("other-client.crt") +
             " (TLS alert \"unknown CA\")",
         "the broker closed the connection after the TLS handshake: it most likely refused the client certificate "
         "--mqtt-cert " + files.path("other-client.crt")},
        {{"--mqtt", "mqtts://localhost:" + plain, "--mqtt-ca", ca},
         "no TLS at port " + plain + ": what answered there is not TLS; " + plain + " may be a plain MQTT listener (mqtt://)"},
        {{"--mqtt", "mqtts://localhost:" + std::to_string(silent.port()), "--mqtt-ca", ca},
         "no answer to the TLS handshake within 30 s"},
    };
    for (const Failure &failure : failures) {
        std::vector<std::string> args = failure.options;
        args.insert(args.end(), {"--mqtt-topic", "test/fail", "25"});
        const std::string url = failure.options[1];
        const std::string said = "cannot reach the MQTT broker " + url.substr(url.find("//") + 2) + ": ";
        sim::ProgramRun &run = start(args);
        ASSERT_TRUE(waitForText(run, said)) << url << "\n" << run.output();
        // Readings and switching go on; further attempts say nothing more.
        ASSERT_TRUE(run.waitForLines(run.lines().size() + 3)) << run.output();
        run.signal(SIGTERM);
        EXPECT_EQ(run.wait(), 128 + SIGTERM) << url << "\n" << run.output();
        std::vector<std::string> lines;
        for (const std::string &line : run.lines())
            if (line.find("MQTT") != std::string::npos)
                lines.push_back(line);
        ASSERT_EQ(lines.size(), 1u) << run.output();
        const std::string reason = lines[0].substr(said.size());
        if (failure.otherwise.empty() || reason != failure.otherwise) {
            EXPECT_EQ(reason, failure.reason) << url;
        }
        EXPECT_EQ(outputLevels().back(), 255);
    }
}

}  // namespace
