#include "base/activity_log.h"

#include <benchmark/benchmark.h>

namespace {

// One append once the log is full: format the time, lock, push one line and
// drop the oldest. No main executor, so no post.
void BM_ActivityLogAppendWhenFull(benchmark::State& state)
{
    auto log = std::make_shared<ondaline::ActivityLog>();
    for (int i = 0; i < ondaline::ActivityLog::maxLines; ++i) log->append("Ondaline: warming up the log");
    for (auto _ : state) log->append("Ondaline: 📊 THROUGHPUT [30s] 1.2 Mbit/s");
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ActivityLogAppendWhenFull);

// The full text the dashboard copies: 5000 lines joined.
void BM_ActivityLogAllTextFull(benchmark::State& state)
{
    auto log = std::make_shared<ondaline::ActivityLog>();
    for (int i = 0; i < ondaline::ActivityLog::maxLines; ++i) log->append("Ondaline: a typical line of the log");
    for (auto _ : state) benchmark::DoNotOptimize(log->allText());
}
BENCHMARK(BM_ActivityLogAllTextFull);

}  // namespace
