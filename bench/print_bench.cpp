#include "base/print.h"
#include "platform/standard_stream.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <thread>

namespace {

using ondaline::platform::StandardStream;

// Standard output swapped for `fd` while the object lives; what is queued
// has reached it before it goes.
class StandardOutputSwapped {
public:
    explicit StandardOutputSwapped(int fd) : saved_(::dup(STDOUT_FILENO))
    {
        StandardStream::output().flush(std::chrono::seconds(10));
        ::dup2(fd, STDOUT_FILENO);
    }
    ~StandardOutputSwapped()
    {
        StandardStream::output().flush(std::chrono::seconds(10));
        ::dup2(saved_, STDOUT_FILENO);
        ::close(saved_);
    }

private:
    const int saved_;
};

constexpr char line[] = "Ondaline: 📊 THROUGHPUT [30s] 1.2 Mbit/s";

// One print with a reader that keeps up: the line queued, the activity log's
// append, the writer thread woken.
void BM_PrintWhileStandardOutputFlows(benchmark::State& state)
{
    const int devNull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    {
        const StandardOutputSwapped swapped(devNull);
        for (auto _ : state) ondaline::print(line);
    }
    ::close(devNull);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PrintWhileStandardOutputFlows);

// The same with standard output a full pipe nobody reads, as a terminal
// paused with Ctrl+S: the queue fills, then lines are counted and dropped.
void BM_PrintWhileStandardOutputIsStalled(benchmark::State& state)
{
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return state.SkipWithError("no pipe");
    const std::array<char, 4096> filler{};
    while (::write(ends[1], filler.data(), filler.size()) > 0) {
    }
    for (const int end : ends) ::fcntl(end, F_SETFL, 0);
    std::thread reader;
    {
        const StandardOutputSwapped swapped(ends[1]);
        ::close(ends[1]);
        for (auto _ : state) ondaline::print(line);
        // The reader comes back, so that the writer can let go of the pipe.
        reader = std::thread([fd = ends[0]] {
            std::array<char, 65536> buffer;
            while (::read(fd, buffer.data(), buffer.size()) > 0) {
            }
        });
    }
    reader.join();
    ::close(ends[0]);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PrintWhileStandardOutputIsStalled);

}  // namespace
