#pragma once

// Reading the server's AMF0 command messages: the values of a command, and
// what a "_result", "_error" or "onStatus" asks of the publisher.

#include "base/amf0_value.h"
#include "base/bytes.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ondaline::rtmp {

// The values of a command, read until the first that does not decode.
std::vector<AMF0Value> decodeCommand(ByteView payload);

// The command name: the first value when it is a string.
std::optional<std::string> commandName(const std::vector<AMF0Value>& values);

struct ResultAction {
    enum class Kind { none, connectAccepted, streamCreated, badStreamID };
    Kind kind = Kind::none;
    std::uint32_t streamID = 0;  // for streamCreated
};

// What a "_result" means, given the transaction id of createStream (0 while
// none was sent).
ResultAction interpretResult(const std::vector<AMF0Value>& values, double createStreamTxID);

// The message of an "_error": the description of its information object,
// else "Server error".
std::string errorMessage(const std::vector<AMF0Value>& values);

// The code of an "onStatus": the first object's string entry "code".
std::optional<std::string> statusCode(const std::vector<AMF0Value>& values);

enum class StatusMeaning { publishStart, failure, informational };
StatusMeaning classifyStatus(const std::string& code);

// When the "onStatus" information object that holds the code says level
// "error": what to report, "Publish failed: <code> — <description>", with
// the likely cause of a rejected stream name. None for any other level.
std::optional<std::string> statusErrorMessage(const std::vector<AMF0Value>& values);

}  // namespace ondaline::rtmp
