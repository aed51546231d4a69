#include "platform/file_rights/named_file.h"

#include "platform/file_rights/file_protections.h"
#include "platform/file_rights/path_walk.h"

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
    std::vector<std::optional<FileAccess>> way;  // the folders passed
    std::optional<FileAccess> file;              // the file opened
};

Walked openWalked(const std::string& path, FileDescriptor& file, AccessLists lists = AccessLists::skip)
{
    FilePlace place = walkPath(path, MissingFolders::leave, lists);
    Walked walked;
    if (!place.otherUsersLink.empty()) {
        walked.opened = refused({});
        walked.otherUsersLink = place.otherUsersLink;
        walked.linkOwner = place.otherUsersLinkOwner;
        return walked;
    }
    walked.way = std::move(place.accessPassed);
    if (!place.reached()) {
        const bool missing = place.nowhere == std::errc::no_such_file_or_directory ||
                             place.nowhere == std::errc::not_a_directory;
        walked.opened.problem = missing ? FileProblem::missing : FileProblem::unreadable;
        walked.opened.error = place.nowhere;
        return walked;
    }
    walked.opened = openRegularFileAt(place.folder.get(), place.name, file);
    if (file.isOpen() && lists == AccessLists::note) walked.file = accessOf(file.get());
    return walked;
}

// Whether the reader could have opened what the walk opened: search every
// folder on the way, and read the file, as the kernel grants it by owner,
// access list entries, group and others. What cannot be looked at is not
// granted.
bool reaches(const FileReader& reader, const Walked& walked)
{
    const bool searched = std::all_of(walked.way.begin(), walked.way.end(), [&](const auto& folder) {
        return folder && grants(*folder, reader, kMaySearch);
    });
    if (!searched) return false;
    if (walked.opened.problem != FileProblem::none) return true;
    return walked.file && grants(*walked.file, reader, kMayRead);
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

FileRead openNamedFile(const std::string& named, const NamedFileRules& rules, FileDescriptor& file)
{
    // A relative name is the station folder's, never the working folder's
    // of whoever started the program.
    if (!named.starts_with('/') && rules.folder.empty())
        return refused("a relative name, and no station folder to find it in");
    const std::string path = named.starts_with('/') ? named : rules.folder + "/" + named;
    if (!rules.readAs) return told(path, openWalked(path, file));
    const FileReader& reader = *rules.readAs;
    const std::string notTheirs = reader.who + " may change " + rules.changing + " and could not read it";
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
        // Another user's rights cannot be taken: the modes and access lists
        // on the way say what they could reach.
        walked = openWalked(path, file, AccessLists::note);
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

std::optional<FileReader> othersWhoMayChange(const std::vector<struct stat>& way,
                                             const std::vector<std::optional<FileAccess>>& lists)
{
    const uid_t me = ::geteuid();
    std::set<uid_t> users;
    std::set<gid_t> groups;
    bool anyone = false;
    // A user or group its access list lets write, or a list that cannot be
    // read: no one user or group stands for them.
    bool unnamed = false;
    for (std::size_t i = 0; i < way.size(); ++i) {
        const struct stat& thing = way[i];
        if (S_ISLNK(thing.st_mode)) continue;
        if (thing.st_uid != me && thing.st_uid != 0) users.insert(thing.st_uid);
        // In a sticky folder (as /tmp) others may add names, but only the
        // owner of the next thing on the way may replace it, and that owner
        // is counted with it.
        if (S_ISDIR(thing.st_mode) && (thing.st_mode & S_ISVTX) != 0 && i + 1 < way.size()) continue;
        // With its access list read, the group's own entry says what the
        // group may do; the group bits are the list's mask then.
        FileAccess access = FileAccess::ofMode(thing);
        if (i < lists.size()) {
            if (!lists[i]) {
                unnamed = true;
                continue;
            }
            access = *lists[i];
        }
        const bool groupWrites = (access.groupRights & kMayWrite) != 0;
        // Root's group writing is counted as anyone's.
        if ((access.othersRights & kMayWrite) != 0 || (groupWrites && access.group == 0)) anyone = true;
        else if (groupWrites) groups.insert(access.group);
        for (const auto& user : access.users)
            if ((user.rights & kMayWrite) && user.id != me && user.id != 0) unnamed = true;
        for (const auto& group : access.groups)
            if (group.rights & kMayWrite) unnamed = true;
    }
    if (anyone) return nobody("any user");
    if (unnamed) return nobody("other users");
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
