#pragma once

#include "platform/file_descriptor.h"

#include <sys/stat.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace ondaline::platform {

// Settings, pointer, key and crawler files and images are small; a huge file
// there is not ours.
inline constexpr std::size_t smallFileLimit = 16 * 1024 * 1024;

// Why a named file gave no contents.
enum class FileProblem {
    none,
    missing,         // nothing by that name (or a folder on the way is missing)
    notRegularFile,  // a FIFO, a device, a socket or a folder
    tooLarge,        // over the reader's limit
    unreadable,      // permission, or an error while reading
    refused,         // not read for whom it might reach: `detail` says why
};

struct FileRead {
    std::optional<std::string> contents;
    FileProblem problem = FileProblem::none;
    std::error_code error;  // the system's reason for `unreadable` (and `missing`)
    std::string detail;     // why it was refused
    struct stat opened {};  // the file that was read: its owner, group and mode

    // "not a regular file", "larger than 16 MiB", "Permission denied", ...
    std::string reason(std::size_t maxBytes = smallFileLimit) const;
};

// The whole content of a regular file of at most `maxBytes`. Nothing that
// can block is ever opened: a FIFO, a device or a socket by that name is
// refused before it is read, so a file the user named cannot stall the
// thread that reads it.
FileRead readRegularFile(const std::string& path, std::size_t maxBytes = smallFileLimit);

// The same for the file `name` in the folder open at `folder`, where the
// name itself is not followed: a link found there now (put in place since
// the name was judged) is `unreadable` with ELOOP, and nothing is read.
FileRead readRegularFileAt(int folder, const std::string& name, std::size_t maxBytes = smallFileLimit);

// Opens it as readRegularFileAt does, with no limit on its size, and leaves
// the reading to the caller (a decoder); `file` holds it when all went well.
FileRead openRegularFileAt(int folder, const std::string& name, FileDescriptor& file);
// Reads what openRegularFileAt() opened, as readRegularFileAt() would.
FileRead readOpenedFile(const FileDescriptor& file, const FileRead& opened, std::size_t maxBytes = smallFileLimit);

// The names in the folder open at `folder` (an O_PATH descriptor will do),
// without "." and ".."; empty when it cannot be listed.
std::vector<std::string> namesInFolder(int folder);

// The contents alone, for callers to whom every problem means "no file".
std::optional<std::string> readFile(const std::string& path, std::size_t maxBytes = smallFileLimit);

// Whether `path` is a regular file that can be opened for reading, checked
// the same non-blocking way; `none` when it is. For files handed on by name
// to a reader of their own (a decoder), so there is no size limit.
FileRead checkRegularFile(const std::string& path);

// Replaces the file at `path` with `contents` so that a reader, or the next
// start after a crash or a full disk, finds either the old or the new
// content whole: the bytes go to a temporary file in the same folder, are
// flushed to disk and then renamed over the old file. An existing file's
// permissions are kept. On failure the old file is untouched, no temporary
// file is left, and the error says why.
[[nodiscard]] std::error_code writeFileAtomically(const std::string& path, std::string_view contents);

// The folder part of a path: "." for a bare name, "/" for a file in the root.
std::string folderOf(const std::string& path);

// The user's home folder: $HOME, else the password database's entry.
std::string homeDirectory();

// $XDG_CONFIG_HOME when it is an absolute path, else the home folder's
// ".config".
std::string configHomeDirectory();

}  // namespace ondaline::platform
