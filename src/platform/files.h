#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace ondaline::platform {

// The whole content of a regular file, or absent when it cannot be read or
// is larger than `maxBytes` (settings and text files are small; a huge file
// there is not ours).
std::optional<std::string> readFile(const std::string& path, std::size_t maxBytes = 16 * 1024 * 1024);

// Replaces the file at `path` with `contents` so that a reader, or the next
// start after a crash or a full disk, finds either the old or the new
// content whole: the bytes go to a temporary file in the same folder, are
// flushed to disk and then renamed over the old file. An existing file's
// permissions are kept. False, with the old file untouched and no temporary
// file left, when any step fails.
bool writeFileAtomically(const std::string& path, std::string_view contents);

// The user's home folder: $HOME, else the password database's entry.
std::string homeDirectory();

// $XDG_CONFIG_HOME when it is an absolute path, else the home folder's
// ".config".
std::string configHomeDirectory();

}  // namespace ondaline::platform
