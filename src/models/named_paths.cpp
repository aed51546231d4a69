#include "models/named_paths.h"

#include "platform/file_rights/named_file.h"

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

std::vector<LeftBehind> leaveBehind(const ImageScheduleConfig& record, ImageScheduleConfig& written)
{
    const auto& byOthers = record.origin.namedByOthers;
    platform::NamedFileRules rules = byOthers.rules;
    rules.changing = "the settings it came from";
    std::vector<LeftBehind> left;
    forEachPath(written, [&](std::string& path, const char* what) {
        if (path.empty() || !byOthers.paths.contains(path)) return;
        const auto told = std::find_if(left.begin(), left.end(), [&](const LeftBehind& l) { return l.path == path; });
        if (told == left.end()) {
            platform::FileDescriptor file;
            const platform::FileRead opened = platform::openNamedFile(path, rules, file);
            if (opened.problem == platform::FileProblem::none) return;
            left.push_back({what, path,
                            opened.problem == platform::FileProblem::refused ? opened.detail : opened.reason()});
        }
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
