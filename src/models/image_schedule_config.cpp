#include "models/image_schedule_config.h"

#include "models/settings_codec.h"
#include "models/station_path.h"
#include "platform/files.h"
#include "platform/text.h"

#include <ctime>
#include <filesystem>
#include <system_error>
#include <variant>

namespace ondaline {

namespace {

// Moves `file` to "<file>.<label>-<local time stamp>", appending "-2",
// "-3", ... while that name is taken. The copy's path, or the error.
std::variant<std::string, std::error_code> moveAsideWithStamp(const std::string& file, const char* label)
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    const std::string base = file + "." + label + "-" + stamp;

    std::error_code error;
    std::string aside = base;
    for (int n = 2; std::filesystem::exists(std::filesystem::symlink_status(aside, error)) && n < 100; ++n) {
        aside = base + "-" + std::to_string(n);
    }
    std::filesystem::rename(file, aside, error);
    if (error) return error;
    return aside;
}

// Why a settings file would give less than it holds; empty when it was read
// and decoded in full, or when there is none.
struct FileVerdict {
    std::string problem;
    bool scheduleOnly = false;
    std::optional<ImageScheduleConfig> config;
};

FileVerdict judgeSettingsFile(const std::string& file)
{
    const platform::FileRead read = platform::readRegularFile(file);
    if (read.problem == platform::FileProblem::missing) return {};
    auto unused = [](std::string problem) { return FileVerdict{std::move(problem), false, std::nullopt}; };
    if (!read.contents) {
        return unused(read.problem == platform::FileProblem::unreadable ? "cannot be read (" + read.reason() + ")"
                                                                        : read.reason());
    }
    auto decoded = decodeSettingsReporting(*read.contents);
    if (!decoded) return unused("does not decode");
    if (decoded->scheduleDropped) return {"an image schedule entry does not decode", true, std::move(decoded->config)};
    return {{}, false, std::move(decoded->config)};
}

// The path with symbolic links, "." and ".." resolved as far as it exists;
// the path as given when that fails.
std::string resolvedPath(const std::string& path)
{
    std::error_code error;
    auto resolved = std::filesystem::weakly_canonical(path, error);
    return error ? path : resolved.string();
}

// Where a save of `file` writes: through a symbolic link to its target, so
// the link stays a link. Absent for a link that leads nowhere.
std::optional<std::string> saveTarget(const std::string& file)
{
    std::error_code error;
    if (!std::filesystem::is_symlink(std::filesystem::symlink_status(file, error))) return resolvedPath(file);
    auto target = std::filesystem::canonical(file, error);
    if (error) return std::nullopt;
    return target.string();
}

SettingsSave failedSave(std::string file, std::string failure)
{
    return {.written = false, .file = std::move(file), .failure = std::move(failure), .keptAside = {}};
}

}  // namespace

std::string ImageScheduleConfig::configDir() { return StationPath::streamerFolder(); }

std::string ImageScheduleConfig::configFile() { return configDir() + "/ondaline_schedule.json"; }

std::string ImageScheduleConfig::streamKeyFile() { return configDir() + "/ondaline_key"; }

std::error_code ImageScheduleConfig::ensureDirectory()
{
    std::error_code error;
    const std::string dir = configDir();
    if (!std::filesystem::exists(dir, error)) std::filesystem::create_directories(dir, error);
    return error;
}

ImageScheduleConfig ImageScheduleConfig::load() { return loadReporting().config; }

SettingsLoad ImageScheduleConfig::loadReporting()
{
    (void)ensureDirectory();
    const std::string file = configFile();
    FileVerdict verdict = judgeSettingsFile(file);
    SettingsLoad result{verdict.config.value_or(ImageScheduleConfig{}), file, std::move(verdict.problem),
                        verdict.scheduleOnly};
    // Resolved now, so that a station folder reached through a link that is
    // later pointed elsewhere still counts as another file.
    result.config.origin.file = resolvedPath(file);
    result.config.origin.notUsedInFull = !result.problem.empty();
    return result;
}

SettingsSave ImageScheduleConfig::save() const
{
    const std::string file = configFile();
    if (const auto error = ensureDirectory()) {
        return failedSave(file, "cannot create " + configDir() + " (" + error.message() + ")");
    }
    const auto json = encodeSettings(*this);
    if (!json) return failedSave(file, "a setting is not a finite number");
    const auto target = saveTarget(file);
    if (!target) return failedSave(file, file + " is a symbolic link to a missing file");

    SettingsSave result{.written = false, .file = *target, .failure = {}, .keptAside = {}};
    const bool replacing = !origin.file.empty() && resolvedPath(origin.file) != *target;
    std::error_code presence;
    const bool present = std::filesystem::exists(std::filesystem::symlink_status(*target, presence));
    const bool keepAside = present &&
                           (replacing || origin.notUsedInFull || !judgeSettingsFile(*target).problem.empty());
    if (keepAside) {
        auto moved = moveAsideWithStamp(*target, replacing ? "replaced" : "unreadable");
        if (const auto* error = std::get_if<std::error_code>(&moved)) {
            return failedSave(*target, "cannot keep the earlier file aside (" + error->message() + ")");
        }
        result.keptAside = std::get<std::string>(moved);
    }
    if (const auto error = platform::writeFileAtomically(*target, *json)) {
        result.failure = "cannot write in " + platform::folderOf(*target) + " (" + error.message() + ")";
        return result;
    }
    origin = {.file = *target, .notUsedInFull = false};
    result.written = true;
    return result;
}

std::string ImageScheduleConfig::readStreamKeyFile(std::string* unusable)
{
    const std::string file = streamKeyFile();
    const platform::FileRead read = platform::readRegularFile(file);
    if (!read.contents) {
        if (unusable && read.problem != platform::FileProblem::missing) *unusable = file + ": " + read.reason();
        return {};
    }
    if (!platform::isValidUTF8(*read.contents)) return {};
    return std::string(platform::trimWhitespaceAndNewlines(*read.contents));
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
