#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>

#include <sys/types.h>

namespace ondaline::test {

// A harness command run in the background, so that a test can act while it
// streams; what it prints goes to a file that is read back.
class BackgroundHarness {
public:
    // `name` tells this run's output file apart from other runs'.
    BackgroundHarness(const std::string& name, const std::string& command);
    ~BackgroundHarness();  // waits for the command

    BackgroundHarness(const BackgroundHarness&) = delete;
    BackgroundHarness& operator=(const BackgroundHarness&) = delete;

    std::string output() const;

    // The process id of the command, for signals: the harness's own where
    // the command starts it with no `timeout` before it. 0 when the shell
    // has not said within a few seconds.
    pid_t pid() const;

    // Waits until `text` has been printed `times` times; false after `limit`.
    bool waitFor(const std::string& text, std::chrono::seconds limit = std::chrono::seconds(60), int times = 1) const;

    // Waits for the command and gives its exit code.
    int finish();

private:
    std::filesystem::path outputFile_;
    std::filesystem::path pidFile_;
    int exitCode_ = -1;
    std::thread thread_;
};

// How often `what` stands in `text`.
int occurrences(const std::string& text, const std::string& what);

// The harness's "peak RSS N kB" line, in kB; absent when it did not print one.
std::optional<long> peakRSSKB(const std::string& output);

// How long the harness's sources sounded on air, from where the stream's
// sound began (its clock's start, which the first audio packet's stamp of
// 0 ms stands for) to stopping them: on a busy machine sound from a sender
// that was already connected goes out a while before the run's time
// starts. `otherwise` where it did not say.
double secondsLive(const std::string& output, double otherwise);

// How far the recorded sound's span may stray from that: the last sound
// can run ahead of the clock, some goes out while the sources stop, and
// the log dates each line only when it gets to it; on two busy cores they
// differed by up to 0.13 s. The faults it guards are larger: a held-up
// source's sound lost or made up twice (0.3 s), a format read at the
// wrong rate.
constexpr double kSoundingSpanTolerance = 0.2;

}  // namespace ondaline::test
