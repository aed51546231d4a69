#include "models/image_schedule_config.h"

#include "models/kept_aside_copies.h"
#include "models/settings_codec.h"
#include "models/station_path.h"
#include "platform/file_protections.h"
#include "platform/files.h"
#include "platform/staged_file.h"
#include "platform/text.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
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

// Where a symbolic link to a missing file leads: the last link's target,
// taken from that link's folder. Absent where that folder is missing too (a
// stick that is not mounted), the links go round in a loop, or a link is
// someone else's: a file is made where the user or root, not another user
// of a shared folder, pointed.
std::optional<std::string> missingTargetOf(const std::string& link)
{
    namespace fs = std::filesystem;
    fs::path path = link;
    for (int hops = 0; hops < 40; ++hops) {
        std::error_code error;
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0) {
            if (errno != ENOENT || !fs::is_directory(path.parent_path(), error)) return std::nullopt;
            return resolvedPath(path.string());
        }
        if (!S_ISLNK(info.st_mode) || (info.st_uid != ::geteuid() && info.st_uid != 0)) return std::nullopt;
        const fs::path next = fs::read_symlink(path, error);
        if (error) return std::nullopt;
        path = next.is_absolute() ? next : path.parent_path() / next;
    }
    return std::nullopt;
}

// Where a save of `file` writes: through a symbolic link to its target, so
// the link stays a link. Absent for a link that leads nowhere.
std::optional<std::string> saveTarget(const std::string& file)
{
    std::error_code error;
    if (!std::filesystem::is_symlink(std::filesystem::symlink_status(file, error))) return resolvedPath(file);
    auto target = std::filesystem::canonical(file, error);
    if (error) return missingTargetOf(file);
    return target.string();
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

SettingsSave failedSave(std::string file, std::string failure)
{
    return {.written = false, .file = std::move(file), .failure = std::move(failure), .keptAside = {}};
}

}  // namespace

ImageScheduleConfig::Contents ImageScheduleConfig::Contents::of(std::string_view bytes)
{
    return {.present = true, .size = bytes.size(), .hash = std::hash<std::string_view>{}(bytes)};
}

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
    const auto target = saveTarget(file);
    const platform::FileRead read = platform::readRegularFile(file);
    FileVerdict verdict = judgeSettingsFile(read);
    SettingsLoad result;
    result.config = verdict.config.value_or(ImageScheduleConfig{});
    result.file = file;
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
    const std::string file = configFile();
    if (const auto error = ensureDirectory()) {
        return failedSave(file, "cannot create " + configDir() + " (" + error.message() + ")");
    }
    const auto json = encodeSettings(*this);
    if (!json) return failedSave(file, "a setting is not a finite number");
    const auto target = saveTarget(file);
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

    SettingsSave result{.written = false, .file = *target, .failure = {}, .keptAside = {}, .editedElsewhere = false};
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
