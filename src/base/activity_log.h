#pragma once

#include "platform/dispatch/main_executor.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace ondaline {

// The program-wide session log, kept in memory for the dashboard's activity
// view: a header line, then one time-stamped line per diagnostic, at most
// maxLines of them (the oldest go first).
//
// The program uses the one log of shared(); separate instances serve tests.
class ActivityLog : public std::enable_shared_from_this<ActivityLog> {
public:
    using WallClock = std::function<std::chrono::system_clock::time_point()>;

    static constexpr std::int64_t maxLines = 5000;

    static ActivityLog& shared();

    // Starts the log with its header line, dated by `clock`.
    explicit ActivityLog(WallClock clock = std::chrono::system_clock::now);

    ActivityLog(const ActivityLog&) = delete;
    ActivityLog& operator=(const ActivityLog&) = delete;

    // Adds "[HH:mm:ss.SSS] " + message, then posts one task to the main
    // executor that calls onNewEntry as it is when the task runs.
    void append(std::string_view message);

    // Every stored line, joined by "\n", with no line break after the last.
    std::string allText() const;

    void setOnNewEntry(std::function<void()> callback);

    // Where onNewEntry runs. Until one is set, appends notify no one.
    void setMainExecutor(std::shared_ptr<platform::MainExecutor> executor);

private:
    void notifyNewEntry();

    const WallClock clock_;
    const std::chrono::system_clock::time_point startDate_;

    mutable std::mutex lock_;
    std::deque<std::string> lines_;

    // Guards the callback and the executor, which the main thread sets while
    // other threads log.
    mutable std::mutex observerLock_;
    std::function<void()> onNewEntry_;
    std::shared_ptr<platform::MainExecutor> mainExecutor_;
};

// "HH:mm:ss.SSS" in the local time zone.
std::string formatLogTime(std::chrono::system_clock::time_point time);
// "yyyy-MM-dd HH:mm:ss zzz" in the local time zone, zzz its short name.
std::string formatLogDate(std::chrono::system_clock::time_point time);

}  // namespace ondaline
