#include "models/kept_aside_copies.h"

#include "platform/file_rights/file_access.h"
#include "platform/file_rights/files.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <optional>
#include <tuple>

namespace ondaline {

namespace {

constexpr const char* kReasons[] = {"replaced", "unreadable", "edited"};
constexpr std::string_view kStampPattern = "YYYYMMDD-HHMMSS";

// A kept copy's stamp and counter, to order copies by; absent for a name
// that is not one of ours.
std::optional<std::tuple<std::string, long>> stampOf(std::string_view name, std::string_view file)
{
    if (!name.starts_with(file) || name.size() <= file.size() || name[file.size()] != '.') return std::nullopt;
    std::string_view rest = name.substr(file.size() + 1);
    for (const std::string_view why : kReasons) {
        if (!rest.starts_with(why) || rest.substr(why.size(), 1) != "-") continue;
        rest.remove_prefix(why.size() + 1);
        if (rest.size() < kStampPattern.size()) return std::nullopt;
        const std::string stamp(rest.substr(0, kStampPattern.size()));
        for (std::size_t i = 0; i < stamp.size(); ++i) {
            if ((kStampPattern[i] == '-') != (stamp[i] == '-') ||
                (stamp[i] != '-' && (stamp[i] < '0' || stamp[i] > '9')))
                return std::nullopt;
        }
        rest.remove_prefix(kStampPattern.size());
        if (rest.empty()) return std::tuple{stamp, 1L};
        if (rest.size() < 2 || rest[0] != '-' || rest.size() > 10) return std::nullopt;
        long counter = 0;
        for (const char c : rest.substr(1)) {
            if (c < '0' || c > '9') return std::nullopt;
            counter = counter * 10 + (c - '0');
        }
        return std::tuple{stamp, counter};
    }
    return std::nullopt;
}

}  // namespace

std::variant<KeptCopy, std::error_code> keepAsideWithStamp(const platform::FilePlace& file, const char* why)
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    const std::string base = file.name + "." + why + "-" + stamp;

    // Each name is claimed by the link or move itself, so two savers (or a
    // copy made by hand) never end up with one name.
    KeptCopy copy;
    for (long n = 1; n <= 100000; ++n) {
        copy.name = n == 1 ? base : base + "-" + std::to_string(n);
        const std::error_code error = platform::keepUnderNewName(file.folder.get(), file.name, copy.name, copy.how);
        if (!error) {
            copy.path = file.folderPath() + "/" + copy.name;
            return copy;
        }
        if (error != std::errc::file_exists) return error;
    }
    return std::make_error_code(std::errc::file_exists);
}

std::error_code undoKeepAside(const platform::FilePlace& file, const KeptCopy& copy)
{
    const int folder = file.folder.get();
    const int failed = copy.how == platform::KeptBy::move
                           ? ::renameat(folder, copy.name.c_str(), folder, file.name.c_str())
                           : ::unlinkat(folder, copy.name.c_str(), 0);
    if (failed != 0) return {errno, std::generic_category()};
    return {};
}

std::string newestKeptAsideCopy(const platform::FilePlace& file, std::string* owner)
{
    if (!file.reached()) return {};
    std::string newest;
    std::tuple<std::string, long> newestStamp;
    for (const std::string& name : platform::namesInFolder(file.folder.get())) {
        const auto stamp = stampOf(name, file.name);
        if (stamp && (newest.empty() || *stamp > newestStamp)) {
            newest = name;
            newestStamp = *stamp;
        }
    }
    if (newest.empty()) return newest;
    struct stat info {};
    if (owner && ::fstatat(file.folder.get(), newest.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
        info.st_uid != ::geteuid())
        *owner = platform::userName(info.st_uid);
    return file.folderPath() + "/" + newest;
}

}  // namespace ondaline
