#include "support/log_capture.h"

#include "base/activity_log.h"

#include <algorithm>

namespace ondaline::test {

namespace {
constexpr std::size_t stampLength = 15;  // "[HH:mm:ss.SSS] "
}

LogCapture::LogCapture() : start_(ActivityLog::shared().allText().size()) {}

namespace {

bool startsWithStamp(const std::string& line)
{
    return line.size() >= stampLength && line[0] == '[' && line[13] == ']' && line[14] == ' ';
}

}  // namespace

// Whole messages: a line without a time stamp continues the message before it.
std::vector<std::string> LogCapture::messages() const
{
    const std::string text = ActivityLog::shared().allText();
    std::vector<std::string> result;
    std::size_t pos = start_;
    while (pos < text.size()) {
        if (text[pos] == '\n') ++pos;
        const std::size_t end = std::min(text.find('\n', pos), text.size());
        const std::string line = text.substr(pos, end - pos);
        if (startsWithStamp(line) || result.empty()) {
            result.push_back(startsWithStamp(line) ? line.substr(stampLength) : line);
        } else {
            result.back() += "\n" + line;
        }
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
