#pragma once

// Following a path below a folder one name at a time, so that each symbolic
// link on the way is judged before it is followed. A link is a request of
// its owner: only those of the user running the program and of root are
// taken. The walk ends on the folder the file is in, held open: whatever is
// done there next is done relative to that folder, so a folder swapped for
// a link after the walk is not followed either.

#include "platform/file_descriptor.h"
#include "platform/file_rights/file_access.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <optional>
#include <string>
#include <system_error>
#include <vector>

namespace ondaline::platform {

struct FilePlace {
    // The folder the file is in (an O_PATH descriptor), and the file's name
    // there, which was not a link when the walk looked; the folder is not
    // open when the path leads nowhere or through another user's link.
    FileDescriptor folder;
    std::string name;
    // Why it leads nowhere: a link into a missing folder, links in a loop, a
    // folder that is missing or cannot be searched.
    std::error_code nowhere;
    // The first link on the way that is neither ours nor root's, which was
    // not followed: as the path names it where it is one of the path's own
    // names, else where it lies; and its owner.
    std::string otherUsersLink;
    uid_t otherUsersLinkOwner = 0;

    // The folder's path by the names the walk took, with our own links
    // resolved: the kernel's name for the folder may since have become one
    // that another user gave it in passing.
    std::string namedFolder;
    // Each folder the walk went through, from the one it started in: who
    // could have changed what it found.
    std::vector<struct stat> foldersPassed;
    // And who may search and change each, its access list included, where
    // the walk was asked to look; absent where that cannot be told.
    std::vector<std::optional<FileAccess>> accessPassed;

    bool reached() const { return folder.isOpen(); }
    // Where the folder, and the file in it, are, for messages.
    std::string folderPath() const;
    std::string path() const;
};

// `makePrivate` makes them for their maker alone (0700), as a folder of
// one's own settings should be whatever the umask says.
enum class MissingFolders { leave, make, makePrivate };
// Whether the walk notes each folder's access list (`accessPassed`), which
// costs a look at each.
enum class AccessLists { skip, note };

// Walks `below` (which begins with "/") down from `folder`, following the
// links of our effective user and of root. What `folder` itself is made of
// is the caller's choice and is not judged. The last name may be missing (a
// file still to be made); a missing folder before it leads nowhere, unless
// it is one of `below`'s own names and `missing` says to make it. A folder
// a link's target asked for is never made: it may be a stick not mounted.
// A folder made in another user's folder is theirs; in a set-group-ID
// folder, its group may write it.
FilePlace walkBelow(const std::string& folder, const std::string& below, MissingFolders missing = MissingFolders::leave,
                    AccessLists lists = AccessLists::skip);

// The same for a whole path, from the root folder (or the working folder for
// a relative one): every link on it is judged.
FilePlace walkPath(const std::string& path, MissingFolders missing = MissingFolders::leave,
                   AccessLists lists = AccessLists::skip);

// The path of what `fd` refers to, as the kernel knows it; `fallback` when
// that cannot be told.
std::string pathOfDescriptor(int fd, const std::string& fallback);

}  // namespace ondaline::platform
