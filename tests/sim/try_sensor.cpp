// Lets someone without the hardware watch tempswitch work: one simulated
// sensor whose temperature drifts slowly up and down across the limit, the
// real program running against it, and every output change the sensor
// receives printed beside the program's own lines.
//
//   tempswitch-try PROGRAM DIRECTORY [OPTION...] LIMIT [SECONDS]
#include <iconv.h>
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "program_run.h"
#include "simulated_usb.h"

namespace {

std::atomic<bool> interrupted{false};

void onInterrupt(int) { interrupted = true; }

// The program writes its labels in Shift_JIS; show them readably.
std::string toUtf8(const std::string &sjis)
{
    iconv_t cd = iconv_open("UTF-8", "SHIFT_JIS");
    if (cd == iconv_t(-1))
        return sjis;
    std::string in = sjis, out(sjis.size() * 3 + 16, '\0');
    char *src = in.data(), *dst = out.data();
    size_t left = in.size(), room = out.size();
    size_t result = iconv(cd, &src, &left, &dst, &room);
    iconv_close(cd);
    if (result == size_t(-1))
        return sjis;
    out.resize(out.size() - room);
    return out;
}

// Half-degree readings from three degrees below the limit to three above and back.
std::vector<uint8_t> drift(int limitDegrees)
{
    std::vector<uint8_t> readings;
    for (int cycle = 0; cycle < 100000; ++cycle) {
        int phase = cycle % 24;
        int offset = phase <= 12 ? phase : 24 - phase;
        readings.push_back(uint8_t(std::clamp(2 * limitDegrees - 6 + offset, 0, 255)));
    }
    return readings;
}

// The program's options that take a value, so that LIMIT can be found after
// them (an --option=VALUE is one word).
bool takesValue(const char *option)
{
    for (const char *name : {"--hysteresis", "--min-on", "--min-off", "--failsafe", "--offset", "--metrics", "--port",
                             "--mqtt", "--mqtt-ca", "--mqtt-cert", "--mqtt-key", "--mqtt-password-file", "--mqtt-topic",
                             "--mqtt-control", "--state", "--schedule"})
        if (strcmp(option, name) == 0)
            return true;
    return false;
}

}  // namespace

int main(int argc, char **argv)
{
    int at = 3;
    while (at < argc && strncmp(argv[at], "--", 2) == 0)
        at += takesValue(argv[at]) ? 2 : 1;
    if (at >= argc) {
        fprintf(stderr, "usage: %s PROGRAM DIRECTORY [OPTION...] LIMIT [SECONDS]\n", argv[0]);
        return 2;
    }
    setvbuf(stdout, nullptr, _IOLBF, 0);
    std::string program = argv[1], directory = argv[2], limit = argv[at];
    std::vector<std::string> args(argv + 3, argv + at + 1);
    int seconds = at + 1 < argc ? atoi(argv[at + 1]) : 0;
    signal(SIGINT, onInterrupt);
    signal(SIGTERM, onInterrupt);

    sim::Usb usb;
    sim::Device &sensor = usb.add();
    sensor.setReadings(drift(atoi(limit.c_str())));
    std::mutex printing;
    std::atomic<int> lastLevel{-1};
    sensor.onVendorRequest([&](sim::Device &, const sim::ControlRequest &rq, int, int) {
        if (rq.request == 1 && lastLevel.exchange(rq.value) != rq.value) {
            std::lock_guard lock(printing);
            printf("    [simulated sensor] output switched to %d\n", rq.value);
        }
    });

    std::string commandLine;
    for (const std::string &arg : args)
        commandLine += " " + arg;
    printf("tempswitch%s against a simulated sensor in %s (%s)\n", commandLine.c_str(), directory.c_str(),
           seconds > 0 ? (std::to_string(seconds) + " s").c_str() : "Ctrl-C stops it");
    sim::ProgramRun run(program, {.args = args, .directory = directory});
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    size_t shown = 0;
    int status = -1;
    for (;;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        std::string out = run.output();
        size_t end = out.rfind('\n');
        if (end != std::string::npos && end + 1 > shown) {
            std::lock_guard lock(printing);
            fputs(toUtf8(out.substr(shown, end + 1 - shown)).c_str(), stdout);
            shown = end + 1;
        }
        if (interrupted || (seconds > 0 && std::chrono::steady_clock::now() >= deadline)) {
            run.signal(SIGTERM);
            status = run.wait(10000);
            break;
        }
        siginfo_t info{};
        if (waitid(P_PID, id_t(run.pid()), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == 0)
            continue;  // still running
        status = run.wait(1000);
        break;
    }
    std::string rest = run.output().substr(shown);
    fputs(toUtf8(rest).c_str(), stdout);
    printf("tempswitch ended with status %d after %d readings; its files are in %s\n", status,
           sensor.reads(), directory.c_str());
    return 0;
}
