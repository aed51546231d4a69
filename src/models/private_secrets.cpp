#include "models/private_secrets.h"

#include "platform/file_rights/file_access.h"
#include "platform/file_rights/files.h"
#include "platform/file_rights/own_folder.h"
#include "platform/file_rights/path_walk.h"
#include "platform/file_rights/staged_file.h"
#include "platform/text.h"

#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <optional>
#include <system_error>

namespace ondaline {

namespace {

using Json = nlohmann::ordered_json;

constexpr const char* kStreamKey = "streamKey";
constexpr const char* kStreamKeyServer = "streamKeyServer";
constexpr const char* kIcecastPassword = "icecastPassword";
constexpr const char* kIcecastServer = "icecastServer";
constexpr const char* kFolderName = "ondaline";

// The private file's place and why it is not the operator's own; empty
// when it is.
struct PrivatePlace {
    platform::FilePlace place;
    std::string notOwn;
};

// Whether `folder` is the program's own folder in the config home: the
// entry of that name there, not a link's target, which may be anyone's.
bool isOwnFolder(const platform::FileDescriptor& folder)
{
    const platform::FilePlace home = platform::walkPath(platform::configHomeDirectory());
    if (!home.reached()) return false;
    const platform::FileDescriptor configHome(::openat(home.folder.get(), home.name.c_str(),
                                                       O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat entry {};
    struct stat held {};
    return configHome.isOpen() && ::fstatat(configHome.get(), kFolderName, &entry, AT_SYMLINK_NOFOLLOW) == 0 &&
           S_ISDIR(entry.st_mode) && ::fstat(folder.get(), &held) == 0 && entry.st_dev == held.st_dev &&
           entry.st_ino == held.st_ino;
}

PrivatePlace privatePlace(platform::MissingFolders missing)
{
    const std::string path = privateSecretsFile();
    PrivatePlace at{platform::walkPath(path, missing), {}};
    const platform::FilePlace& place = at.place;
    if (!place.otherUsersLink.empty()) {
        at.notOwn = place.otherUsersLink + " is a link owned by " + platform::userName(place.otherUsersLinkOwner);
        return at;
    }
    if (!place.reached()) {
        at.notOwn = "cannot reach " + path + " (" + place.nowhere.message() + ")";
        return at;
    }
    // The program's own folder is the operator's private one: no one else
    // even lists it. A folder a link leads to keeps the mode its owner gave.
    if (missing == platform::MissingFolders::makePrivate && isOwnFolder(place.folder)) {
        const platform::FileDescriptor folder(::openat(place.folder.get(), ".",
                                                       O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        struct stat info {};
        if (folder.isOpen() && ::fstat(folder.get(), &info) == 0 && info.st_uid == ::geteuid() &&
            (info.st_mode & 077) != 0)
            (void)::fchmod(folder.get(), 0700);
    }
    const platform::FileDescriptor file(::openat(place.folder.get(), place.name.c_str(),
                                                 O_PATH | O_NOFOLLOW | O_CLOEXEC));
    at.notOwn = platform::whyNotOwn(place.folder.get(), file.isOpen() ? file.get() : -1);
    return at;
}

// The private file's entries; absent, with why, when it is there and does
// not hold them.
std::optional<Json> entriesAt(const platform::FilePlace& place, std::string* why = nullptr)
{
    const platform::FileRead read = platform::readRegularFileAt(place.folder.get(), place.name);
    if (read.problem == platform::FileProblem::missing) return Json::object();
    if (!read.contents) {
        if (why) *why = place.path() + ": " + read.reason();
        return std::nullopt;
    }
    Json entries = Json::parse(*read.contents, nullptr, false);
    if (entries.is_discarded() || !entries.is_object()) {
        if (why) *why = place.path() + " does not decode";
        return std::nullopt;
    }
    return entries;
}

// The entry's name for the settings file at `path`: the path itself, or,
// where it is not UTF-8 (a folder named in Latin-1), its bytes in hex, which
// no path begins with. Absent for a path not told from the root folder: the
// same words could name another station's file from elsewhere.
std::optional<std::string> entryName(const std::string& path)
{
    if (!path.starts_with('/')) return std::nullopt;
    if (platform::isValidUTF8(path)) return path;
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string name = "bytes:";
    for (const char c : path) {
        const auto b = static_cast<unsigned char>(c);
        name += kDigits[b >> 4];
        name += kDigits[b & 0xF];
    }
    return name;
}

std::string textAt(const Json& entry, const char* key)
{
    const auto found = entry.find(key);
    return found != entry.end() && found->is_string() ? found->get<std::string>() : std::string{};
}

BoundSecret secretAt(const Json& entry, const char* key, const char* server)
{
    return {textAt(entry, key), textAt(entry, server)};
}

// Puts `change` into `entry`, or takes the secret out where it is empty.
void apply(Json& entry, const std::optional<BoundSecret>& change, const char* key, const char* server)
{
    if (!change) return;
    if (change->secret.empty()) {
        entry.erase(key);
        entry.erase(server);
        return;
    }
    entry[key] = change->secret;
    entry[server] = change->server;
}

// One change of the private file at a time among the operator's programs,
// from reading it to putting the new one in its place: two dashboards open
// at once each keep what the other changed. Held on the folder, as the file
// itself is replaced.
class FolderLock {
public:
    explicit FolderLock(const platform::FileDescriptor& folder)
        : fd_(::openat(folder.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC))
    {
        if (!fd_.isOpen()) return;
        int result;
        do result = ::flock(fd_.get(), LOCK_EX);
        while (result != 0 && errno == EINTR);
        locked_ = result == 0;
    }
    ~FolderLock()
    {
        if (locked_) ::flock(fd_.get(), LOCK_UN);
    }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;
    bool locked() const { return locked_; }

private:
    platform::FileDescriptor fd_;
    bool locked_ = false;
};

}  // namespace

std::string privateSecretsFile() { return platform::configHomeDirectory() + "/" + kFolderName + "/secrets.json"; }

StationSecrets readPrivateSecrets(const std::string& settingsFile)
{
    const PrivatePlace at = privatePlace(platform::MissingFolders::leave);
    if (!at.notOwn.empty()) return {};
    const std::optional<std::string> name = entryName(settingsFile);
    const std::optional<Json> entries = name ? entriesAt(at.place) : std::nullopt;
    if (!entries) return {};
    const auto entry = entries->find(*name);
    if (entry == entries->end() || !entry->is_object()) return {};
    return {secretAt(*entry, kStreamKey, kStreamKeyServer), secretAt(*entry, kIcecastPassword, kIcecastServer)};
}

std::string changePrivateSecrets(const std::string& settingsFile, const SecretChanges& changes)
{
    if (changes.empty()) return {};
    const bool adds = (changes.streamKey && !changes.streamKey->secret.empty()) ||
                      (changes.icecastPassword && !changes.icecastPassword->secret.empty());
    // Nothing is made only to say that nothing is kept.
    const PrivatePlace at = privatePlace(adds ? platform::MissingFolders::makePrivate
                                              : platform::MissingFolders::leave);
    if (!adds && !at.place.reached()) return {};
    if (!at.notOwn.empty()) return at.notOwn;
    const std::optional<std::string> name = entryName(settingsFile);
    if (!name) return "where " + settingsFile + " is cannot be told";
    const platform::FilePlace& place = at.place;
    const FolderLock lock(place.folder);
    if (!lock.locked())
        return "cannot lock " + place.folderPath() + " (" + std::generic_category().message(errno) + ")";
    std::string why;
    std::optional<Json> entries = entriesAt(place, &why);
    if (!entries) return why;
    const Json before = *entries;
    Json entry = entries->contains(*name) && (*entries)[*name].is_object() ? (*entries)[*name] : Json::object();
    apply(entry, changes.streamKey, kStreamKey, kStreamKeyServer);
    apply(entry, changes.icecastPassword, kIcecastPassword, kIcecastServer);
    if (entry.contains(kStreamKey) || entry.contains(kIcecastPassword)) (*entries)[*name] = std::move(entry);
    else entries->erase(*name);
    if (*entries == before) return {};
    std::string text;
    try {
        text = entries->dump();
    } catch (const Json::type_error&) {
        return "a secret is not UTF-8 text";  // a key file's bytes
    }
    const auto ownerOnly = platform::FileAccess::ownerOnly(::geteuid(), ::getegid(),
                                                           platform::kMayRead | platform::kMayWrite);
    platform::StagedFile staged(place.folder.get(), place.name, ownerOnly);
    auto cannotWrite = [&](std::error_code error) {
        return "cannot write in " + place.folderPath() + " (" + error.message() + ")";
    };
    if (staged.error()) return cannotWrite(staged.error());
    if (const auto access = staged.access(); !access || !platform::onlyItsOwnerReads(*access))
        return "others could read " + place.path();
    if (const auto error = staged.write(text)) return cannotWrite(error);
    if (const auto error = staged.commit()) return cannotWrite(error);
    return {};
}

}  // namespace ondaline
