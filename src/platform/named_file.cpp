#include "platform/named_file.h"

#include "platform/file_protections.h"
#include "platform/path_walk.h"

#include <grp.h>
#include <pwd.h>
#include <sys/fsuid.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <set>

namespace ondaline::platform {

namespace {

constexpr uid_t kNobody = 65534;
constexpr gid_t kNoGroup = 65534;

// Takes the reader's rights for file access on this thread alone, and gives
// them back when it goes. The kernel keeps these rights per thread; the C
// library's setgroups() would change every thread's groups, so the system
// call is made directly.
class ReadingAs {
public:
    explicit ReadingAs(const FileReader& reader)
    {
        const int count = ::getgroups(0, nullptr);
        if (count < 0) return;
        saved_.resize(static_cast<std::size_t>(count));
        if (::getgroups(count, saved_.data()) != count) return;
        if (::syscall(SYS_setgroups, reader.groups.size(), reader.groups.data()) != 0) return;
        changed_ = true;
        ::setfsgid(reader.gid);
        ::setfsuid(reader.uid);
        // setfsuid() tells of a failure only by what it answers next.
        taken_ = static_cast<uid_t>(::setfsuid(static_cast<uid_t>(-1))) == reader.uid &&
                 static_cast<gid_t>(::setfsgid(static_cast<gid_t>(-1))) == reader.gid;
    }
    ~ReadingAs()
    {
        if (!changed_) return;
        ::setfsuid(::geteuid());
        ::setfsgid(::getegid());
        (void)::syscall(SYS_setgroups, saved_.size(), saved_.data());
    }
    ReadingAs(const ReadingAs&) = delete;
    ReadingAs& operator=(const ReadingAs&) = delete;

    bool taken() const { return taken_; }

private:
    std::vector<gid_t> saved_;
    bool changed_ = false;
    bool taken_ = false;
};

FileRead refused(std::string why)
{
    FileRead read;
    read.problem = FileProblem::refused;
    read.detail = std::move(why);
    return read;
}

FileRead readWalked(const std::string& path, const NamedFileRules& rules, std::size_t maxBytes)
{
    const std::string& station = rules.stationFolder;
    const bool inStation = !station.empty() && path.size() > station.size() && path.starts_with(station) &&
                           (station.ends_with('/') || path[station.size()] == '/');
    const std::size_t rest = station.ends_with('/') ? station.size() - 1 : station.size();
    const FilePlace place = inStation               ? walkBelow(station, path.substr(rest))
                            : path.starts_with('/') ? walkBelow("/", path)
                                                    : walkBelow(".", "/" + path);
    if (!place.otherUsersLink.empty()) {
        const std::string link = "a link owned by " + userName(place.otherUsersLinkOwner) + ", not followed";
        return refused(place.otherUsersLink == path ? link : "reached through " + place.otherUsersLink + ", " + link);
    }
    if (!place.reached()) {
        FileRead read;
        const bool missing = place.nowhere == std::errc::no_such_file_or_directory ||
                             place.nowhere == std::errc::not_a_directory;
        read.problem = missing ? FileProblem::missing : FileProblem::unreadable;
        read.error = place.nowhere;
        return read;
    }
    return readRegularFileAt(place.folder.get(), place.name, maxBytes);
}

bool isPermissionError(const FileRead& read)
{
    return read.error == std::errc::permission_denied || read.error == std::errc::operation_not_permitted;
}

std::string groupName(gid_t gid)
{
    std::vector<char> buffer(16384);
    group entry{};
    group* found = nullptr;
    if (::getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->gr_name)
        return found->gr_name;
    return "group " + std::to_string(gid);
}

FileReader nobody(std::string who) { return {kNobody, kNoGroup, {}, std::move(who)}; }

// A user's own rights: their group and every group they are a member of;
// a user the system does not list has only their own.
FileReader userReader(uid_t uid)
{
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) != 0 || !found)
        return {uid, kNoGroup, {}, userName(uid)};
    int count = 64;
    std::vector<gid_t> groups(static_cast<std::size_t>(count));
    if (::getgrouplist(found->pw_name, found->pw_gid, groups.data(), &count) < 0) {
        groups.resize(static_cast<std::size_t>(count));
        if (::getgrouplist(found->pw_name, found->pw_gid, groups.data(), &count) < 0)
            return {uid, found->pw_gid, {}, found->pw_name};
    }
    groups.resize(static_cast<std::size_t>(count));
    return FileReader{uid, found->pw_gid, std::move(groups), found->pw_name};
}

}  // namespace

FileRead readNamedFile(const std::string& path, const NamedFileRules& rules, std::size_t maxBytes)
{
    if (!rules.readAs || ::geteuid() != 0) return readWalked(path, rules, maxBytes);
    const FileReader& reader = *rules.readAs;
    const std::string notTheirs = reader.who + " may change the station's settings and could not read it";
    FileRead read;
    {
        const ReadingAs as(reader);
        if (!as.taken()) return refused(notTheirs);
        read = readWalked(path, rules, maxBytes);
    }
    if (isPermissionError(read)) return refused(notTheirs);
    return read;
}

std::optional<FileReader> othersWhoMayChange(const std::vector<struct stat>& things)
{
    const uid_t me = ::geteuid();
    std::set<uid_t> users;
    std::set<gid_t> groups;
    bool anyone = false;
    for (const struct stat& thing : things) {
        if (S_ISLNK(thing.st_mode)) continue;
        if (thing.st_uid != me && thing.st_uid != 0) users.insert(thing.st_uid);
        if ((thing.st_mode & S_IWGRP) != 0 && thing.st_gid != 0) groups.insert(thing.st_gid);
        if ((thing.st_mode & S_IWOTH) != 0) anyone = true;
    }
    if (anyone) return nobody("any user");
    if (users.size() == 1) {
        // One user, and only groups of theirs besides: that user's rights.
        FileReader user = userReader(*users.begin());
        const bool groupsAreTheirs = std::all_of(groups.begin(), groups.end(), [&](gid_t g) {
            return std::find(user.groups.begin(), user.groups.end(), g) != user.groups.end();
        });
        if (groupsAreTheirs) return user;
        return nobody("other users");
    }
    if (users.empty() && groups.size() == 1) {
        const gid_t group = *groups.begin();
        return FileReader{kNobody, group, {group}, "the group " + groupName(group)};
    }
    if (users.empty() && groups.empty()) return std::nullopt;
    return nobody("other users");
}

}  // namespace ondaline::platform
