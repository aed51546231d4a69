#include "platform/file_protections.h"

#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace ondaline::platform {

std::error_code takeProtections(int fd, const struct stat& old, mode_t mode, mode_t* given)
{
    // Owner and group first: changing them clears the set-id bits. Where
    // they cannot be changed the file keeps ours, and that is judged below.
    const uid_t noChange = static_cast<uid_t>(-1);
    const uid_t owner = ::geteuid() == 0 ? old.st_uid : noChange;
    if (::fchown(fd, owner, old.st_gid) != 0 && owner != noChange) (void)::fchown(fd, noChange, old.st_gid);
    struct stat now {};
    if (::fstat(fd, &now) != 0) return {errno, std::generic_category()};
    if (now.st_gid != old.st_gid) mode &= ~S_IRWXG;
    if (given) *given = mode;
    if (::fchmod(fd, mode) != 0) return {errno, std::generic_category()};
    return {};
}

std::optional<std::string> soleUserAllowedToReplace(int folder, const std::string& name)
{
    const uid_t me = ::geteuid();
    if (me == 0) return std::nullopt;
    struct stat file {};
    struct stat place {};
    if (::fstatat(folder, name.c_str(), &file, AT_SYMLINK_NOFOLLOW) != 0 || ::fstat(folder, &place) != 0)
        return std::nullopt;
    if ((place.st_mode & S_ISVTX) == 0 || file.st_uid == me || place.st_uid == me) return std::nullopt;
    return userName(file.st_uid);
}

}  // namespace ondaline::platform
