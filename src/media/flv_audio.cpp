#include "media/flv_audio.h"

#include "base/amf0_writer.h"

namespace ondaline::media {

Bytes aacSequenceHeaderBody(ByteView audioSpecificConfig)
{
    Bytes body{flvAACTag, aacSequenceHeader};
    appendBytes(body, audioSpecificConfig);
    return body;
}

Bytes aacPacketBody(ByteView packet)
{
    Bytes body;
    body.reserve(packet.size() + 2);
    body.push_back(flvAACTag);
    body.push_back(aacRawPacket);
    appendBytes(body, packet);
    return body;
}

Bytes onMetaDataBody(std::int64_t audioBitrate, double sampleRate, std::uint32_t channels)
{
    Bytes body;
    appendAMF0String(body, "@setDataFrame");
    appendAMF0String(body, "onMetaData");
    appendAMF0ECMAArrayStart(body, 15);
    appendAMF0Property(body, "duration", 0.0);
    appendAMF0Property(body, "hasAudio", true);
    appendAMF0Property(body, "hasVideo", true);
    appendAMF0Property(body, "videocodecid", 7.0);
    appendAMF0Property(body, "videodatarate", 1200.0);
    appendAMF0Property(body, "width", 1280.0);
    appendAMF0Property(body, "height", 720.0);
    appendAMF0Property(body, "framerate", 24000.0 / 1001.0);
    appendAMF0Property(body, "audiocodecid", 10.0);
    appendAMF0Property(body, "audiodatarate", static_cast<double>(audioBitrate / 1000));
    appendAMF0Property(body, "audiosamplerate", sampleRate);
    appendAMF0Property(body, "audiosamplesize", 16.0);
    appendAMF0Property(body, "audiochannels", static_cast<double>(channels));
    appendAMF0Property(body, "stereo", channels >= 2);
    appendAMF0Property(body, "encoder", "Ondaline 1.0.26");
    appendAMF0ECMAArrayEnd(body);
    return body;
}

}  // namespace ondaline::media
