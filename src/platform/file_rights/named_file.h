#pragma once

// Reading a file that the station's settings name, or that lies in the
// station folder: the song and crawler files and the images. Such a name
// may come from another user, who shares the station folder or owns it;
// nothing the program may read and that user may not should reach the
// picture, the log or a file others read through it.

#include "platform/file_rights/file_access.h"
#include "platform/file_rights/files.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace ondaline::platform {

struct NamedFileRules {
    // The others who may change what names the files: a file is read only
    // where they could read it too. Root reads with their rights; any other
    // user, who cannot take them, judges by the modes and access lists of
    // the file and of each folder on its way.
    std::optional<FileReader> readAs;
    // The folder a relative name is in: the station folder. Without one, a
    // relative name is refused.
    std::string folder;
    // What those others may change, for messages.
    std::string changing = "the station's settings";

    bool operator==(const NamedFileRules&) const = default;
};

// The contents of the regular file at `path` (at most `maxBytes`), reached
// one name at a time from the root folder, following only our own and
// root's links, and only where the rules' reader could read it. Another user's link on the way, or
// a file that reader does not reach, is `refused`, and `detail` says which.
FileRead readNamedFile(const std::string& path, const NamedFileRules& rules, std::size_t maxBytes = smallFileLimit);
// The same, opened and left for the caller to read (a decoder), of any size.
FileRead openNamedFile(const std::string& path, const NamedFileRules& rules, FileDescriptor& file);

// The rights of the others who could have changed a file, from the owners,
// modes and access lists (`lists`, one for each of `way` where given; absent
// where it could not be read) of everything on its way, in order from the
// root folder down, and of the file itself: another user who owns one, the
// members of a group that may write one (then only the group's own rights),
// or anyone where all may. Absent when only we and root could; where no one
// user or group stands for all of them (a user or group that an access list
// lets write among them), those of nobody.
std::optional<FileReader> othersWhoMayChange(const std::vector<struct stat>& way,
                                             const std::vector<std::optional<FileAccess>>& lists = {});

}  // namespace ondaline::platform
