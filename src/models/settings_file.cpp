// The settings record's file: where it is, reading it, saving it, and the
// stream-key file beside it. Every step is taken in the settings folder as
// one walk opened it, never by its path again.

#include "models/image_schedule_config.h"

#include "models/kept_aside_copies.h"
#include "models/settings_codec.h"
#include "models/station_path.h"
#include "platform/file_protections.h"
#include "platform/files.h"
#include "platform/path_walk.h"
#include "platform/staged_file.h"
#include "platform/text.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <filesystem>
#include <system_error>
#include <variant>

namespace ondaline {

namespace {

// Older temporary files of the settings file were left by saves that were
// interrupted: a save takes milliseconds.
constexpr std::chrono::seconds kLeftoverAge{60};

constexpr std::string_view kFileName = "/ondaline_schedule.json";
constexpr std::string_view kKeyFileName = "/ondaline_key";

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

// What a read found at the settings file's place; absent when it could not
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

// A file in the settings folder as the station folder now names it, and
// where the walk to it ended.
struct SettingsPlace {
    std::string path;
    platform::FilePlace place;
};

SettingsPlace settingsPlace(std::string_view name, platform::MissingFolders missing = platform::MissingFolders::leave)
{
    const std::string station = StationPath::load();
    const std::string below = StationPath::streamerFolder("") + std::string(name);
    return {station + below, platform::walkPath(station + below, missing)};
}

// Another user's link met on the way: "a link owned by …, not followed".
std::string notFollowed(const platform::FilePlace& place)
{
    return "a link owned by " + platform::userName(place.otherUsersLinkOwner) + ", not followed";
}

// What reading the file gives where the walk to it ended.
platform::FileRead readPlace(const platform::FilePlace& place)
{
    if (place.reached()) return platform::readRegularFileAt(place.folder.get(), place.name);
    platform::FileRead read;
    const bool missing = place.nowhere == std::errc::no_such_file_or_directory ||
                         place.nowhere == std::errc::not_a_directory;
    read.problem = missing ? platform::FileProblem::missing : platform::FileProblem::unreadable;
    read.error = place.nowhere;
    return read;
}

// The file's own entry in its folder; absent when there is none.
std::optional<struct stat> entryOf(const platform::FilePlace& place)
{
    struct stat info {};
    if (::fstatat(place.folder.get(), place.name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) return std::nullopt;
    return info;
}

// Why a save may not put a new file in the place of the one there; empty
// when it may.
std::string saveRefusal(const platform::FilePlace& place)
{
    const auto info = entryOf(place);
    if (!info) return {};
    // A file its owner made read-only asks not to be changed.
    if ((info->st_mode & S_IWUSR) == 0) return place.path() + " is read-only";
    if (const auto owner = platform::soleUserAllowedToReplace(place.folder.get(), place.name))
        return place.path() + " belongs to " + *owner + " and this folder lets only its owner replace it";
    return {};
}

SettingsSave failedSave(std::string file, std::string failure, std::string linkNotFollowed = {})
{
    return {.written = false,
            .file = std::move(file),
            .failure = std::move(failure),
            .keptAside = {},
            .editedElsewhere = false,
            .linkNotFollowed = std::move(linkNotFollowed),
            .keyLeftOut = {},
            .passwordLeftOut = {},
            .secretsExposed = {}};
}

// The settings folder's identity, to tell a folder from another whatever
// names lead to it.
std::optional<ImageScheduleConfig::Origin::Folder> identityOf(const platform::FilePlace& place)
{
    struct stat info {};
    if (!place.reached() || ::fstat(place.folder.get(), &info) != 0) return std::nullopt;
    return ImageScheduleConfig::Origin::Folder{info.st_dev, info.st_ino};
}

std::optional<struct stat> regularEntryOf(const platform::FilePlace& place)
{
    auto entry = entryOf(place);
    return entry && S_ISREG(entry->st_mode) ? entry : std::nullopt;
}

bool sameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// The file whose owner, group and mode a save gives the new one: the one the
// record was read from or last wrote, as its owner keeps it now, and never
// one that someone else has put in its place since; none for a file that was
// not there. Where the record comes from another folder, the file it
// replaces.
std::optional<struct stat> modelFor(const ImageScheduleConfig::Origin& origin, const std::optional<struct stat>& now,
                                    bool fromElsewhere)
{
    if (fromElsewhere || !origin.folder) return now;
    if (now && origin.stored && sameFile(*now, *origin.stored)) return now;
    return origin.stored;
}

// Who may read where a secret came from.
struct Readers {
    uid_t owner = 0;
    gid_t group = 0;
    mode_t mode = 0;
};

Readers readersOf(const struct stat& file) { return {file.st_uid, file.st_gid, file.st_mode & 0777}; }

// How a file modelled on `model` keeps a secret as private as its source:
// the protection bits it may keep, or why the secret must stay out of it.
struct Privacy {
    mode_t modeLimit = 07777;
    std::string leaveOut;
};

Privacy privacyFor(const std::optional<Readers>& source, std::string_view sourceName,
                   const std::optional<struct stat>& model, const std::string& file)
{
    // A new file is its owner's alone; typed into an existing one, the
    // secret is its owner's choice.
    if (!model) return {S_IRWXU, {}};
    if (!source) return {};
    // Only who may read it matters: its owner, a group and the rest. The
    // new file is the model's owner's only where root writes it.
    const bool othersRead = (source->mode & S_IROTH) != 0;
    const uid_t owner = ::geteuid() == 0 ? model->st_uid : ::geteuid();
    if (owner != source->owner && owner != 0 && owner != ::geteuid() && !othersRead)
        return {07777, platform::userName(owner) + " owns " + file + " and may not read " + std::string(sourceName)};
    const bool groupReads = (source->mode & S_IRGRP) != 0 && model->st_gid == source->group;
    mode_t limit = 07777;
    if (!othersRead) limit &= ~mode_t{S_IROTH};
    if (!othersRead && !groupReads) limit &= ~mode_t{S_IRGRP};
    return {limit, {}};
}

// What the stream key and the Icecast password may be written into.
struct SecretsPrivacy {
    mode_t modeLimit = 07777;
    std::string keyLeftOut;
    std::string passwordLeftOut;
};

// The secrets a record holds, as a station would name them.
std::string secretsIn(const ImageScheduleConfig& config)
{
    const bool key = !config.streamKey.empty(), password = !config.icecastPassword.empty();
    if (key && password) return "the stream key and the Icecast password";
    return key ? "the stream key" : password ? "the Icecast password" : "";
}

SecretsPrivacy secretsPrivacy(const ImageScheduleConfig& config, const std::optional<struct stat>& model,
                              bool fromElsewhere, const std::string& file)
{
    const auto& origin = config.origin;
    // A secret typed here or read from the settings file is as private as
    // that file; one that came with a record from another folder, as the
    // file there. Where the new file will not be the model's owner's
    // (another user's file, replaced by a user who is not root), the
    // model's bits were not chosen for the secret: it is ours alone. A
    // record from a folder that had no file takes the model's as its own.
    const bool fromModel = !fromElsewhere || !origin.stored;
    std::optional<Readers> own;
    if (const auto& from = fromModel ? model : origin.stored) own = readersOf(*from);
    if (own && fromModel && ::geteuid() != 0 && own->owner != ::geteuid())
        own = Readers{::geteuid(), 0, S_IRUSR | S_IWUSR};
    const std::string ownName = fromModel ? file : origin.file;
    SecretsPrivacy privacy;
    auto keep = [&](const std::string& secret, const std::optional<Readers>& source, std::string_view sourceName,
                    std::string& leftOut) {
        if (secret.empty()) return;
        Privacy kept = privacyFor(source, sourceName, model, file);
        privacy.modeLimit &= kept.modeLimit;
        leftOut = std::move(kept.leaveOut);
    };
    const auto& keyFile = origin.keySource;
    if (keyFile && keyFile->key == config.streamKey)
        keep(config.streamKey, Readers{keyFile->owner, keyFile->group, keyFile->mode}, "the stream-key file",
             privacy.keyLeftOut);
    else keep(config.streamKey, own, ownName, privacy.keyLeftOut);
    keep(config.icecastPassword, own, ownName, privacy.passwordLeftOut);
    return privacy;
}

// How the files named by a record read from `place` are read: only where
// whoever else could have changed it could read them too, as its way and
// the file (absent when there is none) show.
platform::NamedFileRules rulesFor(const platform::FilePlace& place, const std::optional<struct stat>& file)
{
    platform::NamedFileRules rules;
    std::vector<struct stat> way = place.foldersPassed;
    if (!place.otherUsersLink.empty()) {
        // Whoever put a link there may change what the folder holds.
        struct stat linkOwner {};
        linkOwner.st_mode = S_IFDIR;
        linkOwner.st_uid = place.otherUsersLinkOwner;
        way.push_back(linkOwner);
    } else if (file) {
        way.push_back(*file);
    }
    rules.readAs = platform::othersWhoMayChange(way);
    return rules;
}

}  // namespace

ImageScheduleConfig::Contents ImageScheduleConfig::Contents::of(std::string_view bytes)
{
    return {.present = true, .size = bytes.size(), .hash = std::hash<std::string_view>{}(bytes)};
}

std::string ImageScheduleConfig::configDir() { return StationPath::streamerFolder(); }

std::string ImageScheduleConfig::configFile() { return configDir() + std::string(kFileName); }

std::string ImageScheduleConfig::streamKeyFile() { return configDir() + std::string(kKeyFileName); }

std::error_code ImageScheduleConfig::ensureDirectory()
{
    const platform::FilePlace place = settingsPlace(kFileName, platform::MissingFolders::make).place;
    // Not ours to make: the settings file is not used while another user's
    // link is there, and a link of ours into a missing folder (a stick not
    // mounted) is told when the file is used.
    if (!place.otherUsersLink.empty() || place.reached()) return {};
    if (place.nowhere == std::errc::no_such_file_or_directory) return {};
    return place.nowhere;
}

ImageScheduleConfig ImageScheduleConfig::load() { return loadReporting().config; }

SettingsLoad ImageScheduleConfig::loadReporting()
{
    (void)ensureDirectory();
    const SettingsPlace at = settingsPlace(kFileName);
    const platform::FilePlace& place = at.place;
    SettingsLoad result;
    result.file = at.path;
    if (const std::string& link = place.otherUsersLink; !link.empty()) {
        // Nothing is read, removed or even listed where that link leads.
        const std::string why = notFollowed(place);
        result.problem = link == at.path ? "is " + why : "is reached through " + link + ", " + why;
        result.saveRefused = link + " is " + why;
        result.linkNotFollowed = link;
        result.config.origin = {.file = at.path,
                                .notUsedInFull = true,
                                .contents = std::nullopt,
                                .keySource = {},
                                .namedFiles = rulesFor(place, std::nullopt),
                                .folder = {},
                                .stored = {}};
        return result;
    }
    // Named where it really is, which a link of ours may have moved.
    if (place.reached()) result.file = place.path();
    const platform::FileRead read = readPlace(place);
    FileVerdict verdict = judgeSettingsFile(read);
    result.config = verdict.config.value_or(ImageScheduleConfig{});
    result.problem = std::move(verdict.problem);
    result.scheduleOnly = verdict.scheduleOnly;
    if (place.reached()) {
        result.removedLeftovers = platform::StagedFile::removeLeftovers(place.folder.get(), place.folderPath(),
                                                                        place.name, kLeftoverAge);
        result.saveRefused = saveRefusal(place);
        if (read.problem == platform::FileProblem::missing) result.keptAsideCopy = newestKeptAsideCopy(place);
    }
    // Where the walk really led, so that a station folder reached through a
    // link that is later pointed elsewhere still counts as another file.
    const std::optional<struct stat> file = read.contents ? read.opened : entryOf(place);
    result.config.origin = {.file = place.reached() ? result.file : resolvedPath(at.path),
                            .notUsedInFull = !result.problem.empty(),
                            .contents = contentsOf(read),
                            .keySource = {},
                            .namedFiles = rulesFor(place, file),
                            .folder = identityOf(place),
                            .stored = file && S_ISREG(file->st_mode) ? file : std::nullopt};
    return result;
}

SettingsSave ImageScheduleConfig::save() const
{
    if (const auto error = ensureDirectory()) {
        return failedSave(configFile(), "cannot create " + configDir() + " (" + error.message() + ")");
    }
    const SettingsPlace at = settingsPlace(kFileName);
    const platform::FilePlace& place = at.place;
    if (const std::string& link = place.otherUsersLink; !link.empty())
        return failedSave(at.path, link + " is " + notFollowed(place), link);
    if (!place.reached()) {
        const bool missing = place.nowhere == std::errc::no_such_file_or_directory;
        return failedSave(at.path, missing ? at.path + " is a symbolic link to a missing file"
                                           : "cannot reach " + at.path + " (" + place.nowhere.message() + ")");
    }
    const std::string target = place.path();
    const std::optional<Origin::Folder> folder = identityOf(place);
    // Another station's folder than the one the record came from; told by
    // the folder itself, as its names may be another user's to change.
    const bool replacing = !origin.file.empty() && (origin.folder ? origin.folder != folder : origin.file != target);
    // Owner, group and mode are decided once, here, on one look at the file.
    const std::optional<struct stat> model = modelFor(origin, regularEntryOf(place), replacing);
    const SecretsPrivacy privacy = secretsPrivacy(*this, model, replacing, target);
    ImageScheduleConfig written = *this;
    if (!privacy.keyLeftOut.empty()) written.streamKey.clear();
    if (!privacy.passwordLeftOut.empty()) written.icecastPassword.clear();
    const auto json = encodeSettings(written);
    if (!json) return failedSave(target, "a setting is not a finite number");

    const platform::FileRead onDisk = platform::readRegularFileAt(place.folder.get(), place.name);
    const bool present = onDisk.problem != platform::FileProblem::missing;
    const bool unused = origin.notUsedInFull || !judgeSettingsFile(onDisk).problem.empty();
    // Someone else wrote the file since it was last read or written here.
    const bool edited = !origin.file.empty() && origin.contents && contentsOf(onDisk) != origin.contents;
    const char* why = replacing ? "replaced" : unused ? "unreadable" : edited ? "edited" : nullptr;
    if (std::string refusal = saveRefusal(place); !refusal.empty()) return failedSave(target, refusal);

    // The new file is written before the old one is touched, so a full disk
    // leaves the old one where it was.
    platform::StagedFile staged(place.folder.get(), place.name, *json, model, privacy.modeLimit);
    auto cannotWrite = [&](std::error_code error) {
        return failedSave(target, "cannot write in " + place.folderPath() + " (" + error.message() + ")");
    };
    if (staged.error()) return cannotWrite(staged.error());

    std::optional<KeptCopy> kept;
    if (present && why) {
        auto copy = keepAsideWithStamp(place, why);
        if (const auto* error = std::get_if<std::error_code>(&copy)) {
            return failedSave(target, "cannot keep the earlier file aside (" + error->message() + ")");
        }
        kept = std::get<KeptCopy>(copy);
    }
    if (const auto error = staged.commit()) {
        SettingsSave failed = cannotWrite(error);
        if (kept && undoKeepAside(place, *kept) && kept->how == platform::KeptBy::move)
            failed.failure += "; the earlier file could not be put back and is kept as " + kept->path;
        return failed;
    }
    SettingsSave result = failedSave(target, {});
    result.written = true;
    result.keyLeftOut = privacy.keyLeftOut;
    result.passwordLeftOut = privacy.passwordLeftOut;
    if (const std::string secrets = secretsIn(written);
        !secrets.empty() && !staged.keepsModes() && (staged.written().st_mode & (S_IRGRP | S_IROTH)) != 0)
        result.secretsExposed = "every user of this computer may read " + secrets + " in " + target +
                                ": its file system keeps no permissions";
    if (kept) {
        result.keptAside = kept->path;
        result.editedElsewhere = why == std::string_view("edited");
    }
    origin = {.file = target,
              .notUsedInFull = false,
              .contents = Contents::of(*json),
              .keySource = std::move(origin.keySource),
              .namedFiles = std::move(origin.namedFiles),
              .folder = folder,
              .stored = staged.written()};
    return result;
}

std::string ImageScheduleConfig::readStreamKeyFile(std::string* unusable)
{
    ImageScheduleConfig config;
    config.takeStreamKeyFromFile(unusable);
    return config.streamKey;
}

bool ImageScheduleConfig::takeStreamKeyFromFile(std::string* unusable)
{
    if (!streamKey.empty()) return false;
    // Read through another user's link, a file only we may read would end
    // up in the settings, which others may read.
    const SettingsPlace at = settingsPlace(kKeyFileName);
    if (!at.place.otherUsersLink.empty()) {
        if (unusable) *unusable = at.place.otherUsersLink + " is " + notFollowed(at.place);
        return false;
    }
    const platform::FileRead read = readPlace(at.place);
    if (!read.contents) {
        if (unusable && read.problem != platform::FileProblem::missing) *unusable = at.path + ": " + read.reason();
        return false;
    }
    if (!platform::isValidUTF8(*read.contents)) return false;
    streamKey = std::string(platform::trimWhitespaceAndNewlines(*read.contents));
    if (streamKey.empty()) return false;
    const struct stat& file = read.opened;
    origin.keySource = Origin::KeySource{
        .key = streamKey, .owner = file.st_uid, .group = file.st_gid, .mode = file.st_mode & 0777};
    return true;
}

}  // namespace ondaline
