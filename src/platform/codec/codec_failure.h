#pragma once

#include <string>

namespace ondaline::platform {

// Why an encoder could not be made.
struct CodecFailure {
    int status;  // the library's error code, or -1 for settings it cannot take
    std::string reason;
};

// libavutil's text for one of its error codes.
std::string describeAVError(int status);

}  // namespace ondaline::platform
