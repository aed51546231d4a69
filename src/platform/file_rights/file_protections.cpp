#include "platform/file_rights/file_protections.h"

#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace ondaline::platform {

std::error_code giveOwnerAndGroup(int fd, uid_t owner, gid_t group, struct stat& now)
{
    // Where they cannot be changed the file keeps ours, and the caller
    // judges that on `now`.
    const uid_t noChange = static_cast<uid_t>(-1);
    const uid_t asked = ::geteuid() == 0 ? owner : noChange;
    if (::fchown(fd, asked, group) != 0 && asked != noChange) (void)::fchown(fd, noChange, group);
    if (::fstat(fd, &now) != 0) return {errno, std::generic_category()};
    return {};
}

std::error_code takeProtections(int fd, const struct stat& old, mode_t mode)
{
    // Owner and group first: changing them clears the set-id bits.
    struct stat now {};
    if (const auto error = giveOwnerAndGroup(fd, old.st_uid, old.st_gid, now)) return error;
    if (now.st_gid != old.st_gid) mode &= ~S_IRWXG;
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
