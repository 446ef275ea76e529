#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <map>
#include <thread>

#include "tempswitch_fixture.h"

namespace {

namespace fs = std::filesystem;

const std::string temperatureLabel = "\x89\xB7\x93\x78\x81\x81";
const std::string timeLabel = "\x8E\x9E\x8A\xD4\x81\x81";

struct Record {
    int degrees;
    std::string time;  // the 24 characters of ctime
};

// Splits a log into its records; whatever does not parse is left in *rest.
std::vector<Record> parseRecords(const std::string &bytes, std::string *rest)
{
    std::vector<Record> records;
    size_t at = 0;
    while (at < bytes.size()) {
        if (bytes.compare(at, 6, temperatureLabel) != 0)
            break;
        size_t digits = at + 6, end = digits;
        while (end < bytes.size() && isdigit(static_cast<unsigned char>(bytes[end])))
            ++end;
        if (end == digits || bytes.compare(end, 1, " ") != 0 || bytes.compare(end + 1, 6, timeLabel) != 0 ||
            bytes.size() < end + 7 + 24 + 3 || bytes.compare(end + 7 + 24, 3, "\n \n") != 0)
            break;
        records.push_back({std::stoi(bytes.substr(digits, end - digits)), bytes.substr(end + 7, 24)});
        at = end + 7 + 24 + 3;
    }
    *rest = bytes.substr(at);
    return records;
}

std::vector<Record> recordsOf(const fs::path &file)
{
    std::string rest;
    std::vector<Record> records = parseRecords(readFile(file), &rest);
    EXPECT_EQ(rest, "") << file << " holds more than whole records";
    return records;
}

std::vector<int> degreesOf(const std::vector<Record> &records)
{
    std::vector<int> degrees;
    for (const Record &r : records)
        degrees.push_back(r.degrees);
    return degrees;
}

std::vector<int> range(int first, int last)
{
    std::vector<int> all;
    for (int i = first; i <= last; ++i)
        all.push_back(i);
    return all;
}

class ReadingLog : public TempswitchTest {
protected:
    // The sensor reads cycle number N as N degrees, and is unplugged after
    // `cycles` outputs, so the run ends at the next search.
    sim::Device &sensorForCycles(int cycles)
    {
        sim::DeviceInfo info;
        info.address = 2 + devices_++;
        sim::Device &sensor = usb.add(info);
        std::vector<uint8_t> readings;
        for (int cycle = 1; cycle <= 127; ++cycle)
            readings.push_back(uint8_t(2 * cycle));
        sensor.setReadings(readings);
        unplugAfterOutputs(sensor, cycles);
        return sensor;
    }

    // What a run should leave, worked out from the stamp of every cycle's
    // record: a rotation at each stamp on a multiple of ten; a rotation whose
    // copy works (per plan, then always) starts a new window.
    struct Expected {
        std::vector<std::vector<int>> snapshots;
        std::vector<int> log;
    };
    static Expected expectedFrom(const std::map<int, std::string> &stamps, int lastCycle, std::vector<bool> copies = {})
    {
        Expected expected;
        size_t rotation = 0;
        for (int cycle = 1; cycle <= lastCycle; ++cycle) {
            expected.log.push_back(cycle);
            auto stamp = stamps.find(cycle);
            // Seconds since the epoch are a multiple of ten when those of the minute are.
            if (stamp == stamps.end() || stamp->second[18] != '0')
                continue;
            bool copied = rotation < copies.size() ? copies[rotation] : true;
            ++rotation;
            if (copied) {
                expected.snapshots.push_back(expected.log);
                expected.log.clear();
            }
        }
        return expected;
    }

    // Every snapshot the run made, in order (each copy that the cp of
    // copyPlan made is kept), and what tmp holds at the end. Every record
    // is in exactly one of them.
    std::vector<std::vector<Record>> snapshotsMade()
    {
        std::vector<std::vector<Record>> snapshots;
        for (int n = 1; fs::exists(made(n)); ++n)
            snapshots.push_back(recordsOf(made(n)));
        return snapshots;
    }

    // The stamp of every cycle's record, wherever the record ended up.
    std::map<int, std::string> stamps()
    {
        std::map<int, std::string> all;
        std::vector<std::vector<Record>> files = snapshotsMade();
        files.push_back(recordsOf(directory() / "tmp"));
        for (const std::vector<Record> &records : files)
            for (const Record &r : records)
                EXPECT_TRUE(all.emplace(r.degrees, r.time).second) << "cycle " << r.degrees << " logged twice";
        return all;
    }

    void expectRun(const Expected &expected)
    {
        std::vector<std::vector<int>> snapshots;
        for (const std::vector<Record> &snapshot : snapshotsMade())
            snapshots.push_back(degreesOf(snapshot));
        EXPECT_EQ(snapshots, expected.snapshots) << "every snapshot, in order";
        EXPECT_EQ(degreesOf(recordsOf(directory() / "tmp")), expected.log);
        // tmp1 is the last whole snapshot, never a piece of a copy.
        if (snapshots.empty())
            EXPECT_FALSE(fs::exists(directory() / "tmp1"));
        else
            EXPECT_EQ(readFile(directory() / "tmp1"), readFile(made(int(snapshots.size()))));
        EXPECT_FALSE(fs::exists(directory() / "tmp1.new"));
    }

    // A cp on PATH that follows a plan, one line per call: fail, partial
    // (writes a piece of the copy, then fails), or ok, the default once the
    // plan has run out. It keeps each copy it makes as bin/made.N.
    std::vector<std::string> copyPlan(const std::string &plan = "")
    {
        fs::create_directory(directory() / "bin");
        std::ofstream(directory() / "bin" / "cp") << "#!/bin/sh\n"
                                                     "bin=$(dirname \"$0\")\n"
                                                     "step=$(head -n 1 \"$bin/plan\"); sed -i 1d \"$bin/plan\"\n"
                                                     "case \"$step\" in\n"
                                                     "fail) exit 1 ;;\n"
                                                     "partial) head -c 20 \"$1\" > \"$2\"; exit 1 ;;\n"
                                                     "esac\n"
                                                     "/bin/cp \"$@\" || exit\n"
                                                     "n=1; while [ -e \"$bin/made.$n\" ]; do n=$((n + 1)); done\n"
                                                     "exec /bin/cp \"$2\" \"$bin/made.$n\"\n";
        fs::permissions(directory() / "bin" / "cp", fs::perms::owner_all);
        std::ofstream(directory() / "bin" / "plan") << plan;
        return {"PATH=" + (directory() / "bin").string() + ":/usr/bin:/bin"};
    }

    // Runs the program with limit 0 in UTC, on a clock that starts at
    // `first` (by default five seconds before a multiple of ten) and steps
    // one second at each read, so that where the rotations fall depends only
    // on what the program does, never on how fast the machine runs it.
    sim::ProgramRun &startStepped(std::vector<std::string> environment = {}, int user = -1,
                                  const std::string &first = "07:49:05")
    {
        environment.push_back("TZ=UTC");
        return start(sim::RunOptions{.args = {"0"},
                                     .environment = std::move(environment),
                                     .faketime = "@2007-05-12 " + first + " i1",
                                     .fastSleep = true,
                                     .user = user});
    }

private:
    fs::path made(int n) const { return directory() / "bin" / ("made." + std::to_string(n)); }
    int devices_ = 0;
};

TEST_F(ReadingLog, RecordsAreByteExact)
{
    sim::Device &sensor = sensorForCycles(2);
    sensor.setReadings({46, 48});
    sim::ProgramRun &run = startStepped({}, -1, "07:49:12");
    EXPECT_EQ(run.wait(), 1);
    const std::string record = "\x89\xB7\x93\x78\x81\x81"
                               "23 "
                               "\x8E\x9E\x8A\xD4\x81\x81"
                               "Sat May 12 07:49:12 2007\n \n";
    EXPECT_EQ(record.size(), 40u + 2u);
    EXPECT_EQ(readFile(directory() / "tmp"),
              record + temperatureLabel + "24 " + timeLabel + "Sat May 12 07:49:13 2007\n \n");
    EXPECT_EQ(run.output(), temperatureLine(23) + temperatureLine(24) + "usbOpenDevice failed 1 \n");
    EXPECT_FALSE(fs::exists(directory() / "tmp1"));
}

TEST_F(ReadingLog, EachSnapshotEndsWithTheRecordOnAMultipleOfTen)
{
    sensorForCycles(28);
    sim::ProgramRun &run = startStepped(copyPlan());
    EXPECT_EQ(run.wait(), 1);
    std::map<int, std::string> stamped = stamps();
    ASSERT_EQ(stamped.size(), 28u);
    Expected expected = expectedFrom(stamped, 28);
    // The first snapshot holds every record since start; later ones, ten.
    ASSERT_GE(expected.snapshots.size(), 2u);
    EXPECT_EQ(expected.snapshots[0].front(), 1);
    EXPECT_EQ(expected.snapshots[1].size(), 10u);
    expectRun(expected);
}

// A restart loses nothing: what an earlier run left in tmp goes to tmp1
// before tmp is emptied, even when no sensor is found; if that copy fails,
// tmp keeps it.
TEST_F(ReadingLog, StartSnapshotsWhatAnEarlierRunLeftThenEmptiesTheLog)
{
    const std::string leftover = "records of an earlier run\n";
    std::ofstream(directory() / "tmp") << leftover;
    std::ofstream(directory() / "tmp1") << "an older snapshot\n";
    EXPECT_EQ(start({"25"}).wait(), 1);
    EXPECT_EQ(readFile(directory() / "tmp1"), leftover);
    EXPECT_TRUE(fs::exists(directory() / "tmp"));
    EXPECT_EQ(readFile(directory() / "tmp"), "");
    // An empty tmp makes no snapshot.
    EXPECT_EQ(start({"25"}).wait(), 1);
    EXPECT_EQ(readFile(directory() / "tmp1"), leftover);

    // A failed copy keeps the leftover, and the new records follow it.
    std::ofstream(directory() / "tmp") << "more records\n";
    sensorForCycles(1);
    sim::ProgramRun &run = start({"25"}, "+0 x20", {"PATH=/nonexistent"});
    EXPECT_EQ(run.wait(), 1);
    std::string log = readFile(directory() / "tmp"), rest;
    ASSERT_EQ(log.substr(0, 13), "more records\n");
    EXPECT_EQ(degreesOf(parseRecords(log.substr(13), &rest)), std::vector<int>{1});
    EXPECT_EQ(rest, "");
    EXPECT_EQ(readFile(directory() / "tmp1"), leftover);
    EXPECT_FALSE(fs::exists(directory() / "tmp1.new"));
}

TEST_F(ReadingLog, RecordsAreOnDiskWhenASignalStopsTheProgram)
{
    for (int signal : {SIGTERM, SIGINT}) {
        sim::Device &sensor = sensorForCycles(1000);
        // The signal lands while the third output request is answered: the
        // program is then blocked in it, with three readings printed.
        std::atomic<pid_t> pid{0};
        sensor.onVendorRequest([&pid, signal](sim::Device &, const sim::ControlRequest &rq, int, int outputs) {
            if (rq.request != 1 || outputs != 3)
                return;
            for (int tries = 0; pid == 0 && tries < 10000; ++tries)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            kill(pid, signal);
        });
        // Stamped 07:49:01 to :03: no rotation moves the records to tmp1.
        sim::ProgramRun &run = startStepped({}, -1, "07:49:01");
        pid = run.pid();
        EXPECT_EQ(run.wait(), 128 + signal);
        EXPECT_EQ(run.lines().size(), 3u) << "signal " << signal;
        EXPECT_EQ(recordsOf(directory() / "tmp").size(), 3u) << "signal " << signal;
        sensor.unplug();
    }
}

TEST_F(ReadingLog, MissingCopyCommandKeepsEveryRecordInTheLog)
{
    sim::Device &sensor = sensorForCycles(18);
    sim::ProgramRun &run = startStepped({"PATH=/nonexistent"});
    EXPECT_EQ(run.wait(), 1);
    EXPECT_EQ(degreesOf(recordsOf(directory() / "tmp")), range(1, 18));
    EXPECT_FALSE(fs::exists(directory() / "tmp1"));
    EXPECT_FALSE(fs::exists(directory() / "tmp1.new"));
    EXPECT_NE(run.errors().find("cp"), std::string::npos) << "the shell says what went wrong";
    EXPECT_EQ(sensor.outputs(), 18);
}

TEST_F(ReadingLog, FailedCopyIsMadeUpByTheNextOne)
{
    sensorForCycles(28);
    sim::ProgramRun &run = startStepped(copyPlan("fail\nok\n"));
    EXPECT_EQ(run.wait(), 1);
    std::map<int, std::string> stamped = stamps();
    ASSERT_EQ(stamped.size(), 28u);
    Expected expected = expectedFrom(stamped, 28, {false, true});
    ASSERT_FALSE(expected.snapshots.empty()) << "no rotation after the failed one";
    EXPECT_EQ(expected.snapshots.front().front(), 1);
    expectRun(expected);
}

TEST_F(ReadingLog, HalfWrittenCopyNeverReplacesTheSnapshot)
{
    sensorForCycles(18);
    sim::ProgramRun &run = startStepped(copyPlan("ok\npartial\n"));
    EXPECT_EQ(run.wait(), 1);
    std::map<int, std::string> stamped = stamps();
    ASSERT_EQ(stamped.size(), 18u);
    // tmp1 stays the whole first snapshot; tmp keeps everything after it.
    Expected expected = expectedFrom(stamped, 18, {true, false});
    ASSERT_EQ(expected.snapshots.size(), 1u) << "no rotation after the first";
    expectRun(expected);
}

TEST_F(ReadingLog, FullDiskIsReportedOnceAndSwitchingGoesOn)
{
    fs::create_symlink("/dev/full", directory() / "tmp");
    sim::Device &sensor = sensorForCycles(18);
    sim::ProgramRun &run = startStepped();
    EXPECT_EQ(run.wait(), 1);
    std::string expected;
    for (int cycle = 1; cycle <= 18; ++cycle) {
        expected += temperatureLine(cycle);
        if (cycle == 1)
            expected += "cannot write tmp: No space left on device\n";
    }
    EXPECT_EQ(run.output(), expected + "usbOpenDevice failed 1 \n");
    EXPECT_EQ(outputLevels(), std::vector<int>(18, 255));
    EXPECT_EQ(sensor.outputs(), 18);
    EXPECT_FALSE(fs::exists(directory() / "tmp1"));
}

TEST_F(ReadingLog, LogThatCannotBeOpenedIsRetriedAtEachRotation)
{
    // As root no directory is unwritable, so the program runs as nobody.
    sim::Device &sensor = sensorForCycles(18);
    usb.openToEveryone();
    fs::permissions(directory(), fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                     fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
    if (geteuid() == 0) {
        ASSERT_EQ(chown(directory().c_str(), 65534, 65534), 0);
    }
    // The directory becomes writable while the third read is answered.
    sensor.onVendorRequest([dir = directory()](sim::Device &d, const sim::ControlRequest &rq, int reads, int outputs) {
        if (rq.request == 0 && reads == 3)
            fs::permissions(dir, fs::perms::owner_all, fs::perm_options::add);
        if (rq.request == 1 && outputs == 18)
            d.unplug();
    });
    sim::ProgramRun &run = startStepped({}, geteuid() == 0 ? 65534 : -1);
    EXPECT_EQ(run.wait(), 1);

    std::vector<std::string> lines = run.lines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0], "cannot open tmp: Permission denied");
    EXPECT_EQ(std::count(lines.begin(), lines.end(), lines[0]), 1);
    EXPECT_EQ(lines.size(), 1u + 18u + 1u);
    EXPECT_EQ(sensor.outputs(), 18);
    // Reopened at the first rotation after that; from then on every record
    // is kept, and a snapshot is only made of a window in which the log was
    // open.
    std::vector<int> kept = degreesOf(recordsOf(directory() / "tmp1"));
    std::vector<int> log = degreesOf(recordsOf(directory() / "tmp"));
    kept.insert(kept.end(), log.begin(), log.end());
    ASSERT_FALSE(kept.empty());
    EXPECT_GT(kept.front(), 3);
    EXPECT_EQ(kept, range(kept.front(), 18));
}

}  // namespace
