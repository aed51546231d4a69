#pragma once

// Replacing a file so that a reader, or the next start after a crash or a
// full disk, finds either the old content or the new one whole, and a name
// given to a copy never takes the place of another file.

#include "platform/file_descriptor.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace ondaline::platform {

// A file removed by `StagedFile::removeLeftovers`, and its size.
struct RemovedFile {
    std::string path;
    std::uintmax_t bytes = 0;
};

// A new version of the file `name` in a folder, written beside it and not
// yet in its place: the bytes go to a temporary file "<name>.tmp-XXXXXX" in
// the same folder and are flushed to disk. `commit()` renames it over the
// file. Until then the file is untouched; dropped uncommitted, the temporary
// file goes with it. Everything is done relative to the folder's
// descriptor, so a folder on the way swapped for a link meanwhile changes
// nothing of where it lands. The new version takes the permission bits of
// the file it is modelled on (never wider, see `takeProtections`; its owner
// may always read it), its group and, where root writes it, its owner; with
// none, what a plain create gives. Either way no bit outside `modeLimit` is
// kept, where the file system keeps modes at all.
class StagedFile {
public:
    // Modelled on `model`, decided by the caller once.
    StagedFile(int folder, std::string name, std::string_view contents, const std::optional<struct stat>& model,
               mode_t modeLimit);
    // The file at `path`, its folder found by name, modelled on the regular
    // file there now.
    StagedFile(const std::string& path, std::string_view contents);
    ~StagedFile();
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;

    // Why the bytes could not be staged; nothing is left behind then.
    std::error_code error() const { return error_; }

    // The new version as the file system keeps it: its owner, group and the
    // mode it really has, which on a file system without modes (FAT, exFAT)
    // is wider than the one asked for.
    const struct stat& written() const { return written_; }
    // Whether it kept the mode it was given.
    bool keepsModes() const { return (written_.st_mode & 07777) == (asked_ & 07777); }

    // Puts the new version in place and makes that durable. On failure the
    // file is as it was.
    [[nodiscard]] std::error_code commit();

    // Removes what interrupted saves of `name` in `folder` left: our
    // temporary files of that name, older than `age`, which no save still
    // running can own. Nothing else is touched, not even such a name another
    // user owns. The answer names each file removed, in the folder shown as
    // `shownFolder`.
    static std::vector<RemovedFile> removeLeftovers(int folder, const std::string& shownFolder, const std::string& name,
                                                    std::chrono::seconds age);

private:
    void stage(std::string_view contents, const std::optional<struct stat>& model, mode_t modeLimit);

    FileDescriptor folder_;
    std::string name_;
    std::string tempName_;  // empty once committed or when staging failed
    std::error_code error_;
    struct stat written_ {};
    mode_t asked_ = 0;
};

// How `keepUnderNewName` kept a file.
enum class KeptBy {
    link,  // a second name: the file is still at its old path too
    move,  // renamed: nothing is at the old path any more
    copy,  // its bytes copied: the file is still at its old path too
};

// Gives the file `name` in the folder open at `folder` the name `copy` there
// too, never replacing a file already called so (the error is then
// `file_exists`); `name` itself is not followed. A hard link where
// the file system and the file's owner allow one, so that `path` keeps its
// file; otherwise a move; where the file system offers no move that leaves
// another file alone either, a copy of its bytes and protections, flushed
// to disk.
[[nodiscard]] std::error_code keepUnderNewName(int folder, const std::string& name, const std::string& copy,
                                               KeptBy& how);

// Seams for tests: what some file systems and failing disks do, made to
// happen on any. Set only while no save runs.
struct FileSystemSeams {
    bool refuseLinks = false;             // link() fails with EPERM, as on FAT and exFAT
    bool refuseNoReplaceRenames = false;  // renameat2(RENAME_NOREPLACE) fails with EINVAL, as on a FUSE exFAT
    bool keepNoModes = false;             // every file reads as 0777, as on a FAT or exFAT stick
    // Runs just before a staged version is renamed into place, where a test
    // puts the fault that makes that rename fail.
    std::function<void()> beforeCommit;
};
FileSystemSeams& fileSystemSeams();

}  // namespace ondaline::platform
