// Shared set-up for the end-to-end tests: a simulated bus, a scratch
// working directory, and the real tempswitch binary run against them.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "sim/program_run.h"
#include "sim/simulated_usb.h"

#ifndef TEMPSWITCH_BINARY
#error TEMPSWITCH_BINARY must name the program under test
#endif

// The console line for a temperature: Shift_JIS "温度＝", the number, " \n".
inline std::string temperatureLine(int degrees)
{
    return "\x89\xB7\x93\x78\x81\x81" + std::to_string(degrees) + " \n";
}

// Waits until the program has printed text (a line or part of one).
inline bool waitForText(sim::ProgramRun &run, const std::string &text, int timeoutMs = 20000)
{
    for (int waited = 0; waited < timeoutMs; waited += 10) {
        if (run.output().find(text) != std::string::npos)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// What the program said beside its readings, line by line.
inline std::vector<std::string> saidLines(sim::ProgramRun &run)
{
    std::vector<std::string> said;
    for (const std::string &line : run.lines())
        if (line.rfind("\x89\xB7", 0) != 0)
            said.push_back(line);
    return said;
}

inline std::string readFile(const std::filesystem::path &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

class TempswitchTest : public ::testing::Test {
protected:
    TempswitchTest()
    {
        char pattern[] = "/tmp/tempswitch-test-XXXXXX";
        directory_ = mkdtemp(pattern);
    }
    ~TempswitchTest() override
    {
        run_.reset();
        std::error_code ec;
        std::filesystem::remove_all(directory_, ec);
    }

    // Starts the program in the scratch directory. The clock runs twenty
    // times fast unless the caller sets its own FAKETIME.
    sim::ProgramRun &start(std::vector<std::string> args, std::string faketime = "+0 x20",
                           std::vector<std::string> environment = {})
    {
        return start(sim::RunOptions{.args = std::move(args), .environment = std::move(environment), .faketime = std::move(faketime)});
    }
    sim::ProgramRun &start(sim::RunOptions options, const std::string &program = TEMPSWITCH_BINARY)
    {
        if (options.directory.empty())
            options.directory = directory_;
        run_ = std::make_unique<sim::ProgramRun>(program, options);
        usb.watchHandles(run_->pid());
        return *run_;
    }

    // The device is unplugged once it has answered this many output
    // requests, so the next search ends the run.
    static void unplugAfterOutputs(sim::Device &device, int outputs)
    {
        device.onVendorRequest([outputs](sim::Device &d, const sim::ControlRequest &rq, int, int n) {
            if (rq.request == 1 && n == outputs)
                d.unplug();
        });
    }

    // The wValue of every output request, in order.
    std::vector<int> outputLevels()
    {
        std::vector<int> levels;
        for (const sim::ControlRequest &r : usb.vendorRequests())
            if (r.request == 1)
                levels.push_back(r.value);
        return levels;
    }

    const std::filesystem::path &directory() const { return directory_; }

    sim::Usb usb;

private:
    std::filesystem::path directory_;
    std::unique_ptr<sim::ProgramRun> run_;
};
