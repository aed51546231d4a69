#include "engine/rtmp/commands.h"

#include "base/amf0_writer.h"

namespace ondaline::rtmp {

namespace {

Bytes commandStart(std::string_view name, double transactionID)
{
    Bytes out;
    appendAMF0String(out, name);
    appendAMF0Number(out, transactionID);
    return out;
}

}  // namespace

std::optional<Bytes> connectCommand(double transactionID, std::string_view app, std::string_view tcUrl)
{
    Bytes out = commandStart("connect", transactionID);
    appendAMF0ObjectStart(out);
    const bool fits = appendAMF0Property(out, "app", app) && appendAMF0Property(out, "type", "nonprivate") &&
                      appendAMF0Property(out, "flashVer", flashVersion) && appendAMF0Property(out, "tcUrl", tcUrl);
    if (!fits) return std::nullopt;
    appendAMF0ObjectEnd(out);
    return out;
}

std::optional<Bytes> streamKeyCommand(std::string_view name, double transactionID, std::string_view streamKey)
{
    Bytes out = commandStart(name, transactionID);
    appendAMF0Null(out);
    if (!appendAMF0String(out, streamKey)) return std::nullopt;
    return out;
}

Bytes createStreamCommand(double transactionID)
{
    Bytes out = commandStart("createStream", transactionID);
    appendAMF0Null(out);
    return out;
}

std::optional<Bytes> publishCommand(std::string_view streamKey)
{
    Bytes out = commandStart("publish", 0);
    appendAMF0Null(out);
    if (!appendAMF0String(out, streamKey)) return std::nullopt;
    appendAMF0String(out, "live");
    return out;
}

Bytes deleteStreamCommand(double transactionID, std::uint32_t streamID)
{
    Bytes out = commandStart("deleteStream", transactionID);
    appendAMF0Null(out);
    appendAMF0Number(out, static_cast<double>(streamID));
    return out;
}

Bytes uint32Payload(std::uint32_t value)
{
    Bytes out;
    appendUInt32BE(out, value);
    return out;
}

Bytes pingResponsePayload(std::uint32_t timestamp)
{
    Bytes out;
    appendUInt16BE(out, 7);
    appendUInt32BE(out, timestamp);
    return out;
}

}  // namespace ondaline::rtmp
