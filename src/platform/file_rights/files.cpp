#include "platform/file_rights/files.h"

#include "platform/file_descriptor.h"
#include "platform/file_rights/staged_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace ondaline::platform {

std::string FileRead::reason(std::size_t maxBytes) const
{
    switch (problem) {
    case FileProblem::none:
        return {};
    case FileProblem::missing:
        return error ? error.message() : "no such file";
    case FileProblem::notRegularFile:
        return "not a regular file";
    case FileProblem::tooLarge:
        if (maxBytes % (1024 * 1024) == 0) return "larger than " + std::to_string(maxBytes / (1024 * 1024)) + " MiB";
        return "larger than " + std::to_string(maxBytes) + " bytes";
    case FileProblem::unreadable:
        return error ? error.message() : "cannot be read";
    case FileProblem::refused:
        return detail;
    }
    return {};
}

namespace {

FileRead failed(FileProblem problem, int error = 0)
{
    FileRead result;
    result.problem = problem;
    if (error != 0) result.error = std::error_code(error, std::generic_category());
    return result;
}

FileRead failedWithErrno()
{
    const int error = errno;
    return failed(error == ENOENT || error == ENOTDIR ? FileProblem::missing : FileProblem::unreadable, error);
}

// Judges what a name or a descriptor refers to.
std::optional<FileProblem> problemWith(const struct stat& info, std::optional<std::size_t> maxBytes)
{
    if (!S_ISREG(info.st_mode)) return FileProblem::notRegularFile;
    if (maxBytes && info.st_size > 0 && static_cast<std::uintmax_t>(info.st_size) > *maxBytes)
        return FileProblem::tooLarge;
    return std::nullopt;
}

enum class Follow { links, none };

// Opens a regular file for reading without ever blocking: judged by name
// first, so that a device or a FIFO is not even opened, then again on the
// descriptor in case the name was replaced in between. O_NONBLOCK keeps an
// open that races with such a swap from waiting for a writer.
FileRead openRegularFile(int folder, const std::string& name, Follow follow, std::optional<std::size_t> maxBytes,
                         FileDescriptor& file)
{
    struct stat info {};
    const int statFlags = follow == Follow::links ? 0 : AT_SYMLINK_NOFOLLOW;
    if (::fstatat(folder, name.c_str(), &info, statFlags) != 0) return failedWithErrno();
    if (S_ISLNK(info.st_mode)) return failed(FileProblem::unreadable, ELOOP);
    if (const auto problem = problemWith(info, maxBytes)) return failed(*problem);
    const int openFlags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (follow == Follow::links ? 0 : O_NOFOLLOW);
    file.reset(::openat(folder, name.c_str(), openFlags));
    if (file.get() < 0) return failedWithErrno();
    if (::fstat(file.get(), &info) != 0) return failedWithErrno();
    if (const auto problem = problemWith(info, maxBytes)) return failed(*problem);
    FileRead opened;
    opened.opened = info;
    return opened;
}

// The rest of the file open at `file`, within `maxBytes`; `result` is what
// opening it said.
FileRead readAll(const FileDescriptor& file, std::size_t maxBytes, FileRead result)
{
    std::string contents;
    contents.reserve(std::min<std::size_t>(static_cast<std::size_t>(std::max<off_t>(result.opened.st_size, 0)),
                                           maxBytes) +
                     1);  // one read past the end sees it
    char buffer[16384];
    for (;;) {
        const ssize_t n = ::read(file.get(), buffer, sizeof buffer);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            return failed(FileProblem::unreadable, errno);
        }
        if (contents.size() + static_cast<std::size_t>(n) > maxBytes) return failed(FileProblem::tooLarge);  // it grew
        contents.append(buffer, static_cast<std::size_t>(n));
    }
    result.contents = std::move(contents);
    return result;
}

FileRead readOpened(int folder, const std::string& name, Follow follow, std::size_t maxBytes)
{
    FileDescriptor file;
    const FileRead opened = openRegularFile(folder, name, follow, maxBytes, file);
    if (opened.problem != FileProblem::none) return opened;
    return readAll(file, maxBytes, opened);
}

}  // namespace

FileRead readRegularFile(const std::string& path, std::size_t maxBytes)
{
    return readOpened(AT_FDCWD, path, Follow::links, maxBytes);
}

FileRead readRegularFileAt(int folder, const std::string& name, std::size_t maxBytes)
{
    return readOpened(folder, name, Follow::none, maxBytes);
}

FileRead openRegularFileAt(int folder, const std::string& name, FileDescriptor& file)
{
    return openRegularFile(folder, name, Follow::none, std::nullopt, file);
}

FileRead readOpenedFile(const FileDescriptor& file, const FileRead& opened, std::size_t maxBytes)
{
    if (opened.problem != FileProblem::none) return opened;
    if (opened.opened.st_size > 0 && static_cast<std::uintmax_t>(opened.opened.st_size) > maxBytes)
        return failed(FileProblem::tooLarge);
    return readAll(file, maxBytes, opened);
}

std::vector<std::string> namesInFolder(int folder)
{
    std::vector<std::string> names;
    const int readable = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (readable < 0) return names;
    DIR* listing = ::fdopendir(readable);
    if (!listing) {
        ::close(readable);
        return names;
    }
    while (const dirent* entry = ::readdir(listing)) {
        const std::string_view name = entry->d_name;
        if (name != "." && name != "..") names.emplace_back(name);
    }
    ::closedir(listing);
    return names;
}

std::optional<std::string> readFile(const std::string& path, std::size_t maxBytes)
{
    return readRegularFile(path, maxBytes).contents;
}

FileRead checkRegularFile(const std::string& path)
{
    FileDescriptor file;
    return openRegularFile(AT_FDCWD, path, Follow::links, std::nullopt, file);
}

std::error_code writeFileAtomically(const std::string& path, std::string_view contents)
{
    StagedFile staged(path, contents);
    if (staged.error()) return staged.error();
    return staged.commit();
}

std::string folderOf(const std::string& path)
{
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string homeDirectory()
{
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_dir) {
        return found->pw_dir;
    }
    return "/";
}

std::string configHomeDirectory()
{
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && config[0] == '/') return config;
    const std::string home = homeDirectory();
    return home + (home.ends_with('/') ? "" : "/") + ".config";
}

}  // namespace ondaline::platform
