#pragma once

// A member of a station's group, as the tests that share a station with one
// play her: "nobody" of "nogroup".

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

namespace ondaline::test {

inline constexpr uid_t kMember = 65534;
inline constexpr gid_t kGroup = 65534;

// Runs `work` as the member, in a child process; whether it went through.
inline bool asMember(const std::function<bool()>& work)
{
    const pid_t child = ::fork();
    if (child == 0) {
        const gid_t groups[] = {kGroup};
        if (::setgroups(1, groups) != 0 || ::setgid(kGroup) != 0 || ::setuid(kMember) != 0) ::_exit(2);
        ::_exit(work() ? 0 : 1);
    }
    int status = -1;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace ondaline::test
