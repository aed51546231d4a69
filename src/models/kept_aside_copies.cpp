#include "models/kept_aside_copies.h"

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <optional>
#include <regex>
#include <tuple>

namespace ondaline {

namespace {

// A kept copy's stamp and counter, to order copies by; absent for a name
// that is not one of ours.
std::optional<std::tuple<std::string, long>> stampOf(const std::string& name, const std::string& file)
{
    static const std::regex kept(R"(\.(replaced|unreadable|edited)-(\d{8}-\d{6})(?:-(\d{1,9}))?)");
    std::smatch match;
    if (!name.starts_with(file) || !std::regex_match(name.cbegin() + file.size(), name.cend(), match, kept))
        return std::nullopt;
    return std::tuple{match[2].str(), match[3].matched ? std::stol(match[3].str()) : 1L};
}

}  // namespace

std::variant<KeptCopy, std::error_code> keepAsideWithStamp(const std::string& file, const char* why)
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    const std::string base = file + "." + why + "-" + stamp;

    // Each name is claimed by the link or move itself, so two savers (or a
    // copy made by hand) never end up with one name.
    KeptCopy copy;
    for (long n = 1; n <= 100000; ++n) {
        copy.path = n == 1 ? base : base + "-" + std::to_string(n);
        const std::error_code error = platform::keepUnderNewName(file, copy.path, copy.how);
        if (!error) return copy;
        if (error != std::errc::file_exists) return error;
    }
    return std::make_error_code(std::errc::file_exists);
}

void undoKeepAside(const std::string& file, const KeptCopy& copy)
{
    if (copy.how == platform::KeptBy::move) std::rename(copy.path.c_str(), file.c_str());
    else std::remove(copy.path.c_str());
}

std::string newestKeptAsideCopy(const std::string& file)
{
    namespace fs = std::filesystem;
    const fs::path path(file);
    const std::string name = path.filename().string();
    std::error_code error;
    std::string newest;
    std::tuple<std::string, long> newestStamp;
    for (fs::directory_iterator entry(path.parent_path(), error); !error && entry != fs::directory_iterator();
         entry.increment(error)) {
        const auto stamp = stampOf(entry->path().filename().string(), name);
        if (stamp && (newest.empty() || *stamp > newestStamp)) {
            newest = entry->path().string();
            newestStamp = *stamp;
        }
    }
    return newest;
}

}  // namespace ondaline
