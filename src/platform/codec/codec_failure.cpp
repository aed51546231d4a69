#include "platform/codec/codec_failure.h"

extern "C" {
#include <libavutil/error.h>
}

namespace ondaline::platform {

std::string describeAVError(int status)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(status, text, sizeof text);
    return text;
}

}  // namespace ondaline::platform
