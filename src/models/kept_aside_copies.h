#pragma once

// Earlier settings files kept beside the settings file, under
// "<file>.<why>-YYYYMMDD-HHMMSS" and, when that name is taken,
// "<file>.<why>-YYYYMMDD-HHMMSS-2", "-3", ...

#include "platform/staged_file.h"

#include <string>
#include <system_error>
#include <variant>

namespace ondaline {

struct KeptCopy {
    std::string path;
    platform::KeptBy how = platform::KeptBy::link;
};

// Keeps the file at `file` under the first free stamped name for `why`
// ("replaced", "unreadable", "edited"). A name is taken only if no file has
// it, so a copy never replaces another. The file stays at `file` too where
// the file system allows (see `platform::keepUnderNewName`).
std::variant<KeptCopy, std::error_code> keepAsideWithStamp(const std::string& file, const char* why);

// Undoes a keep-aside whose save did not go through: the copy's name is
// removed, and a moved file goes back to `file`. The error when that fails.
std::error_code undoKeepAside(const std::string& file, const KeptCopy& copy);

// The copy of `file` kept aside last, by the stamp in its name; empty when
// there is none.
std::string newestKeptAsideCopy(const std::string& file);

}  // namespace ondaline
