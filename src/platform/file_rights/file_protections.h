#pragma once

// Who may read a file and who may replace it: what a new version or a copy
// of a file takes over from it, and what its folder allows.

#include "platform/file_rights/file_access.h"

#include <sys/stat.h>

#include <optional>
#include <string>
#include <system_error>

namespace ondaline::platform {

// Gives the file open at `fd` the group `group`, and the owner `owner` too
// where we may (as root); clears the set-id bits. `now` gets the file as it
// then is: its group may not be the one asked for (one we are not a member
// of, a file system that keeps no groups), nor its owner.
[[nodiscard]] std::error_code giveOwnerAndGroup(int fd, uid_t owner, gid_t group, struct stat& now);

// Gives the file open at `fd` the group of `old`, its owner too where we
// may (as root), and then `mode`. Never wider: where the group cannot be
// given, the group gets no access.
[[nodiscard]] std::error_code takeProtections(int fd, const struct stat& old, mode_t mode);

// The user who alone may replace or remove the file `name` in the folder
// open at `folder`: its owner, when the folder has the sticky bit and
// belongs neither to us nor to that user, and we are not root. Absent when
// we may replace it, or when that cannot be told.
std::optional<std::string> soleUserAllowedToReplace(int folder, const std::string& name);

}  // namespace ondaline::platform
