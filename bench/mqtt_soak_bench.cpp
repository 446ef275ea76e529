// Memory through a broker outage: the real program with --mqtt against the
// simulated sensor for many cycles, while no broker listens, and while a
// broker that took the connection is stopped and reads nothing.
//   mqtt_soak_bench PROGRAM [CYCLES]
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "sim/mqtt_broker.h"
#include "sim/soak.h"

// Flat: the same resident memory late as early, and the same descriptors
// but for the one socket to the broker, open or closed at that moment.
static bool report(const char *name, const sim::SoakFigures &f, int cycles)
{
    bool flat = f.cycles == cycles && f.rssKbEnd == f.rssKbEarly && std::abs(f.fdsEnd - f.fdsEarly) <= 1;
    printf("%-26s %6d cycles  %.1f s  RSS %ld kB at %d, %ld kB at the end, peak %ld kB; fds %d, %d  %s\n", name,
           f.cycles, f.wallSeconds, f.rssKbEarly, cycles / 10, f.rssKbEnd, f.peakRssKb, f.fdsEarly, f.fdsEnd,
           flat ? "flat" : "NOT FLAT");
    return flat;
}

int main(int argc, char **argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: %s PROGRAM [CYCLES]\n", argv[0]);
        return 2;
    }
    const int cycles = argc > 2 ? atoi(argv[2]) : 20000;
    bool flat = true;
    {
        int port = sim::freeTcpPort();
        sim::SoakSetup gone{.options = {"--mqtt", "mqtt://127.0.0.1:" + std::to_string(port)}};
        flat &= report("no broker listening", sim::soak(argv[1], cycles, cycles / 10, {}, "+0 x1000", gone), cycles);
    }
    {
        // At a hundred times fast, so that the keepalive (30 s) does not end
        // the stalled connection at once: the socket fills first.
        int port = sim::freeTcpPort();
        sim::MqttBroker broker(port);
        std::thread freezer([&broker] {
            sleep(2);
            broker.freeze();
        });
        sim::SoakSetup stalled{.options = {"--mqtt", "mqtt://127.0.0.1:" + std::to_string(port)}};
        int few = cycles / 4;
        flat &= report("broker stopped (SIGSTOP)", sim::soak(argv[1], few, few / 10, {}, "+0 x100", stalled), few);
        freezer.join();
    }
    return flat ? 0 : 1;
}
