#include "models/image_schedule_config.h"

#include "models/kept_aside_copies.h"
#include "models/settings_codec.h"
#include "models/station_path.h"
#include "platform/file_protections.h"
#include "platform/files.h"
#include "platform/path_walk.h"
#include "platform/staged_file.h"
#include "platform/text.h"

#include <sys/stat.h>

#include <ctime>
#include <filesystem>
#include <system_error>
#include <variant>

namespace ondaline {

namespace {

// Older temporary files of the settings file were left by saves that were
// interrupted: a save takes milliseconds.
constexpr std::chrono::seconds kLeftoverAge{60};

// Why a settings file would give less than it holds; empty when it was read
// and decoded in full, or when there is none.
struct FileVerdict {
    std::string problem;
    bool scheduleOnly = false;
    std::optional<ImageScheduleConfig> config;
};

FileVerdict judgeSettingsFile(const platform::FileRead& read)
{
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

// What a read found at the settings file's path; absent when it could not
// be read, so that nothing can be said of it.
std::optional<ImageScheduleConfig::Contents> contentsOf(const platform::FileRead& read)
{
    if (read.problem == platform::FileProblem::missing) return ImageScheduleConfig::Contents{};
    if (!read.contents) return std::nullopt;
    return ImageScheduleConfig::Contents::of(*read.contents);
}

// The path with symbolic links, "." and ".." resolved as far as it exists;
// the path as given when that fails.
std::string resolvedPath(const std::string& path)
{
    std::error_code error;
    auto resolved = std::filesystem::weakly_canonical(path, error);
    return error ? path : resolved.string();
}

constexpr std::string_view kFileName = "/ondaline_schedule.json";

// The settings folder (`name` empty) or a file in it, as the station folder
// now names it, and where it leads.
struct SettingsPlace {
    std::string path;
    platform::PathWalk walk;
};

SettingsPlace settingsPlace(std::string_view name)
{
    const std::string station = StationPath::load();
    const std::string below = StationPath::streamerFolder("") + std::string(name);
    return {station + below, platform::walkBelow(station, below)};
}

// Another user's link met on the way: "a link owned by …, not followed".
std::string notFollowed(const platform::PathWalk& walk)
{
    return "a link owned by " + platform::userName(walk.otherUsersLinkOwner) + ", not followed";
}

// Where the walk led; absent where it led nowhere or was refused.
std::optional<std::string> targetOf(const platform::PathWalk& walk)
{
    if (walk.path.empty()) return std::nullopt;
    return walk.path;
}

// What reading a file gives where the walk to it ended.
platform::FileRead readWalkedFile(const platform::PathWalk& walk)
{
    if (!walk.path.empty()) return platform::readRegularFile(walk.path);
    platform::FileRead read;
    const bool missing = walk.nowhere == std::errc::no_such_file_or_directory ||
                         walk.nowhere == std::errc::not_a_directory;
    read.problem = missing ? platform::FileProblem::missing : platform::FileProblem::unreadable;
    read.error = walk.nowhere;
    return read;
}

// Why a save may not put a new file in the place of the one at `target`;
// empty when it may.
std::string saveRefusal(const std::string& target)
{
    struct stat info {};
    if (::lstat(target.c_str(), &info) != 0) return {};
    // A file its owner made read-only asks not to be changed.
    if ((info.st_mode & S_IWUSR) == 0) return target + " is read-only";
    if (const auto owner = platform::soleUserAllowedToReplace(target))
        return target + " belongs to " + *owner + " and this folder lets only its owner replace it";
    return {};
}

SettingsSave failedSave(std::string file, std::string failure, std::string linkNotFollowed = {})
{
    return {.written = false,
            .file = std::move(file),
            .failure = std::move(failure),
            .keptAside = {},
            .editedElsewhere = false,
            .linkNotFollowed = std::move(linkNotFollowed)};
}

}  // namespace

ImageScheduleConfig::Contents ImageScheduleConfig::Contents::of(std::string_view bytes)
{
    return {.present = true, .size = bytes.size(), .hash = std::hash<std::string_view>{}(bytes)};
}

std::string ImageScheduleConfig::configDir() { return StationPath::streamerFolder(); }

std::string ImageScheduleConfig::configFile() { return configDir() + std::string(kFileName); }

std::string ImageScheduleConfig::streamKeyFile() { return configDir() + "/ondaline_key"; }

std::error_code ImageScheduleConfig::ensureDirectory()
{
    const platform::PathWalk walk = settingsPlace({}).walk;
    // Not ours to make: the settings file is not used while that link is there.
    if (!walk.otherUsersLink.empty()) return {};
    if (walk.path.empty()) return walk.nowhere;
    std::error_code error;
    if (!std::filesystem::exists(walk.path, error)) std::filesystem::create_directories(walk.path, error);
    return error;
}

ImageScheduleConfig ImageScheduleConfig::load() { return loadReporting().config; }

SettingsLoad ImageScheduleConfig::loadReporting()
{
    (void)ensureDirectory();
    const SettingsPlace place = settingsPlace(kFileName);
    const std::string& file = place.path;
    SettingsLoad result;
    result.file = file;
    if (const std::string& link = place.walk.otherUsersLink; !link.empty()) {
        // Nothing is read, removed or even listed where that link leads.
        const std::string why = notFollowed(place.walk);
        result.problem = link == file ? "is " + why : "is reached through " + link + ", " + why;
        result.saveRefused = link + " is " + why;
        result.linkNotFollowed = link;
        result.config.origin = {.file = file, .notUsedInFull = true, .contents = std::nullopt};
        return result;
    }
    const auto target = targetOf(place.walk);
    const platform::FileRead read = readWalkedFile(place.walk);
    FileVerdict verdict = judgeSettingsFile(read);
    result.config = verdict.config.value_or(ImageScheduleConfig{});
    result.problem = std::move(verdict.problem);
    result.scheduleOnly = verdict.scheduleOnly;
    if (target) {
        result.removedLeftovers = platform::StagedFile::removeLeftovers(*target, kLeftoverAge);
        result.saveRefused = saveRefusal(*target);
    }
    if (read.problem == platform::FileProblem::missing)
        result.keptAsideCopy = newestKeptAsideCopy(target.value_or(file));
    // Resolved now, so that a station folder reached through a link that is
    // later pointed elsewhere still counts as another file.
    result.config.origin = {.file = target.value_or(resolvedPath(file)),
                            .notUsedInFull = !result.problem.empty(),
                            .contents = contentsOf(read)};
    return result;
}

SettingsSave ImageScheduleConfig::save() const
{
    if (const auto error = ensureDirectory()) {
        return failedSave(configFile(), "cannot create " + configDir() + " (" + error.message() + ")");
    }
    const auto json = encodeSettings(*this);
    if (!json) return failedSave(configFile(), "a setting is not a finite number");
    const SettingsPlace place = settingsPlace(kFileName);
    const std::string& file = place.path;
    if (const std::string& link = place.walk.otherUsersLink; !link.empty())
        return failedSave(file, link + " is " + notFollowed(place.walk), link);
    const auto target = targetOf(place.walk);
    if (!target) return failedSave(file, file + " is a symbolic link to a missing file");

    const platform::FileRead onDisk = platform::readRegularFile(*target);
    const bool present = onDisk.problem != platform::FileProblem::missing;
    const bool replacing = !origin.file.empty() && resolvedPath(origin.file) != *target;
    const bool unused = origin.notUsedInFull || !judgeSettingsFile(onDisk).problem.empty();
    // Someone else wrote the file since it was last read or written here.
    const bool edited = !origin.file.empty() && origin.contents && contentsOf(onDisk) != origin.contents;
    const char* why = replacing ? "replaced" : unused ? "unreadable" : edited ? "edited" : nullptr;
    if (std::string refusal = saveRefusal(*target); !refusal.empty()) return failedSave(*target, refusal);

    // The new file is written before the old one is touched, so a full disk
    // leaves the old one where it was.
    platform::StagedFile staged(*target, *json);
    auto cannotWrite = [&](std::error_code error) {
        return failedSave(*target, "cannot write in " + platform::folderOf(*target) + " (" + error.message() + ")");
    };
    if (staged.error()) return cannotWrite(staged.error());

    SettingsSave result{.written = false,
                        .file = *target,
                        .failure = {},
                        .keptAside = {},
                        .editedElsewhere = false,
                        .linkNotFollowed = {}};
    std::optional<KeptCopy> kept;
    if (present && why) {
        auto copy = keepAsideWithStamp(*target, why);
        if (const auto* error = std::get_if<std::error_code>(&copy)) {
            return failedSave(*target, "cannot keep the earlier file aside (" + error->message() + ")");
        }
        kept = std::get<KeptCopy>(copy);
    }
    if (const auto error = staged.commit()) {
        SettingsSave failed = cannotWrite(error);
        if (kept && undoKeepAside(*target, *kept) && kept->how == platform::KeptBy::move)
            failed.failure += "; the earlier file could not be put back and is kept as " + kept->path;
        return failed;
    }
    if (kept) {
        result.keptAside = kept->path;
        result.editedElsewhere = why == std::string_view("edited");
    }
    origin = {.file = *target, .notUsedInFull = false, .contents = Contents::of(*json)};
    result.written = true;
    return result;
}

std::string ImageScheduleConfig::readStreamKeyFile(std::string* unusable)
{
    const std::string file = streamKeyFile();
    // Read through another user's link, a file only we may read would end
    // up in the settings, which others may read.
    const SettingsPlace place = settingsPlace("/ondaline_key");
    if (!place.walk.otherUsersLink.empty()) {
        if (unusable) *unusable = place.walk.otherUsersLink + " is " + notFollowed(place.walk);
        return {};
    }
    const platform::FileRead read = readWalkedFile(place.walk);
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
