#include "models/named_paths.h"

#include "models/station_path.h"

#include <algorithm>

namespace ondaline {

namespace {

// Each path field of the record, with what it names for the lines.
template <typename Record, typename Visit>
void forEachPath(Record& record, Visit visit)
{
    visit(record.nowPlaying.filePath, "Song file");
    visit(record.defaultImagePath, "Default image");
    for (auto& entry : record.entries) visit(entry.imagePath, "Scheduled image");
}

}  // namespace

std::set<std::string> namedPaths(const ImageScheduleConfig& record)
{
    std::set<std::string> paths;
    forEachPath(record, [&](const std::string& path, const char*) {
        if (!path.empty()) paths.insert(path);
    });
    return paths;
}

bool holdsPathsOthersNamedElsewhere(const ImageScheduleConfig& record)
{
    const auto& byOthers = record.origin.namedByOthers;
    if (byOthers.paths.empty() || byOthers.rules.folder == StationPath::load()) return false;
    const std::set<std::string> named = namedPaths(record);
    return std::any_of(named.begin(), named.end(),
                       [&](const std::string& path) { return byOthers.paths.contains(path); });
}

std::vector<LeftBehind> leaveBehind(const ImageScheduleConfig& record, ImageScheduleConfig& written)
{
    const auto& byOthers = record.origin.namedByOthers;
    const std::string who = byOthers.rules.readAs ? byOthers.rules.readAs->who : std::string("others");
    std::vector<LeftBehind> left;
    forEachPath(written, [&](std::string& path, const char* what) {
        if (path.empty() || !byOthers.paths.contains(path)) return;
        if (std::none_of(left.begin(), left.end(), [&](const LeftBehind& l) { return l.path == path; }))
            left.push_back({what, path, who + " may change the settings it came from"});
        path.clear();
    });
    return left;
}

void dropLeftBehind(ImageScheduleConfig& record, const std::vector<LeftBehind>& left)
{
    forEachPath(record, [&](std::string& path, const char*) {
        if (std::any_of(left.begin(), left.end(), [&](const LeftBehind& l) { return l.path == path; })) path.clear();
    });
}

}  // namespace ondaline
