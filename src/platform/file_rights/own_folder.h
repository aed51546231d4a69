#pragma once

// Whether a folder is the operator's own: the only kind of place a secret
// is written into. Every folder on the way from the root folder to it, and
// the file in it, belong to the user running the program or to root and no
// one else may change them; a folder others may write counts only where it
// is sticky (as /tmp), so that they cannot move what lies below it. And
// the folder lies on a local file system that keeps permissions, and where
// that is in a disk image (a loop device), the image is the operator's own
// by the same rule: whoever may change it decides every owner in it. What is
// judged is what is held open, each folder reached from the one below by
// "..", never by names that someone may have changed meanwhile.

#include <string>

namespace ondaline::platform {

// Why the folder open at `folder` (an O_PATH descriptor will do), and the
// file open at `file` (-1: none there yet), are not the operator's own:
// "the group station may change /st/Misc", "nobody owns /st/Misc/System",
// "/mnt/share lies on a fuse file system". Empty when they are. Anything
// that cannot be judged is not their own.
std::string whyNotOwn(int folder, int file = -1);

}  // namespace ondaline::platform
