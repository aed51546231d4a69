#include "support/log_capture.h"

#include "engine/activity_log.h"

#include <algorithm>

namespace ondaline::test {

namespace {
constexpr std::size_t stampLength = 15;  // "[HH:mm:ss.SSS] "
}

LogCapture::LogCapture() : start_(ActivityLog::shared().allText().size()) {}

std::vector<std::string> LogCapture::messages() const
{
    const std::string text = ActivityLog::shared().allText();
    std::vector<std::string> result;
    std::size_t pos = start_;
    while (pos < text.size()) {
        if (text[pos] == '\n') ++pos;
        const std::size_t end = std::min(text.find('\n', pos), text.size());
        const std::string line = text.substr(pos, end - pos);
        result.push_back(line.size() >= stampLength ? line.substr(stampLength) : line);
        pos = end;
    }
    return result;
}

bool LogCapture::contains(const std::string& message) const
{
    const auto all = messages();
    return std::find(all.begin(), all.end(), message) != all.end();
}

}  // namespace ondaline::test
