#include "ui/console/vu_face_search.h"

#include "base/print.h"

#include "models/station_path.h"
#include "platform/file_rights/files.h"
#include "platform/file_rights/named_file.h"

#include <QCoreApplication>
#include <QFile>

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace ondaline::ui {

namespace {

// Path arithmetic on text, the way the folders were always written in the
// log: no resolving, no tidying beyond the joint.
std::string withoutLastComponent(std::string path)
{
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return "";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string joined(std::string folder, const std::string& component)
{
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    if (folder.empty()) return component;
    if (folder == "/") return folder + component;
    return folder + "/" + component;
}

}  // namespace

VUFacePlaces currentFacePlaces()
{
    VUFacePlaces places;
    std::error_code error;
    places.workingDirectory = std::filesystem::current_path(error).string();
    if (const char* sourceDir = std::getenv("SOURCE_DIR")) places.sourceDir = sourceDir;
    const QStringList arguments = QCoreApplication::arguments();
    if (!arguments.isEmpty()) places.argv0 = QFile::encodeName(arguments.front()).toStdString();
    if (!places.argv0.empty()) {
        const auto target = std::filesystem::read_symlink(places.argv0, error);
        if (!error) places.argv0LinkTarget = target.string();
    }
    places.stationFolder = StationPath::load();
    places.home = platform::homeDirectory();
    return places;
}

std::vector<std::string> vuFaceCandidates(const VUFacePlaces& places)
{
    std::string executableFolder = withoutLastComponent(places.argv0);
    if (executableFolder.empty() || executableFolder == ".") executableFolder = places.workingDirectory;
    // Three levels up, lexically, so a relative executable folder works too.
    const std::string above = (std::filesystem::path(executableFolder) / "../../..").lexically_normal().string();

    std::vector<std::string> folders{places.workingDirectory};
    if (places.sourceDir) folders.push_back(*places.sourceDir);
    folders.push_back(executableFolder);
    folders.push_back(above);
    if (places.argv0LinkTarget) folders.push_back(withoutLastComponent(*places.argv0LinkTarget));
    folders.push_back(StationPath::streamerFolder(places.stationFolder));
    folders.push_back(places.home);
    folders.push_back(joined(places.home, "Desktop"));

    std::vector<std::string> candidates;
    candidates.reserve(folders.size());
    for (const auto& folder : folders) candidates.push_back(joined(folder, vuFaceFileName));
    return candidates;
}

QImage loadVUFace(const std::vector<std::string>& candidates)
{
    for (const auto& path : candidates) {
        std::error_code error;
        const bool exists = std::filesystem::exists(path, error);
        print("VUMeter: Checking " + path + " — exists: " + (exists ? "true" : "false"));
        if (!exists) continue;
        // Never a FIFO or a device, nor another user's link on the way. The
        // places searched are the program's own, the working folder among
        // them, where a relative one lies.
        const std::string absolute = std::filesystem::absolute(path, error).string();
        const auto bytes = platform::readNamedFile(error ? path : absolute, {}).contents;
        QImage image;
        if (!bytes ||
            !image.loadFromData(reinterpret_cast<const uchar*>(bytes->data()), static_cast<int>(bytes->size())))
            continue;
        print("VUMeter: ✅ Loaded meter face from " + path + " (" + std::to_string(image.width()) + "×" +
              std::to_string(image.height()) + ")");
        return image;
    }
    print("VUMeter: ❌ Meter face image not found!");
    return {};
}

}  // namespace ondaline::ui
