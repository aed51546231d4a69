#pragma once

// Replacing a file so that a reader, or the next start after a crash or a
// full disk, finds either the old content or the new one whole, and a name
// given to a copy never takes the place of another file.

#include "platform/file_descriptor.h"
#include "platform/file_rights/file_access.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
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
// nothing of where it lands.
//
// The new version gets its protections before any byte: the owner, group,
// rights and access list it is given (its group only where it can have it,
// its owner only where root writes it, its named entries only where its
// file system keeps them; its owner may always read it), with nothing
// inherited from the folder; with none, what a plain create gives.
// What it really got is then looked at on the file itself (`access()`),
// since a file system or a share may give something else.
class StagedFile {
public:
    // Protected as `protections`, decided by the caller once; the bytes
    // follow with `write()`.
    StagedFile(int folder, std::string name, const std::optional<FileAccess>& protections);
    // The file at `path`, its folder found by name, protected as the
    // regular file there now, and written with `contents`.
    StagedFile(const std::string& path, std::string_view contents);
    ~StagedFile();
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;

    // Why the file could not be staged or written; nothing is left behind
    // then.
    std::error_code error() const { return error_; }

    // Who may read and change the new version, as its file system keeps it
    // now; absent when that cannot be told.
    std::optional<FileAccess> access() const { return fd_ ? accessOf(fd_->get()) : std::nullopt; }
    // The access-list entries it was to have and could not, where its file
    // system or a share keeps no lists or only read-only ones: "user bob and
    // group staff (Operation not permitted)"; empty when none were lost.
    const std::string& accessLost() const { return accessLost_; }

    // Gives it its bytes and flushes them to disk.
    [[nodiscard]] std::error_code write(std::string_view contents);
    // The new version, held open: while it is held, no other file can have
    // its device and inode numbers. Null when staging failed.
    std::shared_ptr<const FileDescriptor> held() const { return fd_; }

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
    void stage(const std::optional<FileAccess>& protections);
    void fail(std::error_code error);

    FileDescriptor folder_;
    std::string name_;
    std::string tempName_;  // empty once committed or when staging failed
    std::shared_ptr<FileDescriptor> fd_;
    std::error_code error_;
    std::string accessLost_;
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
    // Runs just before a staged version is renamed into place, where a test
    // puts the fault that makes that rename fail.
    std::function<void()> beforeCommit;
};
FileSystemSeams& fileSystemSeams();

}  // namespace ondaline::platform
