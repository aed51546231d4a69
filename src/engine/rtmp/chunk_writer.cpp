#include "engine/rtmp/chunk_writer.h"

#include <algorithm>
#include <cstdio>

namespace ondaline::rtmp {

namespace {
constexpr std::uint32_t extendedTimestampMark = 0xFFFFFF;
}

std::optional<Bytes> serializeMessage(const MessageHeader& header, ByteView payload, std::int64_t chunkSize)
{
    if (header.csID < 2 || header.csID > 63 || payload.size() > maxMessageLength || chunkSize < 1) return std::nullopt;
    const bool extended = header.timestamp >= extendedTimestampMark;
    const auto size = static_cast<std::size_t>(chunkSize);

    Bytes out;
    out.reserve(payload.size() + 64 + (payload.size() / size) * 5);
    std::size_t offset = 0;
    bool first = true;
    while (offset < payload.size()) {
        if (first) {
            appendUInt8(out, header.csID & 0x3F);
            appendUInt24BE(out, std::min(header.timestamp, extendedTimestampMark));
            appendUInt24BE(out, static_cast<std::uint32_t>(payload.size()));
            appendUInt8(out, header.typeID);
            appendUInt32LE(out, header.streamID);
            first = false;
        } else {
            appendUInt8(out, 0xC0 | (header.csID & 0x3F));
        }
        if (extended) appendUInt32BE(out, header.timestamp);
        const std::size_t part = std::min(payload.size() - offset, size);
        appendBytes(out, payload.subspan(offset, part));
        offset += part;
    }
    return out;
}

std::string describeMessage(std::int64_t index, const MessageHeader& header, ByteView payload, std::int64_t chunkSize)
{
    const auto length = static_cast<std::int64_t>(payload.size());
    const std::int64_t chunks = std::max<std::int64_t>(1,
                                                       (length + chunkSize - 1) / std::max<std::int64_t>(chunkSize, 1));
    char type[8];
    std::snprintf(type, sizeof type, "%02x", header.typeID);
    return "Ondaline: MSG[" + std::to_string(index) + "] type=0x" + type + " cs=" + std::to_string(header.csID) +
           " sid=" + std::to_string(header.streamID) + " len=" + std::to_string(length) +
           " ts=" + std::to_string(header.timestamp) + " chunks=" + std::to_string(chunks) + " first16=[" +
           hexBytes(payload, 16) + "]";
}

}  // namespace ondaline::rtmp
