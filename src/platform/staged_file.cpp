#include "platform/staged_file.h"

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

StagedFile::StagedFile(std::string path, std::string_view contents, StagedMode mode) : path_(std::move(path))
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

    // mkstemp makes the file private.
    struct stat old {};
    const bool keep = mode == StagedMode::keepOld && ::stat(path_.c_str(), &old) == 0;
    const mode_t permissions = keep ? (old.st_mode & 07777) : (0666 & ~currentUmask());
    if (::fchmod(fd, permissions) != 0 || !writeAll(fd, contents) || ::fsync(fd) != 0) error_ = lastError();
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
    if (::rename(tempPath_.c_str(), path_.c_str()) != 0) return lastError();
    tempPath_.clear();
    // Make the rename itself durable.
    const int dir = ::open(folderOf(path_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return {};
}

void StagedFile::removeLeftovers(const std::string& path, std::chrono::seconds age)
{
    const std::string folder = folderOf(path);
    const std::string name = nameOf(path);
    DIR* listing = ::opendir(folder.c_str());
    if (!listing) return;
    const std::time_t before = std::time(nullptr) - static_cast<std::time_t>(age.count());
    while (const dirent* entry = ::readdir(listing)) {
        if (!isTemporaryOf(entry->d_name, name)) continue;
        struct stat info {};
        if (::fstatat(::dirfd(listing), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if (!S_ISREG(info.st_mode) || info.st_uid != ::geteuid() || info.st_mtime > before) continue;
        ::unlinkat(::dirfd(listing), entry->d_name, 0);
    }
    ::closedir(listing);
}

std::error_code keepUnderNewName(const std::string& path, const std::string& copy, KeptBy& how)
{
    if (::link(path.c_str(), copy.c_str()) == 0) {
        how = KeptBy::link;
        return {};
    }
    // Refused links: a file of another owner under the kernel's link
    // protection, a file system without them, a file with too many.
    const int refused = errno;
    if (refused != EPERM && refused != EXDEV && refused != EOPNOTSUPP && refused != EMLINK && refused != ENOSYS)
        return {refused, std::generic_category()};
    if (::renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, copy.c_str(), RENAME_NOREPLACE) != 0) return lastError();
    how = KeptBy::move;
    return {};
}

}  // namespace ondaline::platform
