#include "base/print.h"

#include "base/activity_log.h"
#include "platform/standard_stream.h"
#include "platform/text.h"

#include <signal.h>

#include <charconv>
#include <cmath>

namespace ondaline {

void writeStandardOutput(std::string_view text) { platform::StandardStream::output().write(text); }

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

void emitLine(const std::string& message, const PrintFormat& format)
{
    const std::string shown = platform::withControlsShown(message, format.keepLineBreaks ? platform::LineBreaks::keep
                                                                                         : platform::LineBreaks::mark);
    std::string out = shown;
    out.append(format.terminator);
    writeStandardOutput(out);
    ActivityLog::shared().append(shown);
}

}  // namespace ondaline::detail
