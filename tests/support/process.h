#pragma once

#include <string>

namespace ondaline::test {

struct CommandResult {
    int exitCode = -1;
    std::string output;  // standard output and standard error together
};

// Runs a shell command and waits for it.
CommandResult runCommand(const std::string& command);

// Quotes a value for a POSIX shell.
std::string shellQuote(const std::string& value);

}  // namespace ondaline::test
