// The Icecast server's answer to SOURCE, judged as the engine judges it:
// at most the first 4096 bytes, refused unless UTF-8, the header logged
// trimmed, the verdict taken from the status line. The raw bytes are judged
// too, since judgeReply itself asks for no UTF-8.

#include "engine/icecast/icecast_protocol.h"
#include "fuzz_check.h"
#include "fuzz_input.h"
#include "platform/text.h"

#include <algorithm>

using namespace ondaline;

namespace {

constexpr std::size_t replyLimit = 4096;  // what the engine reads of a reply
constexpr std::string_view rejectedPrefix = "Icecast: Server rejected connection — ";

void checkVerdict(std::string_view reply, const icecast::Reply& verdict, bool utf8)
{
    using Verdict = icecast::Reply::Verdict;
    if (verdict.verdict == Verdict::accepted) {
        FUZZ_CHECK(verdict.message.empty());
        FUZZ_CHECK(reply.find(" 200") != std::string_view::npos);
        return;
    }
    FUZZ_CHECK(!verdict.message.empty());
    if (verdict.verdict != Verdict::rejected) return;
    // The first 100 characters of the reply follow the fixed text.
    FUZZ_CHECK(verdict.message.starts_with(rejectedPrefix));
    const std::string_view excerpt = std::string_view(verdict.message).substr(rejectedPrefix.size());
    FUZZ_CHECK(reply.starts_with(excerpt));
    if (utf8) {
        FUZZ_CHECK(excerpt.size() <= 400);
        FUZZ_CHECK(platform::isValidUTF8(verdict.message));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view raw = fuzz::asText(ByteView(data, size));
    checkVerdict(raw, icecast::judgeReply(raw), false);

    const std::string_view reply = raw.substr(0, replyLimit);
    if (reply.empty() || !platform::isValidUTF8(reply)) return 0;  // "Empty response from server"
    const auto end = icecast::headerEnd(reply);
    FUZZ_CHECK(!end || (*end <= reply.size() && *end >= 2));
    const std::string_view logged = platform::trimWhitespaceAndNewlines(reply.substr(0, end.value_or(reply.size())));
    FUZZ_CHECK(platform::isValidUTF8(logged));
    checkVerdict(reply, icecast::judgeReply(reply), true);
    return 0;
}
