#pragma once

#include <sys/types.h>

#include <functional>
#include <string>

namespace ondaline::test {

struct NobodyResult {
    int exitCode = -1;    // 1 when `body` threw
    std::string message;  // what `body` returned, or the exception's text
};

// Runs `body` in a child process as the user nobody, under `umask`: what
// another user's run does. Needs root.
NobodyResult asNobody(const std::function<std::string()>& body, mode_t umask = 022);

// A sticky folder `name` that every user may write in, as /tmp is, below
// this run's own folder; empty when the user nobody cannot reach it (TMPDIR
// below a closed folder).
std::string sharedFolder(const std::string& name);

}  // namespace ondaline::test
