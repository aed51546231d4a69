#include "platform/file_rights/path_walk.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <deque>

namespace ondaline::platform {

namespace {

// As many links as the kernel follows in one path.
constexpr int kMaxLinks = 40;

// A name still to be walked; `shown` is how the caller's path names it, and
// is empty for the names a link's target gave.
struct Name {
    std::string text;
    std::string shown;
};

FilePlace leadsNowhere(int error)
{
    FilePlace place;
    place.nowhere = {error, std::generic_category()};
    return place;
}

// The folders the walk went through, and who may search and change each.
struct Passed {
    AccessLists lists = AccessLists::skip;
    std::vector<struct stat> folders;
    std::vector<std::optional<FileAccess>> access;

    void note(int fd, const struct stat& info)
    {
        folders.push_back(info);
        if (lists == AccessLists::note) access.push_back(accessOf(fd));
    }
    void handTo(FilePlace& place)
    {
        place.foldersPassed = std::move(folders);
        place.accessPassed = std::move(access);
    }
};

// Notes the folder the walk is in now among those it went through.
bool pass(const FileDescriptor& folder, Passed& passed)
{
    struct stat info {};
    if (!folder.isOpen() || ::fstat(folder.get(), &info) != 0) return false;
    passed.note(folder.get(), info);
    return true;
}

FileDescriptor openFolder(int at, const char* name)
{
    return FileDescriptor(::openat(at, name, O_PATH | O_DIRECTORY | O_CLOEXEC));
}

std::string joined(const std::string& folder, const std::string& name)
{
    return folder + (folder.ends_with('/') ? "" : "/") + name;
}

// The names of `text` split at "/", in order.
std::deque<std::string> namesOf(const std::string& text)
{
    std::deque<std::string> names;
    for (std::size_t start = 0; start <= text.size();) {
        const std::size_t end = std::min(text.find('/', start), text.size());
        if (end > start) names.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return names;
}

// A folder the walk made in another user's folder is that user's, with the
// folder's group; in a folder its group shares (set-group-ID) the group may
// write it too. Otherwise a station's owner could no longer save where root
// once did. Only the folder we made is changed, not one put in its place.
void handOver(int at, const std::string& name, const struct stat& parent)
{
    const bool shared = (parent.st_mode & S_ISGID) != 0;
    const bool theirs = ::geteuid() == 0 && parent.st_uid != 0;
    if (!shared && !theirs) return;
    const FileDescriptor made(::openat(at, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat info {};
    if (!made.isOpen() || ::fstat(made.get(), &info) != 0 || info.st_uid != ::geteuid()) return;
    if (theirs) (void)::fchown(made.get(), parent.st_uid, parent.st_gid);
    if (shared) (void)::fchmod(made.get(), (info.st_mode & 07777) | S_IRWXG | S_ISGID);
}

}  // namespace

std::string pathOfDescriptor(int fd, const std::string& fallback)
{
    char path[PATH_MAX];
    const std::string proc = "/proc/self/fd/" + std::to_string(fd);
    const ssize_t n = ::readlink(proc.c_str(), path, sizeof path);
    if (n <= 0 || n == static_cast<ssize_t>(sizeof path) || path[0] != '/') return fallback;
    return std::string(path, static_cast<std::size_t>(n));
}

std::string FilePlace::folderPath() const { return namedFolder; }

std::string FilePlace::path() const { return joined(folderPath(), name); }

FilePlace walkBelow(const std::string& folder, const std::string& below, MissingFolders missing, AccessLists lists)
{
    Passed passed{.lists = lists, .folders = {}, .access = {}};
    FileDescriptor at = openFolder(AT_FDCWD, folder.c_str());
    if (!pass(at, passed)) return leadsNowhere(errno);
    // The folder's path, for messages and to tell one file from another: the
    // working folder by where it is, so that a relative name read from
    // elsewhere is not taken for the same file.
    std::string atShown = folder == "." ? pathOfDescriptor(at.get(), folder) : folder;
    auto nowhere = [&](int error) {
        FilePlace place = leadsNowhere(error);
        passed.handTo(place);
        return place;
    };
    auto placeHere = [&](std::string name) {
        FilePlace place;
        place.folder = std::move(at);
        place.namedFolder = std::move(atShown);
        place.name = std::move(name);
        passed.handTo(place);
        return place;
    };

    const std::string shownFolder = atShown == "/" ? "" : atShown;
    std::deque<Name> names;
    for (std::size_t start = 1; start <= below.size();) {
        const std::size_t end = std::min(below.find('/', start), below.size());
        names.push_back({below.substr(start, end - start), shownFolder + below.substr(0, end)});
        start = end + 1;
    }

    // Each name is opened without following it and judged on what was
    // opened, so what is judged is what is followed.
    for (int links = 0;;) {
        while (!names.empty() && (names.front().text.empty() || names.front().text == ".")) names.pop_front();
        if (names.empty()) break;
        const Name name = std::move(names.front());
        names.pop_front();
        const bool last = names.empty();
        if (name.text == "..") {
            // The kernel's ".." of a link's target: the parent of the folder
            // the link is in, wherever that was reached from.
            at = openFolder(at.get(), "..");
            if (!pass(at, passed)) return nowhere(errno);
            atShown = pathOfDescriptor(at.get(), atShown + "/..");
            continue;
        }
        FileDescriptor next(::openat(at.get(), name.text.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
        if (!next.isOpen()) {
            const int error = errno;
            if (error == ENOENT && last) return placeHere(name.text);
            if (error != ENOENT || name.shown.empty() || missing == MissingFolders::leave) return nowhere(error);
            const mode_t mode = missing == MissingFolders::makePrivate ? 0700 : 0777;
            if (::mkdirat(at.get(), name.text.c_str(), mode) == 0) handOver(at.get(), name.text, passed.folders.back());
            else if (errno != EEXIST) return nowhere(errno);
            names.push_front(name);  // and judged as any other folder
            continue;
        }
        struct stat info {};
        if (::fstat(next.get(), &info) != 0) return nowhere(errno);
        if (S_ISLNK(info.st_mode)) {
            if (info.st_uid != ::geteuid() && info.st_uid != 0) {
                FilePlace refused;
                passed.handTo(refused);
                refused.otherUsersLink = name.shown.empty() ? joined(atShown, name.text) : name.shown;
                refused.otherUsersLinkOwner = info.st_uid;
                return refused;
            }
            if (++links > kMaxLinks) return nowhere(ELOOP);
            char target[PATH_MAX];
            const ssize_t n = ::readlinkat(next.get(), "", target, sizeof target);
            if (n < 0) return nowhere(errno);
            if (n == 0 || n == static_cast<ssize_t>(sizeof target)) return nowhere(ENAMETOOLONG);
            const std::string text(target, static_cast<std::size_t>(n));
            if (text.starts_with('/')) {
                at = openFolder(AT_FDCWD, "/");
                atShown = "/";
                if (!pass(at, passed)) return nowhere(errno);
            }
            std::deque<std::string> parts = namesOf(text);
            for (auto part = parts.rbegin(); part != parts.rend(); ++part) names.push_front({*part, {}});
            if (parts.empty() && last) return nowhere(EISDIR);  // a link to "/" as the file
            continue;
        }
        if (last) return placeHere(name.text);
        if (!S_ISDIR(info.st_mode)) return nowhere(ENOTDIR);
        passed.note(next.get(), info);
        at = std::move(next);
        atShown = joined(atShown, name.text);
    }
    // The path named a folder, not a file in one.
    return nowhere(EISDIR);
}

FilePlace walkPath(const std::string& path, MissingFolders missing, AccessLists lists)
{
    return path.starts_with('/') ? walkBelow("/", path, missing, lists) : walkBelow(".", "/" + path, missing, lists);
}

}  // namespace ondaline::platform
