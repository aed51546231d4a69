// The Icecast server's answer to a metadata update, as the engine reads it:
// one read of at most 1024 bytes, then the line the log shows.

#include "engine/icecast/icecast_protocol.h"
#include "fuzz_check.h"
#include "fuzz_input.h"
#include "platform/text.h"

using namespace ondaline;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view received = fuzz::asText(ByteView(data, size)).substr(0, 1024);
    const auto reply = icecast::judgeMetadataReply(received);
    FUZZ_CHECK(reply.has_value() == platform::isValidUTF8(received));
    if (!reply) return 0;
    FUZZ_CHECK(reply->updated == (received.find("200") != std::string_view::npos));
    if (reply->updated) return 0;
    FUZZ_CHECK(received.starts_with(reply->excerpt));
    FUZZ_CHECK(reply->excerpt.size() <= 80 * 4);
    // The excerpt goes into the activity log, which holds UTF-8 text.
    FUZZ_CHECK(platform::isValidUTF8(reply->excerpt));
    return 0;
}
