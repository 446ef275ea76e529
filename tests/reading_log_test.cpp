#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <thread>

#include "tempswitch_fixture.h"

namespace {

namespace fs = std::filesystem;

const std::string temperatureLabel = "\x89\xB7\x93\x78\x81\x81";
const std::string timeLabel = "\x8E\x9E\x8A\xD4\x81\x81";

struct Record {
    int degrees;
    std::string time;  // the 24 characters of ctime
    bool onMultipleOfTen() const { return time[18] == '0'; }
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

int multiplesOfTen(const std::vector<Record> &records)
{
    return int(std::count_if(records.begin(), records.end(), [](const Record &r) { return r.onMultipleOfTen(); }));
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

    // tmp1 is one window that ends with the record stamped on a multiple of
    // ten seconds; tmp holds every later record up to the last cycle.
    void expectWindows(int firstOfSnapshot, int lastCycle)
    {
        std::vector<Record> snapshot = recordsOf(directory() / "tmp1"), log = recordsOf(directory() / "tmp");
        ASSERT_FALSE(snapshot.empty());
        int last = snapshot.back().degrees;
        EXPECT_EQ(degreesOf(snapshot), range(firstOfSnapshot, last));
        EXPECT_TRUE(snapshot.back().onMultipleOfTen()) << snapshot.back().time;
        EXPECT_EQ(degreesOf(log), range(last + 1, lastCycle));
        EXPECT_FALSE(fs::exists(directory() / "tmp1.new"));
    }

    // A cp on PATH that follows a plan, one line per call: fail, partial
    // (writes a piece of the copy, then fails), or ok.
    std::vector<std::string> copyPlan(const std::string &plan)
    {
        fs::create_directory(directory() / "bin");
        std::ofstream(directory() / "bin" / "cp") << "#!/bin/sh\n"
                                                     "plan=\"$(dirname \"$0\")/plan\"\n"
                                                     "step=$(head -n 1 \"$plan\"); sed -i 1d \"$plan\"\n"
                                                     "case \"$step\" in\n"
                                                     "fail) exit 1 ;;\n"
                                                     "partial) head -c 20 \"$1\" > \"$2\"; exit 1 ;;\n"
                                                     "esac\n"
                                                     "exec /bin/cp \"$@\"\n";
        fs::permissions(directory() / "bin" / "cp", fs::perms::owner_all);
        std::ofstream(directory() / "bin" / "plan") << plan;
        return {"PATH=" + (directory() / "bin").string() + ":/usr/bin:/bin"};
    }

    // Four times fast: slow enough that no multiple of ten is skipped over a
    // run, even on a loaded machine, since each cycle takes a little over a second.
    static constexpr const char *fiveSecondsBefore = "@2007-05-12 07:49:05 x4";

private:
    int devices_ = 0;
};

TEST_F(ReadingLog, RecordsAreByteExact)
{
    sim::Device &sensor = sensorForCycles(2);
    sensor.setReadings({46, 48});
    sim::ProgramRun &run = start({"0"}, "@2007-05-12 07:49:12 x2", {"TZ=UTC"});
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

TEST_F(ReadingLog, SnapshotEndsWithTheRecordOnAMultipleOfTen)
{
    sensorForCycles(18);
    sim::ProgramRun &run = start({"0"}, fiveSecondsBefore, {"TZ=UTC"});
    EXPECT_EQ(run.wait(), 1);
    std::vector<Record> snapshot = recordsOf(directory() / "tmp1");
    ASSERT_FALSE(snapshot.empty());
    EXPECT_LE(snapshot.size(), 10u);
    EXPECT_GT(snapshot.front().degrees, 1) << "the second snapshot still holds the first window";
    EXPECT_EQ(multiplesOfTen(snapshot), 1);
    expectWindows(snapshot.front().degrees, 18);
    EXPECT_EQ(multiplesOfTen(recordsOf(directory() / "tmp")), 0) << "a rotation was missed";
}

TEST_F(ReadingLog, FirstSnapshotHoldsEveryRecordSinceStart)
{
    sensorForCycles(9);
    sim::ProgramRun &run = start({"0"}, "@2007-05-12 07:49:03 x4", {"TZ=UTC"});
    EXPECT_EQ(run.wait(), 1);
    expectWindows(1, 9);
}

TEST_F(ReadingLog, StartTruncatesTheLogEvenWithoutASensor)
{
    std::ofstream(directory() / "tmp") << "records of an earlier run\n";
    sim::ProgramRun &run = start({"25"});
    EXPECT_EQ(run.wait(), 1);
    EXPECT_TRUE(fs::exists(directory() / "tmp"));
    EXPECT_EQ(readFile(directory() / "tmp"), "");
}

TEST_F(ReadingLog, RecordsAreOnDiskWhenASignalStopsTheProgram)
{
    for (int signal : {SIGTERM, SIGINT}) {
        sensorForCycles(1000);
        sim::ProgramRun &run = start({"0"}, "@2007-05-12 07:49:01 x10");
        ASSERT_TRUE(run.waitForLines(3));
        // Into the cycle's sleep (100 ms here): the record follows its line within microseconds.
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
        run.signal(signal);
        EXPECT_EQ(run.wait(), 128 + signal);
        std::vector<Record> records = recordsOf(directory() / "tmp");
        EXPECT_EQ(records.size(), run.lines().size()) << "signal " << signal;
        EXPECT_GE(records.size(), 3u);
    }
}

TEST_F(ReadingLog, MissingCopyCommandKeepsEveryRecordInTheLog)
{
    sim::Device &sensor = sensorForCycles(18);
    sim::ProgramRun &run = start({"0"}, fiveSecondsBefore, {"TZ=UTC", "PATH=/nonexistent"});
    EXPECT_EQ(run.wait(), 1);
    EXPECT_EQ(degreesOf(recordsOf(directory() / "tmp")), range(1, 18));
    EXPECT_FALSE(fs::exists(directory() / "tmp1"));
    EXPECT_FALSE(fs::exists(directory() / "tmp1.new"));
    EXPECT_NE(run.errors().find("cp"), std::string::npos) << "the shell says what went wrong";
    EXPECT_EQ(sensor.outputs(), 18);
}

TEST_F(ReadingLog, FailedCopyIsMadeUpByTheNextOne)
{
    sensorForCycles(18);
    sim::ProgramRun &run = start({"0"}, fiveSecondsBefore, copyPlan("fail\nok\n"));
    EXPECT_EQ(run.wait(), 1);
    expectWindows(1, 18);
    EXPECT_EQ(multiplesOfTen(recordsOf(directory() / "tmp1")), 2) << "the snapshot spans the failed rotation";
    EXPECT_EQ(multiplesOfTen(recordsOf(directory() / "tmp")), 0);
}

TEST_F(ReadingLog, HalfWrittenCopyNeverReplacesTheSnapshot)
{
    sensorForCycles(18);
    sim::ProgramRun &run = start({"0"}, fiveSecondsBefore, copyPlan("ok\npartial\n"));
    EXPECT_EQ(run.wait(), 1);
    // tmp1 is still the whole first snapshot; tmp kept everything after it.
    expectWindows(1, 18);
    EXPECT_EQ(multiplesOfTen(recordsOf(directory() / "tmp1")), 1);
    EXPECT_EQ(multiplesOfTen(recordsOf(directory() / "tmp")), 1) << "the failed rotation's record stays";
}

TEST_F(ReadingLog, FullDiskIsReportedOnceAndSwitchingGoesOn)
{
    fs::create_symlink("/dev/full", directory() / "tmp");
    sim::Device &sensor = sensorForCycles(18);
    sim::ProgramRun &run = start({"0"}, fiveSecondsBefore);
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
    sim::ProgramRun &run = start({{"0"}, "", {"TZ=UTC"}, fiveSecondsBefore, geteuid() == 0 ? 65534 : -1});
    ASSERT_TRUE(run.waitForLines(3)) << run.output() << run.errors();
    fs::permissions(directory(), fs::perms::owner_all, fs::perm_options::add);
    EXPECT_EQ(run.wait(), 1);

    std::vector<std::string> lines = run.lines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0], "cannot open tmp: Permission denied");
    EXPECT_EQ(std::count(lines.begin(), lines.end(), lines[0]), 1);
    EXPECT_EQ(lines.size(), 1u + 18u + 1u);
    EXPECT_EQ(sensor.outputs(), 18);
    // Reopened at the first rotation after the directory became writable;
    // snapshots start again at the one after that.
    std::vector<Record> snapshot = recordsOf(directory() / "tmp1");
    ASSERT_FALSE(snapshot.empty());
    EXPECT_GT(snapshot.front().degrees, 1);
    expectWindows(snapshot.front().degrees, 18);
}

}  // namespace
