#include "app/song_file.h"

#include "media/overlay_drawing.h"
#include "models/station_path.h"
#include "platform/file_rights/files.h"
#include "platform/text.h"

namespace ondaline::app {

platform::FileRead readSongFile(const std::string& path, const platform::NamedFileRules& rules, std::size_t limit)
{
    return platform::readNamedFile(path, rules, limit);
}

std::string songFilePath(const NowPlayingConfig& settings)
{
    if (!settings.filePath.empty()) return settings.filePath;
    return StationPath::songFile();
}

std::optional<SongTitle> songTitleFromText(std::string_view text, const std::string& delimiter, bool multiRow)
{
    if (!platform::isValidUTF8(text)) return std::nullopt;
    const std::string_view trimmed = platform::trimWhitespaceAndNewlines(text);
    if (trimmed.empty()) return std::nullopt;
    // Its lines may be rows of the title; nothing else in it drives a screen.
    const std::string shown = platform::withControlsShown(trimmed, platform::LineBreaks::keep);

    return SongTitle{media::joinSongFields(shown, delimiter, multiRow ? "\n" : " - "),
                     media::joinSongFields(shown, delimiter, " - ")};
}

std::string replaceLineBreaks(std::string_view text, std::string_view joiner)
{
    std::string result;
    result.reserve(text.size());
    for (const char c : text) {
        if (c == '\n') result += joiner;
        else result += c;
    }
    return result;
}

std::string lastPathComponent(std::string_view path)
{
    const auto slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

}  // namespace ondaline::app
