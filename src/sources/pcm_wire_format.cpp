#include "sources/pcm_wire_format.h"

namespace ondaline::sources {

PCMHandshake PCMHandshake::read(ByteView bytes)
{
    return {readUInt32LE(bytes, 0).value_or(0), readUInt32LE(bytes, 4).value_or(0), readUInt32LE(bytes, 8).value_or(0)};
}

bool PCMHandshake::isAcceptable() const
{
    return sampleRate >= minSampleRate && sampleRate <= maxSampleRate && channels >= 1 && channels <= maxChannels &&
           format == floatFormat;
}

}  // namespace ondaline::sources
