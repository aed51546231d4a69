#include "platform/staged_file.h"

#include "platform/file_descriptor.h"
#include "platform/file_protections.h"
#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <vector>

namespace ondaline::platform {

namespace {

constexpr std::string_view kTempInfix = ".tmp-";
constexpr std::size_t kTempRandomLength = 6;  // mkstemp's XXXXXX

std::error_code lastError() { return {errno, std::generic_category()}; }

bool writeAll(int fd, std::string_view contents)
{
    while (!contents.empty()) {
        const ssize_t n = ::write(fd, contents.data(), contents.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        contents.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

mode_t currentUmask()
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

std::string nameOf(const std::string& path) { return path.substr(path.rfind('/') + 1); }

// Makes a new name, or a rename, in the folder of `path` durable.
void syncFolderOf(const std::string& path)
{
    const FileDescriptor folder(::open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.isOpen()) ::fsync(folder.get());
}

bool copyBytes(int from, int to)
{
    char buffer[16384];
    for (;;) {
        const ssize_t n = ::read(from, buffer, sizeof buffer);
        if (n == 0) return true;
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (!writeAll(to, std::string_view(buffer, static_cast<std::size_t>(n)))) return false;
    }
}

// Copies the regular file at `path` to `copy`, a name claimed only while no
// file has it, with the same bytes and protections, flushed to disk.
std::error_code copyUnderNewName(const std::string& path, const std::string& copy)
{
    const FileDescriptor from(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!from.isOpen()) return lastError();
    struct stat old {};
    if (::fstat(from.get(), &old) != 0) return lastError();
    if (!S_ISREG(old.st_mode)) return std::make_error_code(std::errc::not_supported);
    const int to = ::open(copy.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (to < 0) return lastError();
    std::error_code error;
    if (!copyBytes(from.get(), to)) error = lastError();
    if (!error) error = takeProtections(to, old, old.st_mode & 0777);
    if (!error && ::fsync(to) != 0) error = lastError();
    if (::close(to) != 0 && !error) error = lastError();
    if (error) {
        ::unlink(copy.c_str());
        return error;
    }
    syncFolderOf(copy);
    return {};
}

// "<name>.tmp-" and six of mkstemp's letters, nothing more.
bool isTemporaryOf(std::string_view entry, std::string_view name)
{
    if (entry.size() != name.size() + kTempInfix.size() + kTempRandomLength) return false;
    if (!entry.starts_with(name) || entry.substr(name.size(), kTempInfix.size()) != kTempInfix) return false;
    for (const char c : entry.substr(name.size() + kTempInfix.size())) {
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (!letter) return false;
    }
    return true;
}

}  // namespace

FileSystemSeams& fileSystemSeams()
{
    static FileSystemSeams seams;
    return seams;
}

StagedFile::StagedFile(std::string path, std::string_view contents) : path_(std::move(path))
{
    std::string pattern = path_ + std::string(kTempInfix) + std::string(kTempRandomLength, 'X');
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) {
        error_ = lastError();
        return;
    }
    tempPath_ = name.data();

    // mkstemp makes the file private. A folder, a FIFO or a device in the
    // file's place says nothing of what a file there should be; a file its
    // owner could not read back would be kept aside at every save.
    struct stat old {};
    if (::stat(path_.c_str(), &old) == 0 && S_ISREG(old.st_mode))
        error_ = takeProtections(fd, old, (old.st_mode & 0777) | S_IRUSR);
    else if (::fchmod(fd, 0666 & ~currentUmask()) != 0) error_ = lastError();
    if (!error_ && (!writeAll(fd, contents) || ::fsync(fd) != 0)) error_ = lastError();
    if (::close(fd) != 0 && !error_) error_ = lastError();
    if (error_) {
        ::unlink(tempPath_.c_str());
        tempPath_.clear();
    }
}

StagedFile::~StagedFile()
{
    if (!tempPath_.empty()) ::unlink(tempPath_.c_str());
}

std::error_code StagedFile::commit()
{
    if (error_) return error_;
    if (tempPath_.empty()) return std::make_error_code(std::errc::invalid_argument);  // committed already
    if (const auto& fault = fileSystemSeams().beforeCommit) fault();
    if (::rename(tempPath_.c_str(), path_.c_str()) != 0) return lastError();
    tempPath_.clear();
    syncFolderOf(path_);
    return {};
}

std::vector<RemovedFile> StagedFile::removeLeftovers(const std::string& path, std::chrono::seconds age)
{
    const std::string folder = folderOf(path);
    const std::string name = nameOf(path);
    std::vector<RemovedFile> removed;
    DIR* listing = ::opendir(folder.c_str());
    if (!listing) return removed;
    const std::time_t before = std::time(nullptr) - static_cast<std::time_t>(age.count());
    while (const dirent* entry = ::readdir(listing)) {
        if (!isTemporaryOf(entry->d_name, name)) continue;
        struct stat info {};
        if (::fstatat(::dirfd(listing), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if (!S_ISREG(info.st_mode) || info.st_uid != ::geteuid() || info.st_mtime > before) continue;
        if (::unlinkat(::dirfd(listing), entry->d_name, 0) == 0)
            removed.push_back({folder + "/" + entry->d_name, static_cast<std::uintmax_t>(info.st_size)});
    }
    ::closedir(listing);
    return removed;
}

std::error_code keepUnderNewName(const std::string& path, const std::string& copy, KeptBy& how)
{
    const FileSystemSeams& seams = fileSystemSeams();
    if (!seams.refuseLinks && ::link(path.c_str(), copy.c_str()) == 0) {
        how = KeptBy::link;
        return {};
    }
    // Refused links: a file of another owner under the kernel's link
    // protection, a file system without them, a file with too many.
    const int refused = seams.refuseLinks ? EPERM : errno;
    if (refused != EPERM && refused != EXDEV && refused != EOPNOTSUPP && refused != EMLINK && refused != ENOSYS)
        return {refused, std::generic_category()};
    int moved = EINVAL;
    if (!seams.refuseNoReplaceRenames)
        moved = ::renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, copy.c_str(), RENAME_NOREPLACE) == 0 ? 0 : errno;
    if (moved == 0) {
        how = KeptBy::move;
        return {};
    }
    // A file system that cannot rename without replacing (EINVAL), or a
    // kernel without renameat2 (ENOSYS): the bytes are copied.
    if (moved != EINVAL && moved != ENOSYS && moved != EOPNOTSUPP) return {moved, std::generic_category()};
    if (const auto error = copyUnderNewName(path, copy)) return error;
    how = KeptBy::copy;
    return {};
}

}  // namespace ondaline::platform
