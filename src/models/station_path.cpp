#include "models/station_path.h"

#include "platform/file_rights/files.h"
#include "platform/preferences.h"
#include "platform/text.h"

namespace ondaline {

const std::string& StationPath::dotFile()
{
    static const std::string path = [] {
        const std::string home = platform::homeDirectory();
        return home + (home.ends_with('/') ? "" : "/") + ".ondaline_station";
    }();
    return path;
}

std::string StationPath::load()
{
    if (const auto text = platform::readFile(dotFile()); text && platform::isValidUTF8(*text)) {
        const auto trimmed = platform::trimWhitespaceAndNewlines(*text);
        if (!trimmed.empty()) return std::string(trimmed);
    }
    if (auto shared = platform::sharedPreferenceString("com.quillmere.shared", "StationFolderPath");
        shared && !shared->empty()) {
        return *shared;
    }
    return "/Station";
}

std::vector<std::string> StationPath::unusableSources()
{
    std::vector<std::string> unusable;
    for (const std::string& file : {dotFile(), platform::sharedPreferencesFile("com.quillmere.shared")}) {
        const platform::FileRead read = platform::readRegularFile(file);
        if (!read.contents && read.problem != platform::FileProblem::missing)
            unusable.push_back(file + ": " + read.reason());
    }
    return unusable;
}

std::string StationPath::musicFolder(const std::string& station) { return station + "/Music"; }

std::string StationPath::songFile(const std::string& station) { return station + "/Misc/System/current_song.txt"; }

std::string StationPath::crawlerFile(const std::string& station) { return station + "/Misc/System/crawler.txt"; }

std::string StationPath::streamerFolder(const std::string& station) { return station + "/Misc/System/Streamer"; }

void StationPath::save(std::string_view path) { (void)platform::writeFileAtomically(dotFile(), path); }

}  // namespace ondaline
