// --mqtt against a real mosquitto: what each cycle publishes and how it is
// kept, a broker that comes only after the start, and the will.
#include <algorithm>
#include <chrono>
#include <thread>
#include <csignal>
#include <map>

#include "report/calendar.h"
#include "sim/mqtt_broker.h"
#include "tempswitch_fixture.h"

namespace {

using Mqtt = TempswitchTest;

// How many messages of topic were delivered.
long count(const std::vector<sim::DeliveredMessage> &messages, const std::string &topic)
{
    return std::count_if(messages.begin(), messages.end(), [&](const auto &m) { return m.topic == topic; });
}

// The last retained or live payload delivered on topic since message from.
std::string lastOn(const std::vector<sim::DeliveredMessage> &messages, const std::string &topic, size_t from = 0)
{
    std::string last = "(none)";
    for (size_t i = from; i < messages.size(); ++i)
        if (messages[i].topic == topic)
            last = messages[i].payload;
    return last;
}

TEST_F(Mqtt, PublishesEveryCycleRetainedAfterTheBrokerComesAndLeavesAWill)
{
    sim::Device &sensor = usb.add();
    sensor.setReadings({49, 51});  // 24.5, then 25.5 from then on; with --offset -13: 11.5, 12.5, on at 12
    const int port = sim::freeTcpPort();
    const std::string broker = "127.0.0.1:" + std::to_string(port);
    sim::ProgramRun &run = start({"--mqtt", "mqtt://" + broker, "--mqtt-topic=test/ts", "--offset", "-13", "12"});

    // No broker: the readings and the switching go on, the failure is said once.
    const std::string refused = "cannot reach the MQTT broker " + broker + ": Connection refused";
    waitForText(run, refused);  // the count below tells whether it came
    ASSERT_TRUE(run.waitForLines(8)) << run.output();
    std::vector<std::string> lines = run.lines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), refused), 1) << run.output();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), temperatureLine(12).substr(0, temperatureLine(12).size() - 1)),
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
        EXPECT_EQ(cycles[i].topic + "=" + cycles[i].payload, "test/ts/temperature=12.5");
        EXPECT_EQ(cycles[i + 1].topic + "=" + cycles[i + 1].payload, "test/ts/output=ON");
        EXPECT_EQ(cycles[i + 2].topic + "=" + cycles[i + 2].payload, "test/ts/limit=12");
    }

    // A client that comes later gets the last values at once, retained.
    sim::MqttWatch later(port, {"test/ts/#", "homeassistant/#"});
    ASSERT_TRUE(later.waitFor([](const auto &m) { return m.size() >= 7; }));
    std::map<std::string, std::string> retained;
    for (const sim::DeliveredMessage &m : later.messages())
        if (m.retained)
            retained[m.topic] = m.payload;
    EXPECT_EQ(retained["test/ts/availability"], "online");
    EXPECT_EQ(retained["test/ts/temperature"], "12.5");
    EXPECT_EQ(retained["test/ts/output"], "ON");
    EXPECT_EQ(retained["test/ts/limit"], "12");
    const std::string config = retained["homeassistant/sensor/test_ts/temperature/config"];
    for (const char *field : {"\"device_class\":\"temperature\"", "\"state_class\":\"measurement\"",
                              "\"unit_of_measurement\":\"\xC2\xB0" "C\"", "\"state_topic\":\"test/ts/temperature\"",
                              "\"availability_topic\":\"test/ts/availability\"", "\"unique_id\":\"test_ts_temperature\"",
                              "\"default_entity_id\":\"sensor.test_ts_temperature\""})
        EXPECT_NE(config.find(field), std::string::npos) << field << " in " << config;
    EXPECT_EQ(config.find("object_id"), std::string::npos) << "no longer read by Home Assistant";
    // Without --mqtt-control, a thermostat of an earlier run is removed. An empty retained message is not kept,
    // so a watcher sees it only live: ask for the configs again, as Home Assistant does when it comes online.
    const size_t before = live.messages().size();
    live.publish("homeassistant/status", "online");
    ASSERT_TRUE(live.waitFor([&](const auto &m) {
        return lastOn(m, "homeassistant/climate/test_ts/thermostat/config", before) != "(none)";
    }));
    EXPECT_EQ(lastOn(live.messages(), "homeassistant/climate/test_ts/thermostat/config", before), "");
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

TEST_F(Mqtt, ControlTakesLimitAndModeKeepsThemAndRefusesWhatCouldDoHarm)
{
    sim::Device &sensor = usb.add();
    sensor.setReadings({46});  // 23 degrees: 0 at the limit 25, 255 at 22
    const int port = sim::freeTcpPort();
    sim::MqttBroker mosquitto(port);
    ASSERT_TRUE(mosquitto.running());
    sim::MqttWatch ha(port, {"test/ts/#", "homeassistant/climate/#"});
    // A command left retained while the instance was away.
    ha.publish("test/ts/limit/set", "20", true);
    const std::vector<std::string> args = {"--mqtt", "mqtt://127.0.0.1:" + std::to_string(port), "--mqtt-topic=test/ts",
                                           "--hysteresis", "1", "--metrics", "m.prom", "--mqtt-control", "5:40", "25"};
    sim::ProgramRun *run = &start(args);

    ASSERT_TRUE(waitForText(*run, "ignored a retained MQTT command on test/ts/limit/set: commands must not be retained\n"))
        << run->output();
    ASSERT_TRUE(ha.waitFor([](const auto &m) { return lastOn(m, "test/ts/mode") == "cool"; }));
    EXPECT_EQ(lastOn(ha.messages(), "test/ts/limit"), "25");
    const std::string climate = lastOn(ha.messages(), "homeassistant/climate/test_ts/thermostat/config");
    for (const char *field : {"\"modes\":[\"off\",\"cool\"]", "\"mode_command_topic\":\"test/ts/mode/set\"",
                              "\"temperature_command_topic\":\"test/ts/limit/set\"", "\"action_topic\":\"test/ts/action\"",
                              "\"current_temperature_topic\":\"test/ts/temperature\"", "\"min_temp\":5,\"max_temp\":40",
                              "\"default_entity_id\":\"climate.test_ts_thermostat\""})
        EXPECT_NE(climate.find(field), std::string::npos) << field << " in " << climate;

    // Home Assistant's "22.0": said once, echoed, kept, and the output follows.
    size_t from = ha.messages().size();
    ha.publish("test/ts/limit/set", "22.0");
    ASSERT_TRUE(waitForText(*run, "limit 22 set over MQTT\n")) << run->output();
    ASSERT_TRUE(ha.waitFor([&](const auto &m) { return lastOn(m, "test/ts/action", from) == "cooling"; }));
    EXPECT_EQ(lastOn(ha.messages(), "test/ts/limit", from), "22");
    EXPECT_EQ(outputLevels().back(), 255);
    EXPECT_EQ(readFile(directory() / "tempswitch.state"), "limit 22\nmode cool\n");
    // The metrics follow the limit in use; the label still names the instance.
    EXPECT_NE(readFile(directory() / "m.prom").find("tempswitch_limit_celsius{limit=\"25\"} 22\n"), std::string::npos);

    // Home Assistant restarted: the configs come again at once.
    from = ha.messages().size();
    ha.publish("homeassistant/status", "online");
    EXPECT_TRUE(ha.waitFor([&](const auto &m) {
        return lastOn(m, "homeassistant/climate/test_ts/thermostat/config", from) == climate;
    }));

    // Bad commands change nothing, are said, and the state is sent again.
    const std::vector<std::pair<std::string, std::string>> bad = {
        {"limit", "abc"}, {"limit", "22.5"}, {"limit", "1e3"}, {"limit", "41"}, {"limit", ""},
        {"limit", std::string(70, '9')}, {"mode", "heat"}, {"mode", "Cool"}};
    for (const auto &[setting, payload] : bad) {
        from = ha.messages().size();
        ha.publish("test/ts/" + setting + "/set", payload);
        EXPECT_TRUE(waitForText(*run, "refused MQTT command on test/ts/" + setting + "/set \"" + payload.substr(0, 64) + "\""))
            << payload;
        EXPECT_TRUE(ha.waitFor([&](const auto &m) { return lastOn(m, "test/ts/" + setting, from) != "(none)"; }));
    }
    EXPECT_EQ(lastOn(ha.messages(), "test/ts/limit"), "22");
    EXPECT_EQ(lastOn(ha.messages(), "test/ts/mode"), "cool");

    // Mode off: 0 whatever the temperature, and the stop says nothing of the broker.
    from = ha.messages().size();
    ha.publish("test/ts/mode/set", "off");
    ASSERT_TRUE(waitForText(*run, "mode off set over MQTT\n")) << run->output();
    ASSERT_TRUE(ha.waitFor([&](const auto &m) { return lastOn(m, "test/ts/action", from) == "off"; }));
    ASSERT_TRUE(run->waitForLines(run->lines().size() + 2));
    EXPECT_EQ(outputLevels().back(), 0);
    run->signal(SIGTERM);
    EXPECT_EQ(run->wait(), 128 + SIGTERM);
    std::vector<std::string> said = saidLines(*run);
    std::vector<std::string> expected = {
        "ignored a retained MQTT command on test/ts/limit/set: commands must not be retained", "limit 22 set over MQTT"};
    for (const auto &[setting, payload] : bad)
        expected.push_back("refused MQTT command on test/ts/" + setting + "/set \"" + payload.substr(0, 64) + "\": " +
                           (setting == "mode" ? "give off or cool"
                                              : "give a whole number of degrees from 5 to 40, such as 40 or 40.0"));
    expected.push_back("mode off set over MQTT");
    EXPECT_EQ(said, expected);  // nothing of the broker at the stop either

    // Kept across a restart: from the first decision on.
    size_t outputsBefore = outputLevels().size();
    run = &start(args);
    ASSERT_TRUE(run->waitForLines(3));
    EXPECT_EQ(run->lines()[0], "limit 22 and mode off from tempswitch.state, as last set over MQTT");
    std::vector<int> levels = outputLevels();
    EXPECT_EQ(std::count(levels.begin() + long(outputsBefore), levels.end(), 255), 0);
    run->signal(SIGTERM);
    run->wait();

    // A file this instance cannot take is named, and the command line wins.
    {
        std::ofstream(directory() / "tempswitch.state") << "limit 41\nmode off\n";
    }
    run = &start(args);
    ASSERT_TRUE(run->waitForLines(2));
    EXPECT_EQ(run->lines()[0], "ignored tempswitch.state: its limit 41 is outside --mqtt-control 5:40; the limit 25 "
                               "and mode cool of the command line are used");
    run->signal(SIGTERM);
    run->wait();

    // One that cannot be written is said once, and control goes on in memory.
    std::vector<std::string> unwritable = args;
    unwritable.insert(unwritable.begin(), {"--state", "gone/tempswitch.state"});
    from = ha.messages().size();
    run = &start(unwritable);
    ASSERT_TRUE(ha.waitFor([&](const auto &m) { return lastOn(m, "test/ts/limit", from) == "25"; }));
    ha.publish("test/ts/limit/set", "21");
    ASSERT_TRUE(waitForText(*run, "limit 21 set over MQTT\n")) << run->output();
    ha.publish("test/ts/limit/set", "20");
    ASSERT_TRUE(waitForText(*run, "limit 20 set over MQTT\n")) << run->output();
    ASSERT_TRUE(run->waitForLines(run->lines().size() + 2));
    EXPECT_EQ(outputLevels().back(), 255);
    said = saidLines(*run);
    // The command planted at the beginning is still kept by the broker.
    EXPECT_EQ(said, (std::vector<std::string>{expected[0], "limit 21 set over MQTT",
                                              "cannot write gone/tempswitch.state: No such file or directory",
                                              "limit 20 set over MQTT"}));
    run->signal(SIGTERM);
    run->wait();
}

// A schedule in Berlin's time, with a limit set from Home Assistant held
// until its next point. Each run's clock starts where the step needs it and
// runs at its real pace, an hour clear of the points that it must not reach.
TEST_F(Mqtt, ScheduleHoldsASetLimitUntilItsNextPointThroughRestarts)
{
    sim::Device &sensor = usb.add();
    sensor.setReadings({46});
    const int port = sim::freeTcpPort();
    sim::MqttBroker mosquitto(port);
    ASSERT_TRUE(mosquitto.running());
    sim::MqttWatch ha(port, {"test/ts/#", "homeassistant/#"});
    const std::filesystem::path schedule = directory() / "s", state = directory() / "tempswitch.state";
    std::ofstream(schedule) << "* 06:00 24\n* 22:00 27\n";
    // Left by a run without a schedule: its mode stays, its limit gives way.
    std::ofstream(state) << "limit 30\nmode cool\n";
    const std::vector<std::string> args = {"--mqtt", "mqtt://127.0.0.1:" + std::to_string(port), "--mqtt-topic=test/ts",
                                           "--mqtt-control", "5:40", "--schedule", "s", "25"};
    auto startAt = [&](const std::string &time) -> sim::ProgramRun & {
        return start(sim::RunOptions{.args = args, .environment = {"TZ=Europe/Berlin"}, .faketime = "@2026-12-09 " + time});
    };
    auto said = [](sim::ProgramRun &run) {
        run.signal(SIGTERM);
        run.wait();
        return saidLines(run);
    };
    auto heard = [&](size_t from, const std::string &topic, const std::string &payload) {
        return ha.waitFor([&](const auto &m) { return lastOn(m, topic, from) == payload; });
    };
    const std::string attributes = "{\"next_change\":\"2026-12-09T22:00:00+01:00\",\"next_limit\":27";

    // 21:00: the schedule's 24, its next point as the thermostat's attributes, the preset "schedule".
    sim::ProgramRun *run = &startAt("21:00:00");
    // A cycle's messages come in order: the limit, the mode, the action, the preset, the attributes.
    ASSERT_TRUE(heard(0, "test/ts/schedule", attributes + "}")) << run->output();
    EXPECT_EQ(lastOn(ha.messages(), "test/ts/limit"), "24");
    EXPECT_EQ(lastOn(ha.messages(), "test/ts/preset"), "schedule");
    const std::string climate = lastOn(ha.messages(), "homeassistant/climate/test_ts/thermostat/config");
    for (const char *field : {"\"preset_modes\":[\"schedule\"]", "\"preset_mode_command_topic\":\"test/ts/preset/set\"",
                              "\"preset_mode_state_topic\":\"test/ts/preset\"",
                              "\"json_attributes_topic\":\"test/ts/schedule\""})
        EXPECT_NE(climate.find(field), std::string::npos) << field << " in " << climate;
    EXPECT_NE(lastOn(ha.messages(), "homeassistant/sensor/test_ts/limit/config").find("\"json_attributes_topic\""),
              std::string::npos);

    // Home Assistant sets 22: held until 22:00, and kept with the moment the hold began.
    size_t from = ha.messages().size();
    ha.publish("test/ts/limit/set", "22");
    ASSERT_TRUE(heard(from, "test/ts/preset", "none")) << run->output();
    EXPECT_EQ(lastOn(ha.messages(), "test/ts/limit", from), "22");
    EXPECT_TRUE(heard(from, "test/ts/schedule", attributes + ",\"hold_until\":\"2026-12-09T22:00:00+01:00\"}"));
    const std::string kept = readFile(state);
    const long long began = kept.size() > 24 ? atoll(kept.c_str() + 24) : 0;
    const long long nine = daysFromCivil(2026, 12, 9) * 86400 + 20 * 3600;  // 21:00 in Berlin
    EXPECT_EQ(kept.substr(0, 24), "limit 22\nmode cool\nhold ");
    EXPECT_TRUE(began >= nine && began < nine + 600) << kept;
    EXPECT_EQ(said(*run), (std::vector<std::string>{"mode cool from tempswitch.state, as last set over MQTT",
                                                    "limit 24 from the schedule", "limit 22 set over MQTT"}));

    // 21:30, a restart within the hold: held from the start on.
    from = ha.messages().size();
    run = &startAt("21:30:00");
    ASSERT_TRUE(heard(from, "test/ts/limit", "22")) << run->output();
    EXPECT_TRUE(heard(from, "test/ts/preset", "none"));
    EXPECT_EQ(said(*run), (std::vector<std::string>{"limit 22 and mode cool from tempswitch.state, as last set over "
                                                    "MQTT, held until 2026-12-09T22:00:00+01:00"}));

    // 22:00:30, a start after the hold's end: the schedule rules, and the file forgets the hold.
    from = ha.messages().size();
    run = &startAt("22:00:30");
    ASSERT_TRUE(heard(from, "test/ts/limit", "27")) << run->output();
    EXPECT_TRUE(heard(from, "test/ts/preset", "schedule"));
    EXPECT_TRUE(heard(from, "test/ts/schedule", "{\"next_change\":\"2026-12-10T06:00:00+01:00\",\"next_limit\":24}"));
    EXPECT_EQ(readFile(state), "limit 22\nmode cool\n");

    // The preset none holds the limit in use; an edit that brings a point nearer ends the hold there.
    from = ha.messages().size();
    ha.publish("test/ts/preset/set", "none");
    ASSERT_TRUE(heard(from, "test/ts/preset", "none")) << run->output();
    EXPECT_TRUE(heard(from, "test/ts/schedule",
                      "{\"next_change\":\"2026-12-10T06:00:00+01:00\",\"next_limit\":24,"
                      "\"hold_until\":\"2026-12-10T06:00:00+01:00\"}"));
    std::ofstream(directory() / "s.new") << "* 06:00 24\n* 22:00 27\n* 23:00 25\n";
    std::filesystem::rename(directory() / "s.new", schedule);
    ASSERT_TRUE(heard(from, "test/ts/schedule",
                      "{\"next_change\":\"2026-12-09T23:00:00+01:00\",\"next_limit\":25,"
                      "\"hold_until\":\"2026-12-09T23:00:00+01:00\"}"))
        << run->output();
    // "schedule" ends it at once; a preset that is neither is refused.
    from = ha.messages().size();
    ha.publish("test/ts/preset/set", "hold");
    ha.publish("test/ts/preset/set", "schedule");
    ASSERT_TRUE(heard(from, "test/ts/preset", "schedule")) << run->output();
    EXPECT_EQ(lastOn(ha.messages(), "test/ts/limit", from), "27");
    EXPECT_EQ(said(*run), (std::vector<std::string>{"mode cool from tempswitch.state, as last set over MQTT",
                                                    "limit 27 from the schedule", "preset none set over MQTT",
                                                    "read the changed --schedule \"s\": 3 weekly points",
                                                    "refused MQTT command on test/ts/preset/set \"hold\": give schedule or none",
                                                    "preset schedule set over MQTT", "limit 27 from the schedule"}));
}

}  // namespace
