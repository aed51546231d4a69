#include "support/background_harness.h"

#include "support/process.h"
#include "support/run_folder.h"

#include <cstdio>
#include <fstream>

namespace ondaline::test {

BackgroundHarness::BackgroundHarness(const std::string& name, const std::string& command)
    : outputFile_(runFolder() / ("harness-" + name + ".log")), pidFile_(runFolder() / ("harness-" + name + ".pid"))
{
    // In the background of its shell, which notes its process id.
    const std::string redirected = "{ " + command + " & echo $! > " + shellQuote(pidFile_) + "; wait $!; } > " +
                                   shellQuote(outputFile_) + " 2>&1";
    thread_ = std::thread([this, redirected] { exitCode_ = runCommand(redirected).exitCode; });
}

BackgroundHarness::~BackgroundHarness()
{
    if (thread_.joinable()) thread_.join();
    std::filesystem::remove(outputFile_);
    std::filesystem::remove(pidFile_);
}

std::string BackgroundHarness::output() const
{
    std::ifstream in(outputFile_);
    return {std::istreambuf_iterator<char>(in), {}};
}

pid_t BackgroundHarness::pid() const
{
    for (int i = 0; i < 100; ++i) {
        std::ifstream in(pidFile_);
        pid_t pid = 0;
        if (in >> pid && pid > 0) return pid;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return 0;
}

bool BackgroundHarness::waitFor(const std::string& text, std::chrono::seconds limit, int times) const
{
    using Clock = std::chrono::steady_clock;
    for (const auto giveUp = Clock::now() + limit; Clock::now() < giveUp;) {
        if (occurrences(output(), text) >= times) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

int BackgroundHarness::finish()
{
    if (thread_.joinable()) thread_.join();
    return exitCode_;
}

int occurrences(const std::string& text, const std::string& what)
{
    int count = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
    return count;
}

std::optional<long> peakRSSKB(const std::string& output)
{
    const auto at = output.find("harness: peak RSS ");
    long kB = 0;
    if (at == std::string::npos || std::sscanf(output.c_str() + at, "harness: peak RSS %ld kB", &kB) != 1) {
        return std::nullopt;
    }
    return kB;
}

double secondsLive(const std::string& output, double otherwise)
{
    const auto at = output.find("harness: sources stopped ");
    double seconds = 0;
    if (at == std::string::npos ||
        std::sscanf(output.c_str() + at, "harness: sources stopped %lf s after the first sound went out", &seconds) !=
            1) {
        return otherwise;
    }
    return seconds;
}

}  // namespace ondaline::test
