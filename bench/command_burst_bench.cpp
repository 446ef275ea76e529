// A burst of MQTT commands against a running instance with --mqtt-control:
// 1,000 commands in one second (limits, modes and bad payloads mixed), on
// the real clock, against the simulated sensor and a real mosquitto. What
// matters: the gaps between readings stay a cycle long, and the program
// says at most one change of each setting and one refusal a cycle.
//   command_burst_bench PROGRAM [COMMANDS]
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "sim/mqtt_broker.h"
#include "sim/program_run.h"
#include "sim/simulated_usb.h"

using Clock = std::chrono::steady_clock;

static double seconds(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double>(to - from).count();
}

static bool isReading(const std::string &line)
{
    return line.rfind("\x89\xB7", 0) == 0;
}

int main(int argc, char **argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: %s PROGRAM [COMMANDS]\n", argv[0]);
        return 2;
    }
    const int commands = argc > 2 ? atoi(argv[2]) : 1000;
    char pattern[] = "/tmp/tempswitch-burst-XXXXXX";
    const std::string directory = mkdtemp(pattern);
    sim::Usb usb;
    usb.add().setReadings({46});
    const int port = sim::freeTcpPort();
    sim::MqttBroker broker(port);
    sim::MqttWatch client(port, {});
    sim::ProgramRun run(argv[1], {.args = {"--mqtt", "mqtt://127.0.0.1:" + std::to_string(port), "--mqtt-topic=bench",
                                           "--mqtt-control", "5:40", "25"},
                                  .directory = directory});
    usb.watchHandles(run.pid());

    // Every line with the time it arrived, polled every millisecond.
    std::vector<std::pair<Clock::time_point, std::string>> seen;
    auto watch = [&](double forSeconds) {
        Clock::time_point end = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                                   std::chrono::duration<double>(forSeconds));
        while (Clock::now() < end) {
            std::vector<std::string> lines = run.lines();
            for (size_t i = seen.size(); i < lines.size(); ++i)
                seen.push_back({Clock::now(), lines[i]});
            usleep(1000);
        }
    };
    watch(4);  // connected, and a few readings before the burst
    const size_t before = seen.size();
    const Clock::time_point burstStart = Clock::now();
    std::thread burst([&] {
        for (int i = 0; i < commands; ++i) {
            switch (i % 10) {
            case 0: client.publish("bench/mode/set", i % 20 ? "off" : "cool"); break;
            case 1: client.publish("bench/limit/set", "abc"); break;
            default: client.publish("bench/limit/set", std::to_string(20 + i % 7) + ".0"); break;
            }
            std::this_thread::sleep_until(burstStart + std::chrono::microseconds(1000000LL * (i + 1) / commands));
        }
    });
    watch(6);
    burst.join();
    run.signal(SIGTERM);
    run.wait();

    double longestBefore = 0, longestAfter = 0;
    Clock::time_point last{};
    int readings = 0, changes = 0, refusals = 0, other = 0;
    std::vector<std::pair<Clock::time_point, int>> cycleLines;  // lines said between two readings
    for (size_t i = 0; i < seen.size(); ++i) {
        const auto &[at, line] = seen[i];
        if (isReading(line)) {
            if (last != Clock::time_point{})
                (i < before ? longestBefore : longestAfter) = std::max(i < before ? longestBefore : longestAfter,
                                                                       seconds(last, at));
            last = at;
            ++readings;
            cycleLines.push_back({at, 0});
            continue;
        }
        if (i >= before) {
            if (line.find("set over MQTT") != std::string::npos)
                ++changes;
            else if (line.rfind("refused MQTT command", 0) == 0)
                ++refusals;
            else
                ++other;
        }
        if (!cycleLines.empty())
            ++cycleLines.back().second;
    }
    int most = 0;
    for (const auto &cycle : cycleLines)
        most = std::max(most, cycle.second);
    printf("%d commands in 1 s; %d readings in %.1f s\n", commands, readings, seconds(seen.front().first, last));
    printf("longest gap between readings: %.3f s before the burst, %.3f s from it on\n", longestBefore, longestAfter);
    printf("lines from the burst on: %d changes set over MQTT, %d refusals, %d others; at most %d lines in one cycle\n",
           changes, refusals, other, most);
    std::filesystem::remove_all(directory);
    return longestAfter < 1.5 && most <= 3 ? 0 : 1;
}
