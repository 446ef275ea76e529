// --mqtt against a real mosquitto: what each cycle publishes and how it is
// kept, a broker that comes only after the start, and the will.
#include <algorithm>
#include <chrono>
#include <thread>
#include <csignal>
#include <map>

#include "sim/mqtt_broker.h"
#include "tempswitch_fixture.h"

namespace {

using Mqtt = TempswitchTest;

// How many messages of topic were delivered.
long count(const std::vector<sim::DeliveredMessage> &messages, const std::string &topic)
{
    return std::count_if(messages.begin(), messages.end(), [&](const auto &m) { return m.topic == topic; });
}

TEST_F(Mqtt, PublishesEveryCycleRetainedAfterTheBrokerComesAndLeavesAWill)
{
    sim::Device &sensor = usb.add();
    sensor.setReadings({49, 51});  // 24.5, then 25.5 from then on: on at 25
    const int port = sim::freeTcpPort();
    const std::string broker = "127.0.0.1:" + std::to_string(port);
    sim::ProgramRun &run = start({"--mqtt", "mqtt://" + broker, "--mqtt-topic=test/ts", "25"});

    // No broker: the readings and the switching go on, the failure is said once.
    const std::string refused = "cannot reach the MQTT broker " + broker + ": Connection refused";
    for (int waited = 0; waited < 20000 && run.output().find(refused) == std::string::npos; waited += 10)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(run.waitForLines(8)) << run.output();
    std::vector<std::string> lines = run.lines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), refused), 1) << run.output();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), temperatureLine(25).substr(0, temperatureLine(25).size() - 1)),
              long(lines.size()) - 2);

    // The broker comes: discovery, online, then every cycle's three messages.
    sim::MqttBroker mosquitto(port);
    ASSERT_TRUE(mosquitto.running());
    sim::MqttWatch live(port, {"test/ts/#", "homeassistant/#"});
    ASSERT_TRUE(live.waitFor([](const auto &m) { return count(m, "test/ts/limit") >= 3; })) << run.output();
    std::vector<sim::DeliveredMessage> cycles;
    for (const sim::DeliveredMessage &m : live.messages())
        if (m.topic.rfind("test/ts/", 0) == 0 && m.topic != "test/ts/availability")
            cycles.push_back(m);
    ASSERT_GE(cycles.size(), 9u);
    for (size_t i = 0; i + 3 <= cycles.size(); i += 3) {
        EXPECT_EQ(cycles[i].topic + "=" + cycles[i].payload, "test/ts/temperature=25.5");
        EXPECT_EQ(cycles[i + 1].topic + "=" + cycles[i + 1].payload, "test/ts/output=ON");
        EXPECT_EQ(cycles[i + 2].topic + "=" + cycles[i + 2].payload, "test/ts/limit=25");
    }

    // A client that comes later gets the last values at once, retained.
    sim::MqttWatch later(port, {"test/ts/#", "homeassistant/#"});
    ASSERT_TRUE(later.waitFor([](const auto &m) { return m.size() >= 7; }));
    std::map<std::string, std::string> retained;
    for (const sim::DeliveredMessage &m : later.messages())
        if (m.retained)
            retained[m.topic] = m.payload;
    EXPECT_EQ(retained["test/ts/availability"], "online");
    EXPECT_EQ(retained["test/ts/temperature"], "25.5");
    EXPECT_EQ(retained["test/ts/output"], "ON");
    EXPECT_EQ(retained["test/ts/limit"], "25");
    const std::string config = retained["homeassistant/sensor/test_ts/temperature/config"];
    for (const char *field : {"\"device_class\":\"temperature\"", "\"state_class\":\"measurement\"",
                              "\"unit_of_measurement\":\"\xC2\xB0" "C\"", "\"state_topic\":\"test/ts/temperature\"",
                              "\"availability_topic\":\"test/ts/availability\"", "\"unique_id\":\"test_ts_temperature\""})
        EXPECT_NE(config.find(field), std::string::npos) << field << " in " << config;
    EXPECT_EQ(retained.count("homeassistant/binary_sensor/test_ts/output/config"), 1u);
    EXPECT_EQ(retained.count("homeassistant/sensor/test_ts/limit/config"), 1u);

    // Killed without a word: the broker says offline for it.
    run.signal(SIGKILL);
    EXPECT_EQ(run.wait(), 128 + SIGKILL);
    EXPECT_TRUE(live.waitFor([](const auto &m) {
        return !m.empty() && m.back().topic == "test/ts/availability" && m.back().payload == "offline";
    }));
    lines = run.lines();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const std::string &l) { return l.find("MQTT") != l.npos; }), 1)
        << run.output();
}

}  // namespace
