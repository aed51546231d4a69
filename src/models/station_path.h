#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace ondaline {

// The station folder, under which every file of the program lies. Looked up
// afresh on every call: the trimmed content of the home folder's
// ".ondaline_station", else "StationFolderPath" of the shared preferences
// suite "com.quillmere.shared", else "/Station".
class StationPath {
public:
    StationPath() = delete;

    // Never empty, never fails; the path is answered as found, whether or not
    // such a folder exists.
    static std::string load();

    // Makes `path` the station folder by writing it, unchanged, to the
    // pointer file (atomically). Failures are ignored.
    static void save(std::string_view path);

    // The files the program and the station's automation share, under
    // `station` (by default the folder load() finds).
    static std::string musicFolder(const std::string& station = load());     // the local player's playlist
    static std::string songFile(const std::string& station = load());        // the now-playing title
    static std::string crawlerFile(const std::string& station = load());     // the crawler line's text
    static std::string streamerFolder(const std::string& station = load());  // settings, stream key, VU face

    // The pointer file's path, fixed at its first use for the life of the
    // process.
    static const std::string& dotFile();

    // The lookup's sources that are there but could not be used (a FIFO, a
    // file it may not read, ...), each as "<path>: <reason>"; the lookup
    // passed over them as if they were missing.
    static std::vector<std::string> unusableSources();
};

}  // namespace ondaline
