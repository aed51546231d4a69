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

// Moves `file` to "<file>.<label>-<local time stamp>", appending "-2",
// "-3", ... while that name is taken. True when the file was moved.
bool moveAsideWithStamp(const std::string& file, const char* label)
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    const std::string base = file + "." + label + "-" + stamp;

    std::error_code error;
    std::string aside = base;
    for (int n = 2; std::filesystem::exists(aside, error) && n < 100; ++n) aside = base + "-" + std::to_string(n);
    std::filesystem::rename(file, aside, error);
    return !error;
}

// Keeps a settings file that does not decode under a time-stamped name, so
// the save that follows does not destroy what the user had. False when such
// a file is still in the way.
bool keepUndecodableFileAside(const std::string& file)
{
    const auto text = platform::readFile(file);
    if (!text || decodeSettings(*text)) return true;
    return moveAsideWithStamp(file, "unreadable");
}

// Keeps whatever file is at `file` under a time-stamped name: it belongs to
// another station than the record being saved. False when it is still in
// the way.
bool keepReplacedFileAside(const std::string& file)
{
    std::error_code error;
    if (!std::filesystem::exists(file, error)) return !error;
    return moveAsideWithStamp(file, "replaced");
}

// The path with symbolic links, "." and ".." resolved as far as it exists;
// the path as given when that fails.
std::string resolvedPath(const std::string& path)
{
    std::error_code error;
    auto resolved = std::filesystem::weakly_canonical(path, error);
    return error ? path : resolved.string();
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
    const std::string file = configFile();
    const auto text = platform::readFile(file);
    auto config = text ? decodeSettings(*text).value_or(ImageScheduleConfig{}) : ImageScheduleConfig{};
    // Resolved now, so that a station folder reached through a link that is
    // later pointed elsewhere still counts as another file.
    config.origin.file = resolvedPath(file);
    return config;
}

void ImageScheduleConfig::save() const
{
    ensureDirectory();
    const auto json = encodeSettings(*this);
    if (!json) return;
    const std::string file = configFile();
    const std::string target = resolvedPath(file);
    const bool replacing = !origin.file.empty() && resolvedPath(origin.file) != target;
    if (!(replacing ? keepReplacedFileAside(file) : keepUndecodableFileAside(file))) return;
    if (platform::writeFileAtomically(file, *json)) origin.file = target;
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
