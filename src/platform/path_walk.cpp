#include "platform/path_walk.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <deque>
#include <filesystem>

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

PathWalk leadsTo(std::string path)
{
    PathWalk walk;
    walk.path = std::move(path);
    return walk;
}

PathWalk leadsNowhere(int error)
{
    PathWalk walk;
    walk.nowhere = {error, std::generic_category()};
    return walk;
}

}  // namespace

PathWalk walkBelow(const std::string& folder, const std::string& below)
{
    namespace fs = std::filesystem;
    std::error_code error;
    fs::path at = fs::weakly_canonical(folder, error);
    if (error) at = folder;
    if (!at.has_filename()) at = at.parent_path();  // a trailing "/"

    std::deque<Name> names;
    for (std::size_t start = 1; start <= below.size();) {
        const std::size_t end = std::min(below.find('/', start), below.size());
        names.push_back({below.substr(start, end - start), folder + below.substr(0, end)});
        start = end + 1;
    }

    // `at` is reached without links, so a ".." of a link's target is its
    // parent, and a relative target starts from there.
    for (int links = 0; !names.empty();) {
        const Name name = std::move(names.front());
        names.pop_front();
        if (name.text.empty() || name.text == ".") continue;
        if (name.text == "..") {
            at = at.parent_path();
            continue;
        }
        const fs::path next = at / name.text;
        struct stat info {};
        if (::lstat(next.c_str(), &info) != 0) {
            // A link to a missing file in a folder that is there may be
            // made good; a link into a folder that is missing (a stick not
            // mounted) may not.
            if (name.shown.empty() && !names.empty()) return leadsNowhere(errno);
            fs::path rest = next;
            for (const Name& later : names) rest /= later.text;
            return leadsTo(rest.string());
        }
        if (!S_ISLNK(info.st_mode)) {
            at = next;
            continue;
        }
        if (info.st_uid != ::geteuid() && info.st_uid != 0) {
            PathWalk refused;
            refused.otherUsersLink = name.shown.empty() ? next.string() : name.shown;
            refused.otherUsersLinkOwner = info.st_uid;
            return refused;
        }
        if (++links > kMaxLinks) return leadsNowhere(ELOOP);
        const fs::path target = fs::read_symlink(next, error);
        if (error) return leadsNowhere(error.value());
        if (target.is_absolute()) at = "/";
        for (auto part = target.end(); part != target.begin();) {
            --part;
            if (!part->empty() && *part != "/") names.push_front({part->string(), {}});
        }
    }
    return leadsTo(at.string());
}

}  // namespace ondaline::platform
