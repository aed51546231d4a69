// Printing while standard output is not read, and long after: it fills the
// shared activity log past its cap, so it has a process of its own.

#include "base/activity_log.h"
#include "base/print.h"
#include "platform/standard_stream.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <condition_variable>
#include <future>
#include <mutex>
#include <sstream>
#include <thread>

using ondaline::ActivityLog;
using ondaline::print;
using ondaline::platform::StandardStream;
using namespace std::chrono_literals;

namespace {

std::string numberedLine(int i)
{
    std::string line = "line " + std::to_string(i) + " ";
    line.resize(150, '.');
    return line;
}

// Standard output swapped for a pipe for the life of the object.
class StandardOutputInto {
public:
    explicit StandardOutputInto(int fd) : saved_(dup(STDOUT_FILENO)) { dup2(fd, STDOUT_FILENO); }
    ~StandardOutputInto()
    {
        dup2(saved_, STDOUT_FILENO);
        close(saved_);
    }

private:
    const int saved_;
};

}  // namespace

// Standard output a pipe that is full and not read (a paused terminal, a
// pager nobody scrolls): printing goes on at once, the activity log has
// every line, and once the reader takes output again it gets what the queue
// held, in order and whole, then how many lines it missed.
TEST(Print, NeverWaitsOnAReaderThatStopsReading)
{
    constexpr int lines = 10000;  // 1.5 MB: more than the queue holds
    ASSERT_TRUE(StandardStream::output().flush(10s));
    int ends[2];
    ASSERT_EQ(pipe2(ends, O_CLOEXEC | O_NONBLOCK), 0);
    std::size_t filler = 0;
    const std::array<char, 4096> block{};
    for (ssize_t n; (n = write(ends[1], block.data(), block.size())) > 0;) filler += static_cast<std::size_t>(n);
    for (const int end : ends) fcntl(end, F_SETFL, 0);

    std::string received;
    std::thread reader;
    bool returnedInTime = false;
    {
        const StandardOutputInto stalled(ends[1]);
        close(ends[1]);
        auto printing = std::async(std::launch::async, [] {
            for (int i = 0; i < lines; ++i) print(numberedLine(i));
        });
        // Seconds for what takes milliseconds; a write that waits on this
        // reader would wait for ever.
        returnedInTime = printing.wait_for(20s) == std::future_status::ready;

        // The reader comes back.
        reader = std::thread([&] {
            std::array<char, 65536> buffer;
            for (ssize_t n; (n = read(ends[0], buffer.data(), buffer.size())) > 0;)
                received.append(buffer.data(), static_cast<std::size_t>(n));
        });
        printing.wait();
        EXPECT_TRUE(StandardStream::output().flush(30s));
    }
    reader.join();  // at the end of the pipe, now that standard output has let go of it
    close(ends[0]);
    ASSERT_TRUE(returnedInTime) << "print waited on the reader";

    // Every line reached the log, as far as it keeps lines.
    std::istringstream logged(ActivityLog::shared().allText());
    std::vector<std::string> logLines;
    for (std::string line; std::getline(logged, line);) logLines.push_back(line);
    ASSERT_GE(logLines.size(), 4000u);
    for (int i = 0; i < 4000; ++i)
        ASSERT_EQ(logLines[logLines.size() - 4000 + i].substr(15), numberedLine(lines - 4000 + i));

    // The reader's share: the filler, the lines the queue held, the count.
    ASSERT_GE(received.size(), filler);
    std::istringstream output(received.substr(filler));
    std::vector<std::string> outputLines;
    for (std::string line; std::getline(output, line);) outputLines.push_back(line);
    ASSERT_GE(outputLines.size(), 2u);
    const int written = static_cast<int>(outputLines.size()) - 1;
    for (int i = 0; i < written; ++i) ASSERT_EQ(outputLines[i], numberedLine(i));
    EXPECT_EQ(outputLines.back(), "Ondaline: " + std::to_string(lines - written) +
                                      " lines were not written to standard output while it was not read — see the "
                                      "Activity page");
    EXPECT_LT(written, lines);
    EXPECT_GT(written * 150, static_cast<int>(StandardStream::capacityBytes / 2));
}

// A reader that keeps up, between rounds of printing at least: more than the
// queue holds goes through it over the program's life, and the last round
// arrives whole, as the first did, with no word of lines missed.
TEST(Print, ReachesItsReaderLongAfterTheQueuesWorthHasGoneThrough)
{
    constexpr int rounds = 4, perRound = 2500;  // 375 kB a round, 1.5 MB in all
    static_assert(perRound * 150 < StandardStream::capacityBytes);
    static_assert(rounds * perRound * 150 > StandardStream::capacityBytes);
    const std::string missedNote = "not written to standard output";
    ASSERT_TRUE(StandardStream::output().flush(10s));
    int ends[2];
    ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);

    std::mutex lock;
    std::condition_variable arrived;
    std::string received;
    std::thread reader([&] {
        std::array<char, 65536> buffer;
        for (ssize_t n; (n = read(ends[0], buffer.data(), buffer.size())) > 0;) {
            const std::lock_guard held(lock);
            received.append(buffer.data(), static_cast<std::size_t>(n));
            arrived.notify_all();
        }
    });
    int roundsArrived = 0;
    {
        const StandardOutputInto read(ends[1]);
        close(ends[1]);
        for (int round = 0; round < rounds; ++round) {
            for (int i = 0; i < perRound; ++i) print(numberedLine(round * perRound + i));
            // Its last line, or the word that lines were dropped instead.
            const std::string last = numberedLine((round + 1) * perRound - 1) + "\n";
            std::unique_lock held(lock);
            arrived.wait_for(held, 5s, [&] {
                return received.find(last) != std::string::npos || received.find(missedNote) != std::string::npos;
            });
            if (received.find(last) == std::string::npos) break;
            ++roundsArrived;
        }
    }
    reader.join();  // at the end of the pipe, now that standard output has let go of it
    close(ends[0]);

    EXPECT_EQ(roundsArrived, rounds) << received.substr(received.size() - std::min<std::size_t>(received.size(), 400));
    std::istringstream output(received);
    int line = 0;
    for (std::string text; std::getline(output, text); ++line) ASSERT_EQ(text, numberedLine(line));
    EXPECT_EQ(line, rounds * perRound);
}
