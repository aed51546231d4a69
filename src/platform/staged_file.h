#pragma once

// Replacing a file so that a reader, or the next start after a crash or a
// full disk, finds either the old content or the new one whole, and a name
// given to a copy never takes the place of another file.

#include <chrono>
#include <string>
#include <string_view>
#include <system_error>

namespace ondaline::platform {

// The permissions of a new version: the old file's, or what a plain create
// would give (for a file that takes the place of one kept aside, whose
// permissions may be why it was).
enum class StagedMode { keepOld, fresh };

// A new version of the file at `path`, written beside it and not yet in its
// place: the bytes go to a temporary file "<path>.tmp-XXXXXX" in the same
// folder and are flushed to disk. `commit()` renames it over the file. Until
// then the file at `path` is untouched; dropped uncommitted, the temporary
// file goes with it.
class StagedFile {
public:
    StagedFile(std::string path, std::string_view contents, StagedMode mode = StagedMode::keepOld);
    ~StagedFile();
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;

    // Why the bytes could not be staged; nothing is left behind then.
    std::error_code error() const { return error_; }

    // Puts the new version in place and makes that durable. On failure the
    // file at `path` is as it was.
    [[nodiscard]] std::error_code commit();

    // Removes what interrupted saves of `path` left: our temporary files of
    // that name, older than `age`, which no save still running can own.
    // Nothing else is touched, not even such a name another user owns.
    static void removeLeftovers(const std::string& path, std::chrono::seconds age);

private:
    std::string path_;
    std::string tempPath_;  // empty once committed or when staging failed
    std::error_code error_;
};

// How `keepUnderNewName` kept a file.
enum class KeptBy {
    link,  // a second name: the file is still at its old path too
    move,  // renamed: nothing is at the old path any more
};

// Gives the file at `path` the name `copy` too, never replacing a file
// already called so (the error is then `file_exists`). A hard link where
// the file system and the file's owner allow one, so that `path` keeps its
// file; otherwise a move.
[[nodiscard]] std::error_code keepUnderNewName(const std::string& path, const std::string& copy, KeptBy& how);

}  // namespace ondaline::platform
