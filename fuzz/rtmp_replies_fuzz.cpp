// An AMF0 command message from the server, as the engine handles it: the
// values decoded, then by name a "_result" interpreted against the
// createStream transaction, an "_error" turned into the user's message, an
// "onStatus" code classified. Every interpretation also runs whatever the
// name, since a server may send any of them at any time.

#include "base/amf0_reader.h"
#include "engine/rtmp/replies.h"
#include "fuzz_check.h"
#include "platform/text.h"

#include <cmath>

using namespace ondaline;

namespace {

void checkResult(const std::vector<AMF0Value>& values, double createStreamTxID)
{
    const auto action = rtmp::interpretResult(values, createStreamTxID);
    using Kind = rtmp::ResultAction::Kind;
    if (action.kind == Kind::none) return;
    FUZZ_CHECK(values.size() >= 2);
    if (action.kind == Kind::connectAccepted) {
        FUZZ_CHECK(values[1].numberValue() == 1.0);
        return;
    }
    FUZZ_CHECK(createStreamTxID > 0 && values[1].numberValue() == createStreamTxID && values.size() >= 4);
    const auto number = values[3].numberValue();
    FUZZ_CHECK(number);
    if (action.kind == Kind::streamCreated) {
        FUZZ_CHECK(std::isfinite(*number));
        FUZZ_CHECK(static_cast<double>(action.streamID) == std::trunc(*number) + 0.0);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const ByteView payload(data, size);
    const auto values = rtmp::decodeCommand(payload);

    // decodeCommand stops at the first value that does not decode.
    std::int64_t offset = 0;
    for (const auto& value : values) {
        const auto read = readAMF0Value(payload, offset);
        FUZZ_CHECK(read && read->value.kind() == value.kind());
        offset += read->consumed;
    }
    FUZZ_CHECK(offset <= static_cast<std::int64_t>(size));
    FUZZ_CHECK(offset == static_cast<std::int64_t>(size) || !readAMF0Value(payload, offset));

    const auto name = rtmp::commandName(values);
    FUZZ_CHECK(name.has_value() == (!values.empty() && values[0].kind() == AMF0Value::Kind::string));

    // 0 while no createStream was sent; then the transaction id it used.
    for (const double transaction : {0.0, 1.0, 2.0, 4.0, -1.0}) checkResult(values, transaction);
    if (values.size() >= 2) {
        if (const auto id = values[1].numberValue()) checkResult(values, *id);
    }

    const std::string message = rtmp::errorMessage(values);
    FUZZ_CHECK(platform::isValidUTF8(message));

    if (const auto code = rtmp::statusCode(values)) {
        FUZZ_CHECK(platform::isValidUTF8(*code));
        const auto meaning = rtmp::classifyStatus(*code);
        FUZZ_CHECK(meaning != rtmp::StatusMeaning::publishStart || *code == "NetStream.Publish.Start");
    }
    return 0;
}
