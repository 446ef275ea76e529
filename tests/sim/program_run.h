// Runs the real tempswitch binary as a child of the test process, which
// plays the kernel: the child inherits UMOCKDEV_DIR and gets umockdev's
// preload (and libfaketime when a fake clock is asked for).
#pragma once

#include <sys/types.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace sim {

struct RunOptions {
    std::vector<std::string> args = {};  // after the program name
    std::string directory = {};          // working directory; "" keeps the test's
    std::vector<std::string> environment = {};  // NAME=value, added or replaced
    std::string faketime = {};           // FAKETIME for libfaketime; "" for the real clock
    bool fastSleep = false;              // sleep() lasts a twentieth of the time asked
    int user = -1;                       // uid (and gid) to run as; -1 keeps ours
    bool journalStream = false;          // $JOURNAL_STREAM names standard output, as under systemd
};

class ProgramRun {
public:
    ProgramRun(const std::string &program, const RunOptions &options);
    ~ProgramRun();
    ProgramRun(const ProgramRun &) = delete;
    ProgramRun &operator=(const ProgramRun &) = delete;

    pid_t pid() const { return pid_; }
    // Waits until standard output holds at least this many lines.
    bool waitForLines(size_t lines, int timeoutMs = 20000);
    // Waits for the exit: the status, 128 + signal, or -1 after a timeout
    // (the child is then killed).
    int wait(int timeoutMs = 30000);
    void signal(int number);

    std::string output();  // every byte of standard output so far
    std::vector<std::string> lines();
    std::string errors();  // standard error

private:
    void pump(int out, int err);
    pid_t pid_ = -1;
    bool reaped_ = false;
    int status_ = -1;
    std::thread reader_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::string out_, err_;
    bool closed_ = false;
};

}  // namespace sim
