#pragma once

// The now-playing file and the titles shown from it, without any widget:
// what the song poller reads, and how the file's text becomes the text on
// the dashboard, the picture and the Icecast server.

#include "models/overlay_configs.h"
#include "platform/file_rights/named_file.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace ondaline::app {

// Anything larger is not a title file.
inline constexpr std::size_t maxSongFileBytes = 1024 * 1024;

// The whole text of `path` when it is a regular file of at most `limit`
// bytes, reached and read by `rules`; why not, for anything else. Opened
// without blocking and judged on the opened descriptor, so a FIFO or a
// device named as the file never stalls the caller.
platform::FileRead readSongFile(const std::string& path, const platform::NamedFileRules& rules,
                                std::size_t limit = maxSongFileBytes);

// The configured file, or the station folder's default one (looked up anew).
std::string songFilePath(const NowPlayingConfig& settings);

struct SongTitle {
    std::string display;  // for the picture: fields joined by line breaks or " - "
    std::string icecast;  // always joined by " - "
};

// The title a file's text gives; none when it is not UTF-8 or holds only
// white space. Fields are split at the whole delimiter and kept untrimmed.
std::optional<SongTitle> songTitleFromText(std::string_view text, const std::string& delimiter, bool multiRow);

// `text` with every line break replaced by `joiner`.
std::string replaceLineBreaks(std::string_view text, std::string_view joiner);

// The text after the last "/", or the whole path.
std::string lastPathComponent(std::string_view path);

}  // namespace ondaline::app
