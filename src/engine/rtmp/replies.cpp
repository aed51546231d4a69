#include "engine/rtmp/replies.h"

#include "base/amf0_reader.h"

#include <cmath>

namespace ondaline::rtmp {

std::vector<AMF0Value> decodeCommand(ByteView payload)
{
    std::vector<AMF0Value> values;
    std::int64_t offset = 0;
    while (offset < static_cast<std::int64_t>(payload.size())) {
        auto read = readAMF0Value(payload, offset);
        if (!read) break;
        values.push_back(std::move(read->value));
        offset += read->consumed;
    }
    return values;
}

std::optional<std::string> commandName(const std::vector<AMF0Value>& values)
{
    if (values.empty()) return std::nullopt;
    return values[0].stringValue();
}

ResultAction interpretResult(const std::vector<AMF0Value>& values, double createStreamTxID)
{
    if (values.size() < 2) return {};
    const double transactionID = values[1].numberValue().value_or(0);
    if (transactionID == 1) return {ResultAction::Kind::connectAccepted};
    if (transactionID != createStreamTxID || createStreamTxID <= 0 || values.size() < 4) return {};
    const auto number = values[3].numberValue();
    if (!number) return {};
    // The fraction is dropped; what cannot be a 32-bit stream id is refused.
    if (!std::isfinite(*number) || *number <= -1 || *number >= 4294967296.0) return {ResultAction::Kind::badStreamID};
    return {ResultAction::Kind::streamCreated, static_cast<std::uint32_t>(std::trunc(*number) + 0.0)};
}

std::string errorMessage(const std::vector<AMF0Value>& values)
{
    if (values.size() >= 4) {
        if (const auto* info = values[3].objectValue()) {
            if (const auto found = info->find("description"); found != info->end()) {
                if (auto text = found->second.stringValue()) return *text;
            }
        }
    }
    return "Server error";
}

std::optional<std::string> statusCode(const std::vector<AMF0Value>& values)
{
    for (const auto& value : values) {
        const auto* object = value.objectValue();
        if (!object) continue;
        const auto found = object->find("code");
        if (found == object->end()) continue;
        if (auto code = found->second.stringValue()) return code;
    }
    return std::nullopt;
}

std::optional<std::string> statusErrorMessage(const std::vector<AMF0Value>& values)
{
    for (const auto& value : values) {
        const auto* object = value.objectValue();
        if (!object) continue;
        const auto text = [object](const char* key) -> std::optional<std::string> {
            const auto found = object->find(key);
            return found == object->end() ? std::nullopt : found->second.stringValue();
        };
        const auto code = text("code");
        if (!code) continue;
        if (text("level") != "error") return std::nullopt;
        std::string message = "Publish failed: " + *code;
        if (const auto description = text("description"); description && !description->empty()) {
            message += " — " + *description;
        }
        if (*code == "NetStream.Publish.BadName") message += " (the stream key is rejected or already in use)";
        return message;
    }
    return std::nullopt;
}

StatusMeaning classifyStatus(const std::string& code)
{
    if (code == "NetStream.Publish.Start") return StatusMeaning::publishStart;
    for (const char* word : {"Failed", "Denied", "Error"}) {
        if (code.find(word) != std::string::npos) return StatusMeaning::failure;
    }
    return StatusMeaning::informational;
}

}  // namespace ondaline::rtmp
