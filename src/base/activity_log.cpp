#include "base/activity_log.h"

#include <cstdio>
#include <ctime>

namespace ondaline {

namespace {

struct LocalTime {
    std::tm fields{};
    int milliseconds = 0;
};

LocalTime toLocal(std::chrono::system_clock::time_point time)
{
    using namespace std::chrono;
    const auto sinceEpoch = time.time_since_epoch();
    auto seconds = duration_cast<std::chrono::seconds>(sinceEpoch);
    auto millis = duration_cast<milliseconds>(sinceEpoch - seconds).count();
    if (millis < 0) {  // before 1970: keep the milliseconds positive
        seconds -= std::chrono::seconds(1);
        millis += 1000;
    }
    LocalTime local;
    const std::time_t t = static_cast<std::time_t>(seconds.count());
    localtime_r(&t, &local.fields);
    local.milliseconds = static_cast<int>(millis);
    return local;
}

}  // namespace

std::string formatLogTime(std::chrono::system_clock::time_point time)
{
    const LocalTime local = toLocal(time);
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", local.fields.tm_hour, local.fields.tm_min,
                  local.fields.tm_sec, local.milliseconds);
    return text;
}

std::string formatLogDate(std::chrono::system_clock::time_point time)
{
    const LocalTime local = toLocal(time);
    char text[96];
    const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S %Z", &local.fields);
    return std::string(text, n);
}

ActivityLog& ActivityLog::shared()
{
    // Never released: threads may log until the very end of the process.
    static const auto* const log = new std::shared_ptr<ActivityLog>(std::make_shared<ActivityLog>());
    return **log;
}

ActivityLog::ActivityLog(WallClock clock) : clock_(std::move(clock)), startDate_(clock_())
{
    lines_.push_back("═══ Ondaline Session Log — " + formatLogDate(startDate_) + " ═══");
}

void ActivityLog::append(std::string_view message)
{
    std::string line = "[" + formatLogTime(clock_()) + "] ";
    line.append(message);
    {
        std::lock_guard guard(lock_);
        lines_.push_back(std::move(line));
        if (static_cast<std::int64_t>(lines_.size()) > maxLines) {
            lines_.erase(lines_.begin(), lines_.begin() + (static_cast<std::int64_t>(lines_.size()) - maxLines));
        }
    }
    notifyNewEntry();
}

void ActivityLog::notifyNewEntry()
{
    std::shared_ptr<platform::MainExecutor> executor;
    {
        std::lock_guard guard(observerLock_);
        executor = mainExecutor_;
    }
    if (!executor) return;
    executor->post([weakLog = weak_from_this()] {
        const auto log = weakLog.lock();
        if (!log) return;
        std::function<void()> callback;
        {
            std::lock_guard guard(log->observerLock_);
            callback = log->onNewEntry_;
        }
        if (callback) callback();
    });
}

std::string ActivityLog::allText() const
{
    std::lock_guard guard(lock_);
    std::string text;
    std::size_t total = lines_.size();
    for (const auto& line : lines_) total += line.size();
    text.reserve(total);
    bool first = true;
    for (const auto& line : lines_) {
        if (!first) text += '\n';
        text += line;
        first = false;
    }
    return text;
}

void ActivityLog::setOnNewEntry(std::function<void()> callback)
{
    std::lock_guard guard(observerLock_);
    onNewEntry_ = std::move(callback);
}

void ActivityLog::setMainExecutor(std::shared_ptr<platform::MainExecutor> executor)
{
    std::lock_guard guard(observerLock_);
    mainExecutor_ = std::move(executor);
}

}  // namespace ondaline
