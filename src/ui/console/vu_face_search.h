#pragma once

// Where the meter looks for its face image, and the look itself.

#include <QImage>

#include <optional>
#include <string>
#include <vector>

namespace ondaline::ui {

inline constexpr const char* vuFaceFileName = "Ondaline_Just_VU.png";

// What the candidate folders are made of, gathered from the process by
// currentFacePlaces().
struct VUFacePlaces {
    std::string workingDirectory;
    std::optional<std::string> sourceDir;        // $SOURCE_DIR, when set
    std::string argv0;                           // the first command-line argument
    std::optional<std::string> argv0LinkTarget;  // as stored in the link, when argv0 is one
    std::string stationFolder;
    std::string home;
};

VUFacePlaces currentFacePlaces();

// The face's candidate paths, in search order: the working directory,
// SOURCE_DIR, the executable's folder (the working directory again when
// argv0 names no folder), three folders above it, the link target's folder,
// the station's "Misc/System/Streamer", home, home's Desktop.
std::vector<std::string> vuFaceCandidates(const VUFacePlaces& places);

// Tries the candidates in order, logging each, and answers the first that
// loads as an image; a null image, after logging so, when none does.
QImage loadVUFace(const std::vector<std::string>& candidates);

}  // namespace ondaline::ui
