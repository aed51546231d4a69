#include "platform/file_rights/staged_file.h"

#include "platform/file_descriptor.h"
#include "platform/file_rights/file_protections.h"
#include "platform/file_rights/files.h"
#include "platform/random_bytes.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <memory>
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

// Makes a new name, or a rename, in `folder` durable; an O_PATH descriptor
// cannot be flushed, so the folder is opened again through it.
void syncFolder(int folder)
{
    const FileDescriptor readable(::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (readable.isOpen()) ::fsync(readable.get());
}

// Six letters and digits, as mkstemp's XXXXXX.
std::string randomSuffix()
{
    constexpr std::string_view letters = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::uint8_t bytes[kTempRandomLength];
    if (!randomBytes(bytes)) {
        // No generator: a count still finds a free name within the tries.
        static std::atomic<std::uint64_t> count{0};
        std::uint64_t n = count++ ^ (static_cast<std::uint64_t>(::getpid()) << 24);
        for (auto& byte : bytes) {
            byte = static_cast<std::uint8_t>(n % letters.size());
            n /= letters.size();
        }
    }
    std::string suffix;
    for (const std::uint8_t byte : bytes) suffix += letters[byte % letters.size()];
    return suffix;
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

// Copies the regular file `name` to `copy` in `folder`, a name claimed only
// while no file has it, with the same bytes and protections, flushed to disk.
std::error_code copyUnderNewName(int folder, const std::string& name, const std::string& copy)
{
    const FileDescriptor from(::openat(folder, name.c_str(),
                                       O_RDONLY | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC));
    if (!from.isOpen()) return lastError();
    struct stat old {};
    if (::fstat(from.get(), &old) != 0) return lastError();
    if (!S_ISREG(old.st_mode)) return std::make_error_code(std::errc::not_supported);
    const int to = ::openat(folder, copy.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (to < 0) return lastError();
    std::error_code error;
    if (!copyBytes(from.get(), to)) error = lastError();
    if (!error) error = takeProtections(to, old, old.st_mode & 0777);
    if (!error && ::fsync(to) != 0) error = lastError();
    if (::close(to) != 0 && !error) error = lastError();
    if (error) {
        ::unlinkat(folder, copy.c_str(), 0);
        return error;
    }
    syncFolder(folder);
    return {};
}

// The users and groups an access list names, for messages: "user bob and
// group staff".
std::string namesOf(const FileAccess& access)
{
    std::vector<std::string> names;
    for (const auto& user : access.users) {
        const std::string name = userName(user.id);  // "user 1234" where there is no name
        names.push_back(name.starts_with("user ") ? name : "user " + name);
    }
    for (const auto& group : access.groups) {
        const std::string name = groupName(group.id);
        names.push_back(name.starts_with("group ") ? name : "group " + name);
    }
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i)
        text += (i == 0 ? "" : i + 1 < names.size() ? ", " : " and ") + names[i];
    return text;
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

StagedFile::StagedFile(int folder, std::string name, const std::optional<FileAccess>& protections)
    : folder_(::fcntl(folder, F_DUPFD_CLOEXEC, 0)), name_(std::move(name))
{
    if (!folder_.isOpen()) {
        error_ = lastError();
        return;
    }
    stage(protections);
}

StagedFile::StagedFile(const std::string& path, std::string_view contents)
    : folder_(::open(folderOf(path).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC)), name_(nameOf(path))
{
    if (!folder_.isOpen()) {
        error_ = lastError();
        return;
    }
    const FileDescriptor old(::openat(folder_.get(), name_.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    struct stat info {};
    const bool regular = old.isOpen() && ::fstat(old.get(), &info) == 0 && S_ISREG(info.st_mode);
    stage(regular ? accessOf(old.get()) : std::nullopt);
    if (!error_) fail(write(contents));
}

void StagedFile::fail(std::error_code error)
{
    if (!error) return;
    error_ = error;
    fd_.reset();
    if (!tempName_.empty()) ::unlinkat(folder_.get(), tempName_.c_str(), 0);
    tempName_.clear();
}

void StagedFile::stage(const std::optional<FileAccess>& protections)
{
    int fd = -1;
    for (int tries = 0; fd < 0 && tries < 100; ++tries) {
        tempName_ = name_ + std::string(kTempInfix) + randomSuffix();
        fd = ::openat(folder_.get(), tempName_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) {
        error_ = lastError();
        tempName_.clear();
        return;
    }
    fd_ = std::make_shared<FileDescriptor>(fd);

    // The file starts private, and takes its protections before it gets
    // its bytes. A file its owner could not read back would be kept aside
    // at every save.
    if (protections) {
        FileAccess given = *protections;
        given.ownerRights |= kMayRead;
        // Owner and group first: changing them clears the set-id bits.
        struct stat now {};
        if (const auto error = giveOwnerAndGroup(fd, given.owner, given.group, now)) return fail(error);
        // Never wider: a group it could not have (one we are not a member
        // of, a file system that keeps no groups) gets nothing.
        if (now.st_gid != given.group) given.groupRights = 0;
        given.owner = now.st_uid;
        given.group = now.st_gid;
        if (const auto error = setAccess(fd, given)) {
            if (!given.hasNamedEntries()) return fail(error);
            // A share that keeps no lists, or only read-only ones, still
            // saves: with the mode bits, and the entries lost are told.
            FileAccess plain = given;
            plain.users.clear();
            plain.groups.clear();
            if (const auto again = setAccess(fd, plain)) return fail(again);
            accessLost_ = namesOf(given) + " (" + error.message() + ")";
        }
    } else if (::fchmod(fd, 0666 & ~currentUmask()) != 0) {
        return fail(lastError());
    }
}

std::error_code StagedFile::write(std::string_view contents)
{
    if (error_) return error_;
    if (!fd_) return std::make_error_code(std::errc::invalid_argument);
    if (!writeAll(fd_->get(), contents) || ::fsync(fd_->get()) != 0) {
        const std::error_code error = lastError();
        fail(error);
        return error;
    }
    // Held from now on without the right to write, which a watcher would
    // see closed only when the hold ends, long after the file is in place.
    auto held = std::make_shared<FileDescriptor>(::open(("/proc/self/fd/" + std::to_string(fd_->get())).c_str(),
                                                        O_PATH | O_CLOEXEC));
    if (!held->isOpen()) {
        const std::error_code error = lastError();
        fail(error);
        return error;
    }
    fd_ = std::move(held);
    return {};
}

StagedFile::~StagedFile()
{
    if (!tempName_.empty()) ::unlinkat(folder_.get(), tempName_.c_str(), 0);
}

std::error_code StagedFile::commit()
{
    if (error_) return error_;
    if (tempName_.empty()) return std::make_error_code(std::errc::invalid_argument);  // committed already
    if (const auto& fault = fileSystemSeams().beforeCommit) fault();
    if (::renameat(folder_.get(), tempName_.c_str(), folder_.get(), name_.c_str()) != 0) return lastError();
    tempName_.clear();
    syncFolder(folder_.get());
    return {};
}

std::vector<RemovedFile> StagedFile::removeLeftovers(int folder, const std::string& shownFolder,
                                                     const std::string& name, std::chrono::seconds age)
{
    std::vector<RemovedFile> removed;
    const std::time_t before = std::time(nullptr) - static_cast<std::time_t>(age.count());
    for (const std::string& entry : namesInFolder(folder)) {
        if (!isTemporaryOf(entry, name)) continue;
        struct stat info {};
        if (::fstatat(folder, entry.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if (!S_ISREG(info.st_mode) || info.st_uid != ::geteuid() || info.st_mtime > before) continue;
        if (::unlinkat(folder, entry.c_str(), 0) == 0)
            removed.push_back({shownFolder + "/" + entry, static_cast<std::uintmax_t>(info.st_size)});
    }
    return removed;
}

std::error_code keepUnderNewName(int folder, const std::string& name, const std::string& copy, KeptBy& how)
{
    const FileSystemSeams& seams = fileSystemSeams();
    if (!seams.refuseLinks && ::linkat(folder, name.c_str(), folder, copy.c_str(), 0) == 0) {
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
        moved = ::renameat2(folder, name.c_str(), folder, copy.c_str(), RENAME_NOREPLACE) == 0 ? 0 : errno;
    if (moved == 0) {
        how = KeptBy::move;
        return {};
    }
    // A file system that cannot rename without replacing (EINVAL), or a
    // kernel without renameat2 (ENOSYS): the bytes are copied.
    if (moved != EINVAL && moved != ENOSYS && moved != EOPNOTSUPP) return {moved, std::generic_category()};
    if (const auto error = copyUnderNewName(folder, name, copy)) return error;
    how = KeptBy::copy;
    return {};
}

}  // namespace ondaline::platform
