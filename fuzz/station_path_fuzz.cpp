// Where the station folder is looked up, as every path of the program asks
// it: the input's parts, cut at 0xFF bytes, are the home folder's pointer
// file ".ondaline_station" and the shared preferences suite
// "com.quillmere.shared.json"; a part that is not there is a missing file.

#include "fuzz_check.h"
#include "fuzz_input.h"
#include "models/station_path.h"
#include "platform/text.h"
#include "scratch_home.h"

using namespace ondaline;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string& home = fuzz::scratchHome();
    const std::string suite = home + "/.config/com.quillmere.shared.json";
    FUZZ_CHECK(StationPath::dotFile() == home + "/.ondaline_station");

    const auto parts = fuzz::splitAtFF(ByteView(data, size), 2);
    fuzz::writeScratchFile(StationPath::dotFile(), parts[0]);
    if (parts.size() > 1) fuzz::writeScratchFile(suite, parts[1]);
    else fuzz::removeScratchFile(suite);

    const std::string station = StationPath::load();
    FUZZ_CHECK(!station.empty());
    // The pointer file wins when it holds a path.
    const std::string_view pointer = fuzz::asText(parts[0]);
    if (platform::isValidUTF8(pointer) && !platform::trimWhitespaceAndNewlines(pointer).empty()) {
        FUZZ_CHECK(station == platform::trimWhitespaceAndNewlines(pointer));
    } else if (parts.size() == 1) {
        FUZZ_CHECK(station == "/Station");
    }
    return 0;
}
