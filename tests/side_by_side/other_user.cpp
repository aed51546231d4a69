#include "other_user.h"

#include "support/run_folder.h"

#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

namespace ondaline::test {

NobodyResult asNobody(const std::function<std::string()>& body, mode_t umask)
{
    int pipe[2];
    if (::pipe(pipe) != 0) return {-1, "no pipe"};
    const pid_t child = ::fork();
    if (child == 0) {
        // Nothing of the parent's stays open here, its locks least of all.
        if (pipe[1] > 3) ::close_range(3, pipe[1] - 1, 0);
        ::close_range(pipe[1] + 1, ~0U, 0);
        std::string message;
        int code = 0;
        if (::setgroups(0, nullptr) != 0 || ::setresgid(65534, 65534, 65534) != 0 ||
            ::setresuid(65534, 65534, 65534) != 0) {
            message = "could not become nobody";
            code = 2;
        } else {
            ::umask(umask);
            try {
                message = body();
            } catch (const std::exception& e) {
                message = e.what();
                code = 1;
            }
        }
        [[maybe_unused]] const auto written = ::write(pipe[1], message.data(), message.size());
        ::_exit(code);
    }
    ::close(pipe[1]);
    NobodyResult result;
    char buffer[512];
    for (ssize_t n; (n = ::read(pipe[0], buffer, sizeof buffer)) > 0;) result.message.append(buffer, std::size_t(n));
    ::close(pipe[0]);
    int status = 0;
    if (child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
    return result;
}

std::string sharedFolder(const std::string& name)
{
    namespace fs = std::filesystem;
    fs::permissions(runFolder(), fs::perms::others_exec, fs::perm_options::add);
    const fs::path folder = runFolder() / name;
    fs::create_directories(folder);
    fs::permissions(folder, fs::perms::all | fs::perms::sticky_bit);
    const auto reached = asNobody([&] { return std::string(::access(folder.c_str(), W_OK | X_OK) == 0 ? "yes" : ""); });
    return reached.message == "yes" ? folder.string() : std::string();
}

}  // namespace ondaline::test
