#include "report/file_replace.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

static bool writeAll(int fd, const char *text, size_t length)
{
    while (length > 0) {
        ssize_t n = write(fd, text, length);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC;
            return false;
        }
        text += n;
        length -= size_t(n);
    }
    return true;
}

// The rename is only on disk once the directory that holds it is.
static bool syncDirectoryOf(const char *file)
{
    std::string path = file;
    size_t slash = path.rfind('/');
    std::string directory = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    int fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool synced = fsync(fd) == 0;
    close(fd);
    return synced;
}

bool fileReplace(const char *file, const char *text, size_t length, bool durable)
{
    char beside[PATH_MAX];
    if (snprintf(beside, sizeof beside, "%s.new", file) >= int(sizeof beside)) {
        errno = ENAMETOOLONG;
        return false;
    }
    int fd = open(beside, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    // node_exporter runs as another user: readable by all, whatever our umask.
    bool written = fchmod(fd, 0644) == 0 && writeAll(fd, text, length) && (!durable || fsync(fd) == 0);
    written = close(fd) == 0 && written;
    if (written && rename(beside, file) == 0)
        return !durable || syncDirectoryOf(file);
    int error = errno;
    unlink(beside);
    errno = error;
    return false;
}
