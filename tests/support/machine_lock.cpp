#include "support/machine_lock.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ondaline::test {

namespace {

// Read-only is enough for flock. An existing file is opened without
// O_CREAT: in a sticky folder the kernel refuses O_CREAT on another user's
// file (fs.protected_regular), even when it would not create it. Anything
// but a plain file there (a link to nowhere, a FIFO that would block the
// open) is refused, not followed or waited on.
int openShared(const std::string& file)
{
    constexpr int flags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    for (int attempt = 0; attempt < 100; ++attempt) {
        int fd = ::open(file.c_str(), flags);
        if (fd < 0 && errno == ENOENT) {
            fd = ::open(file.c_str(), flags | O_CREAT | O_EXCL, 0666);
            if (fd >= 0) ::fchmod(fd, 0666);     // the umask took bits away
            else if (errno == EEXIST) continue;  // another run made it first
        }
        if (fd < 0) return -1;
        struct stat status {};
        if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode)) return fd;
        ::close(fd);
        errno = EINVAL;
        return -1;
    }
    errno = ELOOP;  // made and gone again and again
    return -1;
}

std::string whyNot(const std::string& file, int error)
{
    std::string message = "cannot open " + file +
                          ", the lock every test run on this machine takes in turn: " + std::strerror(error);
    struct stat status {};
    if (::stat(file.c_str(), &status) == 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", status.st_mode & 07777);
        message += " (it belongs to uid " + std::to_string(status.st_uid) + ", mode " + mode +
                   "); its owner or root can remove it, and the next run makes it anew for every user";
    }
    return message;
}

}  // namespace

std::string machineLockFile(const std::string& name)
{
    return "/tmp/ondaline-" + name + ".lock";  // machine-wide: shared by every user's runs
}

MachineLock::MachineLock(const std::string& file, const std::string& what) : fd_(openShared(file))
{
    if (fd_ < 0) throw std::runtime_error(whyNot(file, errno));
    if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) return;
    std::fprintf(stderr, "waiting for %s: another test on this machine holds %s\n", what.c_str(), file.c_str());
    while (::flock(fd_, LOCK_EX) != 0) {
        if (errno == EINTR) continue;
        const int error = errno;
        ::close(fd_);
        throw std::runtime_error("cannot take " + file + ": " + std::strerror(error));
    }
}

MachineLock::~MachineLock() { ::close(fd_); }

}  // namespace ondaline::test
