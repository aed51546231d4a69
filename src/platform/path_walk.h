#pragma once

// Following a path below a folder one name at a time, so that each symbolic
// link on the way is judged before it is followed. A link is a request of
// its owner: only those of the user running the program and of root are
// taken.

#include <sys/types.h>

#include <string>
#include <system_error>

namespace ondaline::platform {

struct PathWalk {
    // Where the path leads, with no link left in it; empty when it leads
    // nowhere or through another user's link.
    std::string path;
    // Why it leads nowhere: a link into a missing folder, or links in a loop.
    std::error_code nowhere;
    // The first link on the way that is neither ours nor root's, which was
    // not followed: as the path names it where it is one of the path's own
    // names, else where it lies; and its owner.
    std::string otherUsersLink;
    uid_t otherUsersLinkOwner = 0;
};

// Walks `below` (which begins with "/") down from `folder`, with an lstat of
// each name, following the links of our effective user and of root. What
// `folder` itself is made of is the caller's choice and is not judged.
// Names missing at the end are kept as they are (a file or folders still to
// be made), unless a link's target asked for a folder that is missing.
PathWalk walkBelow(const std::string& folder, const std::string& below);

}  // namespace ondaline::platform
