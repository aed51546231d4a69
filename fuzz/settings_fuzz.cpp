// The settings folder's files as the program reads them: the input up to
// its first 0xFF byte is the settings file "ondaline_schedule.json" (JSON
// has no 0xFF), the rest, when there is a 0xFF, the stream-key file. The
// loaded record must be what decoding the text gives, must survive a save
// and a load unchanged, and must answer the image schedule.

#include "fuzz_check.h"
#include "fuzz_input.h"
#include "models/image_schedule_config.h"
#include "models/settings_codec.h"
#include "models/station_path.h"
#include "platform/text.h"
#include "scratch_home.h"

#include <chrono>

using namespace ondaline;

namespace {

void useScratchStation()
{
    static const bool done = [] {
        StationPath::save(fuzz::scratchHome() + "/station");
        ImageScheduleConfig::ensureDirectory();
        return true;
    }();
    (void)done;
}

void checkSchedule(const ImageScheduleConfig& config)
{
    using namespace std::chrono;
    // A Sunday 00:00, a Wednesday noon and a Saturday 23:59 in UTC, the
    // epoch, and near the ends of the clock's nanosecond range.
    for (const std::int64_t seconds : {1704585600LL, 1704888000LL, 1705190340LL, 0LL, -9000000000LL, 9000000000LL}) {
        const auto path = config.currentImagePath(system_clock::time_point(std::chrono::seconds(seconds)));
        if (!path) {
            FUZZ_CHECK(config.defaultImagePath.empty());
            continue;
        }
        bool known = *path == config.defaultImagePath;
        for (const auto& entry : config.entries) known = known || *path == entry.imagePath;
        FUZZ_CHECK(known);
    }
    for (const auto& entry : config.entries) {
        FUZZ_CHECK(!entry.dayName().empty());
        (void)entry.isActive(0, 0);
        (void)entry.isActive(23, 59);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    useScratchStation();
    const auto parts = fuzz::splitAtFF(ByteView(data, size), 2);

    fuzz::writeScratchFile(ImageScheduleConfig::configFile(), parts[0]);
    const ImageScheduleConfig loaded = ImageScheduleConfig::load();
    const auto decoded = decodeSettings(fuzz::asText(parts[0]));
    FUZZ_CHECK(loaded == decoded.value_or(ImageScheduleConfig{}));

    if (decoded) {
        // What save would write reads back as the same record.
        if (const auto encoded = encodeSettings(*decoded)) {
            FUZZ_CHECK(platform::isValidUTF8(*encoded));
            const auto again = decodeSettings(*encoded);
            FUZZ_CHECK(again && *again == *decoded);
            FUZZ_CHECK(encodeSettings(*again) == encoded);
        }
    }
    checkSchedule(loaded);

    if (parts.size() > 1) {
        fuzz::writeScratchFile(ImageScheduleConfig::streamKeyFile(), parts[1]);
    } else {
        fuzz::removeScratchFile(ImageScheduleConfig::streamKeyFile());
    }
    const std::string key = ImageScheduleConfig::readStreamKeyFile();
    FUZZ_CHECK(platform::isValidUTF8(key));
    FUZZ_CHECK(key == platform::trimWhitespaceAndNewlines(key));
    if (parts.size() > 1 && platform::isValidUTF8(fuzz::asText(parts[1]))) {
        FUZZ_CHECK(fuzz::asText(parts[1]).find(key) != std::string_view::npos);
    } else {
        FUZZ_CHECK(key.empty());
    }
    return 0;
}
