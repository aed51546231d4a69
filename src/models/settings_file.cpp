// The settings record's file: where it is, reading it, saving it, and the
// stream-key file beside it. Every step is taken in the settings folder as
// one walk opened it, never by its path again.

#include "models/image_schedule_config.h"

#include "models/kept_aside_copies.h"
#include "models/named_paths.h"
#include "models/settings_codec.h"
#include "models/settings_secrets.h"
#include "models/station_path.h"
#include "platform/file_rights/file_protections.h"
#include "platform/file_rights/files.h"
#include "platform/file_rights/own_folder.h"
#include "platform/file_rights/path_walk.h"
#include "platform/file_rights/staged_file.h"
#include "platform/text.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <tuple>
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

SettingsPlace settingsPlace(std::string_view name, platform::MissingFolders missing = platform::MissingFolders::leave,
                            platform::AccessLists lists = platform::AccessLists::skip)
{
    const std::string station = StationPath::load();
    const std::string below = StationPath::streamerFolder("") + std::string(name);
    return {station + below, platform::walkPath(station + below, missing, lists)};
}

// Another user's link met on the way: "a link owned by …, not followed".
std::string notFollowed(const platform::FilePlace& place)
{
    return "a link owned by " + platform::userName(place.otherUsersLinkOwner) + ", not followed";
}

// What reading the file gives where the walk to it ended; `held` gets the
// file read, held open.
platform::FileRead readPlace(const platform::FilePlace& place,
                             std::shared_ptr<const platform::FileDescriptor>* held = nullptr)
{
    if (place.reached()) {
        auto file = std::make_shared<platform::FileDescriptor>();
        const platform::FileRead opened = platform::openRegularFileAt(place.folder.get(), place.name, *file);
        platform::FileRead read = platform::readOpenedFile(*file, opened);
        if (held && read.contents) *held = std::move(file);
        return read;
    }
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
    SettingsSave save;
    save.file = std::move(file);
    save.failure = std::move(failure);
    save.linkNotFollowed = std::move(linkNotFollowed);
    return save;
}

// The settings folder's identity, to tell a folder from another whatever
// names lead to it.
std::optional<ImageScheduleConfig::Origin::Folder> identityOf(const platform::FilePlace& place)
{
    struct stat info {};
    if (!place.reached() || ::fstat(place.folder.get(), &info) != 0) return std::nullopt;
    return ImageScheduleConfig::Origin::Folder{info.st_dev, info.st_ino};
}

// Whether two open files are one: while either is held open, no other file
// can have its numbers.
bool sameFile(const platform::FileDescriptor& a, const platform::FileDescriptor& b)
{
    struct stat x {};
    struct stat y {};
    return ::fstat(a.get(), &x) == 0 && ::fstat(b.get(), &y) == 0 && x.st_dev == y.st_dev && x.st_ino == y.st_ino;
}

// Who may read and change the file open at `fd`; where its access list
// cannot be read, its owner alone.
std::optional<platform::FileAccess> protectionsOf(int fd)
{
    if (auto access = platform::accessOf(fd)) return access;
    struct stat info {};
    if (::fstat(fd, &info) != 0) return std::nullopt;
    return platform::FileAccess::ownerOnly(info.st_uid, info.st_gid, (info.st_mode >> 6) & 7u);
}

// The regular file at the place's name, held open.
std::shared_ptr<const platform::FileDescriptor> holdEntry(const platform::FilePlace& place)
{
    auto held = std::make_shared<platform::FileDescriptor>(::openat(place.folder.get(), place.name.c_str(),
                                                                    O_PATH | O_NOFOLLOW | O_CLOEXEC));
    struct stat info {};
    if (!held->isOpen() || ::fstat(held->get(), &info) != 0 || !S_ISREG(info.st_mode)) return nullptr;
    return held;
}

// Whether a file of `access` lets no one read that one of `than` does not:
// entry by entry, without looking up who is in which group.
bool readsNoWider(const platform::FileAccess& access, const platform::FileAccess& than)
{
    auto reads = [](unsigned rights) { return (rights & platform::kMayRead) != 0; };
    auto userReads = [&](uid_t id) {
        return std::any_of(than.users.begin(), than.users.end(),
                           [&](const auto& user) { return user.id == id && reads(user.rights); });
    };
    auto groupReads = [&](gid_t id) {
        return (than.group == id && reads(than.groupRights)) ||
               std::any_of(than.groups.begin(), than.groups.end(),
                           [&](const auto& group) { return group.id == id && reads(group.rights); });
    };
    if (reads(than.othersRights)) return true;
    if (reads(access.othersRights) || (reads(access.groupRights) && !groupReads(access.group))) return false;
    return std::all_of(access.users.begin(), access.users.end(),
                       [&](const auto& user) { return !reads(user.rights) || userReads(user.id); }) &&
           std::all_of(access.groups.begin(), access.groups.end(),
                       [&](const auto& group) { return !reads(group.rights) || groupReads(group.id); });
}

// The protections a save gives the new file: those of the one the record
// was read from or last wrote, as its owner keeps it now, and never of one
// that someone else has put in its place since; its owner's own file put
// there gives its narrower rights. None for a file that was not there.
// Where the record comes from another folder, the file it replaces.
std::optional<platform::FileAccess> modelFor(const ImageScheduleConfig::Origin& origin,
                                             const platform::FilePlace& place, bool fromElsewhere)
{
    const auto now = holdEntry(place);
    const auto nowAccess = now ? protectionsOf(now->get()) : std::nullopt;
    if (fromElsewhere || !origin.folder) return nowAccess;
    if (!origin.stored) return std::nullopt;
    const auto heldAccess = protectionsOf(origin.stored->get());
    if (now && sameFile(*now, *origin.stored)) return heldAccess;
    if (nowAccess && heldAccess && nowAccess->owner == heldAccess->owner && readsNoWider(*nowAccess, *heldAccess))
        return nowAccess;
    return heldAccess;
}

// How the files named by a record read from `place` are read: only where
// whoever else could have changed it could read them too, as its way and
// the file (absent when there is none) show; a relative name is the
// station folder's.
platform::NamedFileRules rulesFor(const platform::FilePlace& place, const std::optional<struct stat>& file,
                                  const std::optional<platform::FileAccess>& fileAccess)
{
    platform::NamedFileRules rules;
    rules.folder = StationPath::load();
    std::vector<struct stat> way = place.foldersPassed;
    std::vector<std::optional<platform::FileAccess>> lists = place.accessPassed;
    if (!place.otherUsersLink.empty()) {
        // Whoever put a link there may change what the folder holds.
        struct stat linkOwner {};
        linkOwner.st_mode = S_IFDIR;
        linkOwner.st_uid = place.otherUsersLinkOwner;
        way.push_back(linkOwner);
        lists.push_back(platform::FileAccess::ofMode(linkOwner));
    } else if (file) {
        way.push_back(*file);
        lists.push_back(fileAccess);
    }
    rules.readAs = platform::othersWhoMayChange(way, lists);
    return rules;
}

// The same for the settings file at the place's name now, if any.
platform::NamedFileRules rulesAt(const platform::FilePlace& place)
{
    const auto entry = place.reached() ? holdEntry(place) : nullptr;
    struct stat file {};
    if (entry && ::fstat(entry->get(), &file) == 0) return rulesFor(place, file, platform::accessOf(entry->get()));
    return rulesFor(place, place.reached() ? entryOf(place) : std::nullopt, std::nullopt);
}

// Who owns the file open at `fd`, for the lines: "your", "nobody's".
std::string ownerOf(int fd)
{
    struct stat info {};
    if (::fstat(fd, &info) != 0) return "the";
    return info.st_uid == ::geteuid() ? "your" : platform::userName(info.st_uid) + "'s";
}

// What the secrets of a record loaded from `place` go by.
SecretsAtLoad secretsAt(const platform::FilePlace& place, const SettingsLoad& load, const platform::FileRead& read,
                        const std::shared_ptr<const platform::FileDescriptor>& held)
{
    SecretsAtLoad at;
    at.file = load.file;
    at.notOwn = platform::whyNotOwn(place.folder.get(), held ? held->get() : -1);
    at.owner = held ? ownerOf(held->get()) : "the";
    if (read.problem == platform::FileProblem::missing) at.unused = "is missing";
    else if (!load.problem.empty() && !load.scheduleOnly) at.unused = load.problem;
    const auto access = held && at.unused.empty() ? platform::accessOf(held->get()) : std::nullopt;
    at.operatorsFile = access && access->owner == ::geteuid() &&
                       platform::whoElseMay(*access, ::geteuid(), platform::kMayWrite).empty();
    return at;
}

// Whose the stream-key file open at `key` is, and what the station is:
// judged at the settings file, where the operator's own links lead, as a
// save judges it.
KeyFileSecret keyFileSecret(const platform::FilePlace& place, const platform::FileDescriptor& key)
{
    const SettingsPlace settings = settingsPlace(kFileName);
    const auto entry = settings.place.reached() ? holdEntry(settings.place) : nullptr;
    KeyFileSecret secret{.file = place.path(), .whose = {}, .notOwn = {}};
    if (!settings.place.reached()) secret.notOwn = "cannot reach " + settings.path;
    else secret.notOwn = platform::whyNotOwn(settings.place.folder.get(), entry ? entry->get() : -1);
    // What the operator keeps in a station of their own is theirs either way.
    if (secret.notOwn.empty()) return secret;
    const auto access = platform::accessOf(key.get());
    if (!access || access->owner != ::geteuid()) secret.whose = ownerOf(key.get()) + " key file " + secret.file;
    else if (!platform::onlyItsOwnerReads(*access))
        secret.whose = "the key file " + secret.file + ", which others may read";
    return secret;
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
    // The folders' access lists tell who else may change the settings.
    const SettingsPlace at = settingsPlace(kFileName, platform::MissingFolders::leave, platform::AccessLists::note);
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
                                .streamKey = {},
                                .icecastPassword = {},
                                .namedByOthers = {},
                                .namedFiles = rulesFor(place, std::nullopt, std::nullopt),
                                .folder = {},
                                .stored = {}};
        return result;
    }
    // Named where it really is, which a link of ours may have moved.
    if (place.reached()) result.file = place.path();
    std::shared_ptr<const platform::FileDescriptor> held;
    const platform::FileRead read = readPlace(place, &held);
    if (!held && place.reached()) held = holdEntry(place);
    FileVerdict verdict = judgeSettingsFile(read);
    result.config = verdict.config.value_or(ImageScheduleConfig{});
    result.problem = std::move(verdict.problem);
    result.scheduleOnly = verdict.scheduleOnly;
    if (place.reached()) {
        result.removedLeftovers = platform::StagedFile::removeLeftovers(place.folder.get(), place.folderPath(),
                                                                        place.name, kLeftoverAge);
        result.saveRefused = saveRefusal(place);
        if (read.problem == platform::FileProblem::missing)
            result.keptAsideCopy = newestKeptAsideCopy(place, &result.keptAsideCopyOwner);
    }
    // Where the walk really led, so that a station folder reached through a
    // link that is later pointed elsewhere still counts as another file.
    std::optional<struct stat> file = read.contents ? read.opened : entryOf(place);
    std::optional<platform::FileAccess> fileAccess;
    if (file) fileAccess = platform::FileAccess::ofMode(*file);
    if (held) {
        struct stat info {};
        if (::fstat(held->get(), &info) == 0) file = info;
        fileAccess = platform::accessOf(held->get());
    }
    result.config.origin = {.file = place.reached() ? result.file : resolvedPath(at.path),
                            .notUsedInFull = !result.problem.empty(),
                            .contents = contentsOf(read),
                            .streamKey = {},
                            .icecastPassword = {},
                            .namedByOthers = {},
                            .namedFiles = rulesFor(place, file, fileAccess),
                            .folder = identityOf(place),
                            .stored = held};
    // What settings others could change name is theirs.
    if (result.config.origin.namedFiles.readAs)
        result.config.origin.namedByOthers = {namedPaths(result.config), result.config.origin.namedFiles};
    if (place.reached()) takeSecrets(result.config, secretsAt(place, result, read, held));
    return result;
}

SettingsSave ImageScheduleConfig::save() const
{
    // Paths others named stay theirs: a record in another station than
    // theirs takes none of them along, whether or not this save goes
    // through, and they are read by their rules while it holds them.
    const bool leavingOthersPaths = holdsPathsOthersNamedElsewhere(*this);
    SettingsSave saved = [&] {
        if (const auto error = ensureDirectory()) {
            return failedSave(configFile(), "cannot create " + configDir() + " (" + error.message() + ")");
        }
        // The folders' access lists tell who else may change the settings.
        const SettingsPlace at = settingsPlace(kFileName, platform::MissingFolders::leave, platform::AccessLists::note);
        const platform::FilePlace& place = at.place;
        // The files the record names are read by the rules of the station in
        // use, whatever the save comes to.
        origin.namedFiles = rulesAt(place);
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
        const bool replacing = !origin.file.empty() &&
                               (origin.folder ? origin.folder != folder : origin.file != target);
        // Owner, group and rights are decided once, here, on one look at the
        // file.
        const std::optional<platform::FileAccess> model = modelFor(origin, place, replacing);
        // A secret goes into the file only where the whole way to it is the
        // operator's own, judged on the folder held open and the file there now.
        const auto entry = holdEntry(place);
        std::string notOwn = platform::whyNotOwn(place.folder.get(), entry ? entry->get() : -1);
        ImageScheduleConfig written = *this;
        putSecretsInFile(*this, written, true);
        const bool secrets = !written.streamKey.empty() || !written.icecastPassword.empty();
        // A file its owner lets others read keeps that: its secrets go where
        // only the operator reads them.
        if (const std::string reader = model ? platform::whoElseMay(*model, ::geteuid(), platform::kMayRead) : "";
            notOwn.empty() && secrets && !reader.empty())
            notOwn = reader + " may read " + target;
        std::optional<platform::FileAccess> protections = model;
        if (notOwn.empty() && secrets)
            protections = platform::FileAccess::ownerOnly(::geteuid(), model ? model->group : ::getegid(),
                                                          platform::kMayRead | platform::kMayWrite);

        const platform::FileRead onDisk = platform::readRegularFileAt(place.folder.get(), place.name);
        const bool present = onDisk.problem != platform::FileProblem::missing;
        const bool unused = origin.notUsedInFull || !judgeSettingsFile(onDisk).problem.empty();
        // Someone else wrote the file since it was last read or written here.
        const bool edited = !origin.file.empty() && origin.contents && contentsOf(onDisk) != origin.contents;
        const char* why = replacing ? "replaced" : unused ? "unreadable" : edited ? "edited" : nullptr;
        if (std::string refusal = saveRefusal(place); !refusal.empty()) return failedSave(target, refusal);

        // The new file is written before the old one is touched, so a full disk
        // leaves the old one where it was.
        platform::StagedFile staged(place.folder.get(), place.name, protections);
        auto cannotWrite = [&](std::error_code error) {
            return failedSave(target, "cannot write in " + place.folderPath() + " (" + error.message() + ")");
        };
        if (staged.error()) return cannotWrite(staged.error());
        // What the new file really got is looked at before a secret goes in.
        if (notOwn.empty() && secrets) {
            const auto landed = staged.access();
            if (!landed || landed->owner != ::geteuid() || !platform::onlyItsOwnerReads(*landed))
                notOwn = "others could read " + target + " as it was made";
        }
        if (!notOwn.empty()) putSecretsInFile(*this, written, false);
        // A secret is kept in its new place before it leaves the old one: one
        // the private file cannot keep stays in the operator's own file.
        const SecretChanges changes = secretChanges(*this, notOwn.empty(), replacing);
        const std::string refused = changePrivateSecrets(target, changes.additions());
        if (!notOwn.empty() && !replacing) keepInFileWhatCannotLeave(*this, written, refused);
        std::vector<LeftBehind> leftBehind;
        if (replacing || leavingOthersPaths) leftBehind = leaveBehind(*this, written);
        const auto json = encodeSettings(written);
        if (!json) return failedSave(target, "a setting is not a finite number");
        if (const auto error = staged.write(*json)) return cannotWrite(error);

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
        result.accessLost = staged.accessLost();
        if (kept) {
            result.keptAside = kept->path;
            result.editedElsewhere = why == std::string_view("edited");
        }
        const auto held = staged.held();
        struct stat made {};
        if (::fstat(held->get(), &made) == 0)
            origin.namedFiles = rulesFor(place, made, platform::accessOf(held->get()));
        origin = {.file = target,
                  .notUsedInFull = false,
                  .contents = Contents::of(*json),
                  .streamKey = std::move(origin.streamKey),
                  .icecastPassword = std::move(origin.icecastPassword),
                  .namedByOthers = std::move(origin.namedByOthers),
                  .namedFiles = std::move(origin.namedFiles),
                  .folder = folder,
                  .stored = held};
        result.leftBehind = std::move(leftBehind);
        result.notOwn = std::move(notOwn);
        (void)changePrivateSecrets(target, changes.removals());
        keepSecrets(*this, changes, refused, replacing, result);
        return result;
    }();
    if (saved.leftBehind.empty() && leavingOthersPaths) {
        ImageScheduleConfig unsaved = *this;
        saved.leftBehind = leaveBehind(*this, unsaved);
    }
    return saved;
}

platform::NamedFileRules ImageScheduleConfig::namedFileRules() const
{
    // Paths others named, carried into another station, are read as those
    // others could read them until a save leaves them behind.
    if (holdsPathsOthersNamedElsewhere(*this)) return origin.namedByOthers.rules;
    // Another station than the one judged last (Browse, or a pointer file
    // changed): whoever may change that one's settings counts now.
    if (origin.namedFiles.folder != StationPath::load()) {
        const SettingsPlace at = settingsPlace(kFileName, platform::MissingFolders::leave, platform::AccessLists::note);
        origin.namedFiles = rulesAt(at.place);
    }
    return origin.namedFiles;
}

std::string ImageScheduleConfig::readStreamKeyFile(std::string* unusable)
{
    ImageScheduleConfig config;
    config.takeStreamKeyFromFile(unusable);
    const auto& heldBack = config.origin.streamKey.heldBack;
    return heldBack ? heldBack->kept.secret : config.streamKey;
}

bool ImageScheduleConfig::takeStreamKeyFromFile(std::string* unusable)
{
    // A key the operator keeps apart for this station is theirs to send,
    // or to type again, whatever the file beside the settings holds.
    if (!streamKey.empty() || origin.streamKey.heldBack) return false;
    // Read through another user's link, a file only we may read would end
    // up in the settings, which others may read.
    const SettingsPlace at = settingsPlace(kKeyFileName);
    if (!at.place.otherUsersLink.empty()) {
        if (unusable) *unusable = at.place.otherUsersLink + " is " + notFollowed(at.place);
        return false;
    }
    std::shared_ptr<const platform::FileDescriptor> held;
    const platform::FileRead read = readPlace(at.place, &held);
    if (!read.contents) {
        if (unusable && read.problem != platform::FileProblem::missing) *unusable = at.path + ": " + read.reason();
        return false;
    }
    if (!platform::isValidUTF8(*read.contents)) return false;
    streamKey = std::string(platform::trimWhitespaceAndNewlines(*read.contents));
    if (streamKey.empty()) return false;
    noteKeyFileSecret(*this, keyFileSecret(at.place, *held));
    return !streamKey.empty();
}

}  // namespace ondaline
