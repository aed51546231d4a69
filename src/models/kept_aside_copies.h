#pragma once

// Earlier settings files kept beside the settings file, under
// "<file>.<why>-YYYYMMDD-HHMMSS" and, when that name is taken,
// "<file>.<why>-YYYYMMDD-HHMMSS-2", "-3", ...

#include "platform/file_rights/path_walk.h"
#include "platform/file_rights/staged_file.h"

#include <string>
#include <system_error>
#include <variant>

namespace ondaline {

struct KeptCopy {
    std::string name;  // in the file's folder
    std::string path;  // for messages
    platform::KeptBy how = platform::KeptBy::link;
};

// Keeps the file at `file` under the first free stamped name for `why`
// ("replaced", "unreadable", "edited"), in its folder. A name is taken only
// if no file has it, so a copy never replaces another. The file stays where
// it is too where the file system allows (see `platform::keepUnderNewName`).
std::variant<KeptCopy, std::error_code> keepAsideWithStamp(const platform::FilePlace& file, const char* why);

// Undoes a keep-aside whose save did not go through: the copy's name is
// removed, and a moved file goes back to its place. The error when that
// fails.
std::error_code undoKeepAside(const platform::FilePlace& file, const KeptCopy& copy);

// The copy of `file` kept aside last, by the stamp in its name; empty when
// there is none. Anyone who may write in the folder may give a file such a
// name: `owner` gets the user it belongs to where that is not us.
std::string newestKeptAsideCopy(const platform::FilePlace& file, std::string* owner = nullptr);

}  // namespace ondaline
