#include "base/print.h"

#include "base/activity_log.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <mutex>

namespace ondaline {

namespace {

std::mutex standardOutputLock;        // keeps lines from different threads whole
std::atomic<bool> readerGone{false};  // set by the first broken pipe

}  // namespace

void writeStandardOutput(std::string_view text)
{
    if (readerGone.load(std::memory_order_relaxed)) return;
    const std::lock_guard lock(standardOutputLock);
    while (!text.empty()) {
        const ssize_t n = ::write(STDOUT_FILENO, text.data(), text.size());
        if (n >= 0) {
            text.remove_prefix(static_cast<std::size_t>(n));
        } else if (errno == EPIPE) {
            readerGone.store(true, std::memory_order_relaxed);
            return;
        } else if (errno != EINTR) {
            return;  // closed, full and non-blocking, out of space: the line is dropped
        }
    }
}

void ignoreBrokenPipeSignal() { ::signal(SIGPIPE, SIG_IGN); }

}  // namespace ondaline

namespace ondaline::detail {

std::string describeDouble(double value)
{
    if (std::isnan(value)) return "nan";
    if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
    char text[64];
    const auto [end, ec] = std::to_chars(text, text + sizeof text, value);
    std::string result(text, ec == std::errc() ? end : text);
    if (result.find_first_of(".e") == std::string::npos) result += ".0";
    return result;
}

void emitLine(const std::string& message, std::string_view terminator)
{
    std::string out = message;
    out.append(terminator);
    writeStandardOutput(out);
    ActivityLog::shared().append(message);
}

}  // namespace ondaline::detail
