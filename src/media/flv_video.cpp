#include "media/flv_video.h"

#include <algorithm>

namespace ondaline::media {

std::optional<Bytes> avcDecoderConfigurationRecord(ByteView sps, ByteView pps)
{
    if (sps.size() < 4 || sps.size() > 0xFFFF || pps.empty() || pps.size() > 0xFFFF) return std::nullopt;
    Bytes record{1, sps[1], sps[2], sps[3], 0xFF, 0xE1};
    appendUInt16BE(record, static_cast<std::uint16_t>(sps.size()));
    appendBytes(record, sps);
    appendUInt8(record, 1);
    appendUInt16BE(record, static_cast<std::uint16_t>(pps.size()));
    appendBytes(record, pps);
    return record;
}

Bytes videoTagBody(bool keyFrame, std::uint8_t packetType, ByteView data)
{
    Bytes body(5 + data.size());
    body[0] = keyFrame ? 0x17 : 0x27;
    body[1] = packetType;  // bytes 2 to 4: composition time 0
    std::copy(data.begin(), data.end(), body.begin() + 5);
    return body;
}

}  // namespace ondaline::media
