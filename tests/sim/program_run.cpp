#include "program_run.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <semaphore.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <set>
#include <sstream>
#include <stdexcept>

#ifndef UMOCKDEV_PRELOAD
#define UMOCKDEV_PRELOAD "libumockdev-preload.so.0"
#endif
#ifndef FAKETIME_LIBRARY
#define FAKETIME_LIBRARY "libfaketime.so.1"
#endif
#ifndef FAST_SLEEP_LIBRARY
#error FAST_SLEEP_LIBRARY must name the sleep shim
#endif
#ifndef THREAD_SIGNAL_MASK_LIBRARY
#error THREAD_SIGNAL_MASK_LIBRARY must name the signal mask shim
#endif

namespace sim {

// libfaketime keeps its stepping clock in a semaphore and a shared memory
// object named after the pid. Those of a process killed before its cleanup
// ran outlive it, and a later process given that pid then silently gets the
// real clock. So a run clears them before it starts and once it is reaped.
static void removeFaketimeObjects(pid_t pid)
{
    char name[64];
    snprintf(name, sizeof name, "/faketime_sem_%ld", long(pid));
    sem_unlink(name);
    snprintf(name, sizeof name, "/faketime_shm_%ld", long(pid));
    shm_unlink(name);
}

// libfaketime gives up on a stepping clock without a word when it cannot
// make its shared objects (a /dev/shm that the user may not write), and
// hands out the real clock. A test that counts on the fake clock would then
// fail for a reason that looks like a fault of the program, so the clock is
// tried once for each user a test runs as, and a failure says why.
static void checkFakeClock(int user)
{
    static std::mutex mutex;
    static std::set<int> checked;
    std::lock_guard lock(mutex);
    if (checked.count(user) != 0)
        return;
    int out[2];
    if (pipe(out) != 0)
        abort();
    pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        removeFaketimeObjects(getpid());
        if (user >= 0 && (setgroups(0, nullptr) != 0 || setgid(gid_t(user)) != 0 || setuid(uid_t(user)) != 0))
            _exit(126);
        setenv("LD_PRELOAD", FAKETIME_LIBRARY, 1);
        setenv("FAKETIME", "@2000-01-01 00:00:00 i1", 1);
        setenv("TZ", "UTC", 1);
        execlp("date", "date", "+%Y", static_cast<char *>(nullptr));
        _exit(127);
    }
    close(out[1]);
    char year[16] = {};
    ssize_t n = read(out[0], year, sizeof year - 1);
    close(out[0]);
    waitpid(pid, nullptr, 0);
    removeFaketimeObjects(pid);
    if (n < 4 || strncmp(year, "2000", 4) != 0)
        throw std::runtime_error(
            "libfaketime gives the real clock to a run as uid " + std::to_string(user) +
            " (most likely it cannot create its semaphore and shared memory in /dev/shm, which wants mode 1777): "
            "this test needs the stepped clock, so what it checks would be wrong");
    checked.insert(user);
}

ProgramRun::ProgramRun(const std::string &program, const RunOptions &options)
{
    if (!options.faketime.empty())
        checkFakeClock(options.user);
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)
        abort();
    // Resolved before the child changes directory.
    std::vector<std::string> argv{program.find('/') == std::string::npos
                                      ? program
                                      : std::filesystem::absolute(program).string()};
    argv.insert(argv.end(), options.args.begin(), options.args.end());
    std::string preload = std::string(UMOCKDEV_PRELOAD) + ":" + THREAD_SIGNAL_MASK_LIBRARY;
    if (options.fastSleep)  // ahead of libfaketime's own sleep()
        preload += std::string(":") + FAST_SLEEP_LIBRARY;
    if (!options.faketime.empty())
        preload += std::string(":") + FAKETIME_LIBRARY;

    pid_ = fork();
    if (pid_ == 0) {
        dup2(out[1], 1);
        dup2(err[1], 2);
        int devnull = open("/dev/null", O_RDONLY);
        dup2(devnull, 0);
        if (!options.directory.empty() && chdir(options.directory.c_str()) != 0)
            _exit(126);
        if (!options.faketime.empty())  // while still allowed to remove another user's
            removeFaketimeObjects(getpid());
        if (options.user >= 0 &&
            (setgroups(0, nullptr) != 0 || setgid(gid_t(options.user)) != 0 || setuid(uid_t(options.user)) != 0))
            _exit(126);
        setenv("LD_PRELOAD", preload.c_str(), 1);
        if (!options.faketime.empty()) {
            setenv("FAKETIME", options.faketime.c_str(), 1);
            setenv("FAKETIME_NO_CACHE", "1", 1);
        }
        if (options.journalStream) {
            struct stat stream;
            fstat(1, &stream);
            setenv("JOURNAL_STREAM", (std::to_string(stream.st_dev) + ":" + std::to_string(stream.st_ino)).c_str(), 1);
        }
        for (const std::string &e : options.environment)
            putenv(strdup(e.c_str()));
        std::vector<char *> av;
        for (std::string &a : argv)
            av.push_back(a.data());
        av.push_back(nullptr);
        execvp(av[0], av.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    reader_ = std::thread([this, o = out[0], e = err[0]] { pump(o, e); });
}

ProgramRun::~ProgramRun()
{
    if (!reaped_)
        wait(0);
    if (reader_.joinable())
        reader_.join();
}

void ProgramRun::pump(int out, int err)
{
    pollfd fds[2] = {{out, POLLIN, 0}, {err, POLLIN, 0}};
    int open = 2;
    while (open > 0) {
        if (poll(fds, 2, -1) < 0)
            break;
        for (pollfd &p : fds) {
            if (p.fd < 0 || p.revents == 0)
                continue;
            char buffer[4096];
            ssize_t n = read(p.fd, buffer, sizeof buffer);
            if (n <= 0) {
                close(p.fd);
                p.fd = -1;
                --open;
                continue;
            }
            std::lock_guard lock(mutex_);
            (p.fd == out ? out_ : err_).append(buffer, size_t(n));
            changed_.notify_all();
        }
    }
    std::lock_guard lock(mutex_);
    closed_ = true;
    changed_.notify_all();
}

bool ProgramRun::waitForLines(size_t lines, int timeoutMs)
{
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        size_t count = 0;
        for (char c : out_)
            count += c == '\n';
        return count >= lines || closed_;
    }) && std::count(out_.begin(), out_.end(), '\n') >= std::ptrdiff_t(lines);
}

int ProgramRun::wait(int timeoutMs)
{
    if (reaped_)
        return status_;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int status = 0;
    pid_t done = 0;
    while ((done = waitpid(pid_, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    bool timedOut = done == 0;
    if (timedOut) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
    }
    reaped_ = true;
    removeFaketimeObjects(pid_);
    if (reader_.joinable())
        reader_.join();
    status_ = timedOut ? -1 : WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return status_;
}

void ProgramRun::signal(int number)
{
    if (!reaped_)
        kill(pid_, number);
}

std::string ProgramRun::output()
{
    std::lock_guard lock(mutex_);
    return out_;
}

std::vector<std::string> ProgramRun::lines()
{
    std::vector<std::string> all;
    std::istringstream in(output());
    for (std::string line; std::getline(in, line);)
        all.push_back(line);
    return all;
}

std::string ProgramRun::errors()
{
    std::lock_guard lock(mutex_);
    return err_;
}

}  // namespace sim
