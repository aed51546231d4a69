#include "platform/standard_descriptors.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <initializer_list>

namespace ondaline::platform {

void openClosedStandardDescriptors()
{
    for (const int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        // Without close-on-exec: the programs this one starts get it too.
        const int opened = ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
        // The lower numbers are open by now, so open() gives this one.
        if (opened > fd) {
            ::dup2(opened, fd);
            ::close(opened);
        }
    }
}

}  // namespace ondaline::platform
