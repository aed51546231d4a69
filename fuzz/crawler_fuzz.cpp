// The crawler file as the renderer polls it: read whole, taken only when it
// is UTF-8, its non-blank lines joined into the one line that scrolls, with
// every other control character shown as a mark.

#include "fuzz_check.h"
#include "fuzz_input.h"
#include "media/frame_renderer.h"
#include "media/overlay_layout.h"
#include "platform/text.h"
#include "scratch_home.h"

using namespace ondaline;

namespace {

bool hasLineBreak(std::string_view text)
{
    for (const std::string_view mark : {"\n", "\r", "\v", "\f", "\u0085", "\u2028", "\u2029"}) {
        if (text.find(mark) != std::string_view::npos) return true;
    }
    return false;
}

// Anything but the tab below U+0020, DEL, or C1.
bool hasControlCharacter(std::string_view text)
{
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if ((byte < 0x20 && byte != '\t') || byte == 0x7F) return true;
        if (byte == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) < 0xA0) return true;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const std::string file = fuzz::scratchHome() + "/crawler.txt";
    const std::string_view contents = fuzz::asText(ByteView(data, size));
    fuzz::writeScratchFile(file, ByteView(data, size));

    media::FrameRenderer renderer(1280, 720);
    renderer.pollCrawlerFile(file, 0);
    const std::string text = renderer.crawlerText();
    if (!platform::isValidUTF8(contents)) {
        FUZZ_CHECK(text.empty());
        return 0;
    }
    FUZZ_CHECK(text == media::crawlerTextFromFile(platform::withControlsShown(contents, platform::LineBreaks::keep)));
    FUZZ_CHECK(platform::isValidUTF8(text));
    FUZZ_CHECK(!hasLineBreak(text));
    FUZZ_CHECK(!hasControlCharacter(text));
    // Blank lines are dropped, so a text is never only white space.
    FUZZ_CHECK(text.empty() || !platform::trimWhitespaceAndNewlines(text).empty());

    // Within the poll interval the file is not read again; after it, a file
    // gone clears the text.
    fuzz::removeScratchFile(file);
    renderer.pollCrawlerFile(file, 9.5);
    FUZZ_CHECK(renderer.crawlerText() == text);
    renderer.pollCrawlerFile(file, 10);
    FUZZ_CHECK(renderer.crawlerText().empty());
    return 0;
}
