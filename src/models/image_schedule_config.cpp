#include "models/image_schedule_config.h"

#include "models/settings_codec.h"
#include "models/station_path.h"
#include "platform/files.h"
#include "platform/text.h"

#include <ctime>
#include <filesystem>
#include <system_error>

namespace ondaline {

namespace {

// Keeps a settings file that does not decode under a time-stamped name, so
// the save that follows does not destroy what the user had.
void keepUndecodableFileAside(const std::string& file)
{
    const auto text = platform::readFile(file);
    if (!text || decodeSettings(*text)) return;

    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    const std::string base = file + ".unreadable-" + stamp;

    std::error_code error;
    std::string aside = base;
    for (int n = 2; std::filesystem::exists(aside, error) && n < 100; ++n) aside = base + "-" + std::to_string(n);
    std::filesystem::rename(file, aside, error);
}

}  // namespace

std::string ImageScheduleConfig::configDir() { return StationPath::load() + "/Misc/System/Streamer"; }

std::string ImageScheduleConfig::configFile() { return configDir() + "/ondaline_schedule.json"; }

std::string ImageScheduleConfig::streamKeyFile() { return configDir() + "/ondaline_key"; }

void ImageScheduleConfig::ensureDirectory()
{
    std::error_code error;
    const std::string dir = configDir();
    if (!std::filesystem::exists(dir, error)) std::filesystem::create_directories(dir, error);
}

ImageScheduleConfig ImageScheduleConfig::load()
{
    ensureDirectory();
    const auto text = platform::readFile(configFile());
    if (!text) return {};
    return decodeSettings(*text).value_or(ImageScheduleConfig{});
}

void ImageScheduleConfig::save() const
{
    ensureDirectory();
    const auto json = encodeSettings(*this);
    if (!json) return;
    const std::string file = configFile();
    keepUndecodableFileAside(file);
    (void)platform::writeFileAtomically(file, *json);
}

std::string ImageScheduleConfig::readStreamKeyFile()
{
    const auto text = platform::readFile(streamKeyFile());
    if (!text || !platform::isValidUTF8(*text)) return {};
    return std::string(platform::trimWhitespaceAndNewlines(*text));
}

std::optional<std::string> ImageScheduleConfig::currentImagePath() const
{
    return currentImagePath(std::chrono::system_clock::now());
}

std::optional<std::string> ImageScheduleConfig::currentImagePath(std::chrono::system_clock::time_point now) const
{
    // The offset is elapsed time, so across a daylight-saving change the
    // wall clock moves by the change as well. An offset that leaves the
    // calendar's range is ignored.
    const std::time_t current = std::chrono::system_clock::to_time_t(now);
    std::time_t shifted;
    std::int64_t offsetSeconds;
    std::tm local{};
    const bool inRange = !__builtin_mul_overflow(hourOffset, std::int64_t{3600}, &offsetSeconds) &&
                         !__builtin_add_overflow(current, offsetSeconds, &shifted) && localtime_r(&shifted, &local);
    if (!inRange) localtime_r(&current, &local);

    const std::int64_t weekday = local.tm_wday + 1;  // 1 = Sunday
    for (const auto& entry : entries) {
        if (entry.dayOfWeek == weekday && entry.isActive(local.tm_hour, local.tm_min)) return entry.imagePath;
    }
    if (!defaultImagePath.empty()) return defaultImagePath;
    return std::nullopt;
}

}  // namespace ondaline
