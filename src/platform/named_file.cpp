#include "platform/named_file.h"

#include "platform/file_protections.h"
#include "platform/path_walk.h"

#include <grp.h>
#include <pwd.h>
#include <sys/fsuid.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>
#include <set>

namespace ondaline::platform {

namespace {

// A change of the file-system user makes the process undumpable, and the
// flag is the process's, not the thread's: while readers on several threads
// overlap, the value from before the first is kept here and put back when
// the last has given its rights back.
class DumpableFlag {
public:
    void enter()
    {
        const std::lock_guard lock(lock_);
        if (readers_++ == 0) saved_ = ::prctl(PR_GET_DUMPABLE, 0, 0, 0, 0);
    }
    void leave()
    {
        const std::lock_guard lock(lock_);
        if (--readers_ == 0 && saved_ > 0) (void)::prctl(PR_SET_DUMPABLE, saved_, 0, 0, 0);
    }

private:
    std::mutex lock_;
    int readers_ = 0;
    int saved_ = 0;
};

DumpableFlag& dumpableFlag()
{
    static DumpableFlag flag;
    return flag;
}

// Takes the reader's rights for file access on this thread alone, and gives
// them back when it goes. The kernel keeps these rights per thread; the C
// library's setgroups() would change every thread's groups, so the system
// call is made directly.
class ReadingAs {
public:
    explicit ReadingAs(const FileReader& reader)
    {
        // The change also clears this thread's parent-death signal, which
        // is put back.
        if (::prctl(PR_GET_PDEATHSIG, &deathSignal_, 0, 0, 0) != 0) deathSignal_ = 0;
        const int count = ::getgroups(0, nullptr);
        if (count < 0) return;
        saved_.resize(static_cast<std::size_t>(count));
        if (::getgroups(count, saved_.data()) != count) return;
        dumpableFlag().enter();
        changed_ = true;
        if (::syscall(SYS_setgroups, reader.groups.size(), reader.groups.data()) != 0) return;
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
        dumpableFlag().leave();
        if (deathSignal_ != 0) (void)::prctl(PR_SET_PDEATHSIG, deathSignal_, 0, 0, 0);
    }
    ReadingAs(const ReadingAs&) = delete;
    ReadingAs& operator=(const ReadingAs&) = delete;

    bool taken() const { return taken_; }

private:
    std::vector<gid_t> saved_;
    int deathSignal_ = 0;
    bool changed_ = false;
    bool taken_ = false;
};

// What the mode bits of `thing` give `reader` of `wanted` (R_OK, X_OK),
// as the kernel chooses among owner, group and others.
bool modeGives(const FileReader& reader, const struct stat& thing, int wanted)
{
    const bool member = thing.st_gid == reader.gid ||
                        std::find(reader.groups.begin(), reader.groups.end(), thing.st_gid) != reader.groups.end();
    const int shift = thing.st_uid == reader.uid ? 6 : member ? 3 : 0;
    return ((static_cast<int>(thing.st_mode) >> shift) & wanted) == wanted;
}

FileRead refused(std::string why)
{
    FileRead read;
    read.problem = FileProblem::refused;
    read.detail = std::move(why);
    return read;
}

// What the walk and the open found. The words for another user's link are
// made afterwards, with our own rights back, as they read the user database.
struct Walked {
    FileRead opened;
    std::string otherUsersLink;
    uid_t linkOwner = 0;
    std::vector<struct stat> way;  // the folders passed
};

Walked openWalked(const std::string& path, FileDescriptor& file)
{
    FilePlace place = walkPath(path);
    if (!place.otherUsersLink.empty()) return {refused({}), place.otherUsersLink, place.otherUsersLinkOwner, {}};
    if (!place.reached()) {
        FileRead read;
        const bool missing = place.nowhere == std::errc::no_such_file_or_directory ||
                             place.nowhere == std::errc::not_a_directory;
        read.problem = missing ? FileProblem::missing : FileProblem::unreadable;
        read.error = place.nowhere;
        return {read, {}, 0, std::move(place.foldersPassed)};
    }
    return {openRegularFileAt(place.folder.get(), place.name, file), {}, 0, std::move(place.foldersPassed)};
}

// Whether the reader could have opened what the walk opened: search every
// folder on the way, and read the file.
bool reaches(const FileReader& reader, const Walked& walked)
{
    const bool searched = std::all_of(walked.way.begin(), walked.way.end(),
                                      [&](const struct stat& folder) { return modeGives(reader, folder, X_OK); });
    return searched && (walked.opened.problem != FileProblem::none || modeGives(reader, walked.opened.opened, R_OK));
}

FileRead told(const std::string& path, Walked walked)
{
    if (walked.otherUsersLink.empty()) return std::move(walked.opened);
    const std::string link = "a link owned by " + userName(walked.linkOwner) + ", not followed";
    return refused(walked.otherUsersLink == path ? link : "reached through " + walked.otherUsersLink + ", " + link);
}

bool isPermissionError(const FileRead& read)
{
    return read.error == std::errc::permission_denied || read.error == std::errc::operation_not_permitted;
}

FileReader nobody(std::string who) { return {kNoOwner, kNoGroup, {}, std::move(who)}; }

}  // namespace

FileRead openNamedFile(const std::string& path, const NamedFileRules& rules, FileDescriptor& file)
{
    if (!rules.readAs) return told(path, openWalked(path, file));
    const FileReader& reader = *rules.readAs;
    const std::string notTheirs = reader.who + " may change the station's settings and could not read it";
    Walked walked;
    if (::geteuid() == 0) {
        {
            const ReadingAs as(reader);
            if (!as.taken()) return refused(notTheirs);
            walked = openWalked(path, file);
        }
        if (isPermissionError(walked.opened)) {
            file.reset();
            return refused(notTheirs);
        }
    } else {
        // Another user's rights cannot be taken: the bits on the way say
        // what they could reach.
        walked = openWalked(path, file);
        if (walked.otherUsersLink.empty() && !reaches(reader, walked)) {
            file.reset();
            return refused(notTheirs);
        }
    }
    return told(path, std::move(walked));
}

FileRead readNamedFile(const std::string& path, const NamedFileRules& rules, std::size_t maxBytes)
{
    FileDescriptor file;
    const FileRead opened = openNamedFile(path, rules, file);
    return readOpenedFile(file, opened, maxBytes);
}

std::optional<FileReader> othersWhoMayChange(const std::vector<struct stat>& way)
{
    const uid_t me = ::geteuid();
    std::set<uid_t> users;
    std::set<gid_t> groups;
    bool anyone = false;
    for (std::size_t i = 0; i < way.size(); ++i) {
        const struct stat& thing = way[i];
        if (S_ISLNK(thing.st_mode)) continue;
        if (thing.st_uid != me && thing.st_uid != 0) users.insert(thing.st_uid);
        // In a sticky folder (as /tmp) others may add names, but only the
        // owner of the next thing on the way may replace it, and that owner
        // is counted with it.
        if (S_ISDIR(thing.st_mode) && (thing.st_mode & S_ISVTX) != 0 && i + 1 < way.size()) continue;
        // Root's group writing is counted as anyone's: an access list's
        // entries show in those bits too.
        if ((thing.st_mode & S_IWOTH) != 0 || ((thing.st_mode & S_IWGRP) != 0 && thing.st_gid == 0)) anyone = true;
        else if ((thing.st_mode & S_IWGRP) != 0) groups.insert(thing.st_gid);
    }
    if (anyone) return nobody("any user");
    if (groups.empty()) {
        if (users.empty()) return std::nullopt;
        if (users.size() == 1) return userReader(*users.begin());
        return nobody("other users");
    }
    // A group's members may write: only the group's own rights, and only
    // where every user who owns something on the way is one of them.
    const gid_t group = *groups.begin();
    const bool allMembers = std::all_of(users.begin(), users.end(), [group](uid_t uid) {
        const FileReader user = userReader(uid);
        return std::find(user.groups.begin(), user.groups.end(), group) != user.groups.end();
    });
    if (groups.size() == 1 && allMembers) return FileReader{kNoOwner, group, {group}, "the group " + groupName(group)};
    return nobody("other users");
}

}  // namespace ondaline::platform
