#include "platform/codec/library_log.h"

#include "platform/standard_stream.h"

extern "C" {
#include <libavutil/log.h>
}

#include <cstdarg>
#include <mutex>

namespace ondaline::platform {

namespace {

void queueLibraryLine(void* context, int level, const char* format, va_list arguments)
{
    if (level > av_log_get_level()) return;
    // Whether the next piece starts a line, and so gets the "[libx264 @ …]"
    // prefix; pieces of one line come from one thread.
    thread_local int printPrefix = 1;
    char line[1024];
    av_log_format_line2(context, level, format, arguments, line, sizeof line, &printPrefix);
    StandardStream::error().write(line);
}

}  // namespace

void routeLibraryLog()
{
    static std::once_flag routed;
    std::call_once(routed, [] {
        av_log_set_level(AV_LOG_ERROR);
        av_log_set_callback(queueLibraryLine);
    });
}

}  // namespace ondaline::platform
