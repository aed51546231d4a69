#pragma once

// What every test run on this machine shares, whoever runs it and from
// whichever checkout, is taken in turn through a lock file in /tmp: the
// TCP input's fixed port and the start of a virtual display. The same files
// are taken from the shell by tests/support/machine_lock.sh.

#include <string>

namespace ondaline::test {

// /tmp/ondaline-<name>.lock: not TMPDIR, which is each run's own.
std::string machineLockFile(const std::string& name);

class MachineLock {
public:
    // Takes `file`, waiting while another run holds it and saying so on
    // standard error, with `what` for what it guards. Made readable and
    // writable by every user whatever the umask; one another user made is
    // opened as it is. Throws std::runtime_error, with a message for the
    // person running the tests, when the file cannot be opened.
    MachineLock(const std::string& file, const std::string& what);
    ~MachineLock();  // lets the next run have it

    MachineLock(const MachineLock&) = delete;
    MachineLock& operator=(const MachineLock&) = delete;

private:
    int fd_ = -1;
};

}  // namespace ondaline::test
