#include "app/song_file.h"

#include "media/overlay_drawing.h"
#include "models/station_path.h"
#include "platform/text.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ondaline::app {

namespace {

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor()
    {
        if (fd_ >= 0) ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

bool isSmallRegularFile(const struct stat& info, std::size_t limit)
{
    return S_ISREG(info.st_mode) && info.st_size >= 0 && static_cast<std::size_t>(info.st_size) <= limit;
}

}  // namespace

std::optional<std::string> readSongFile(const std::string& path, std::size_t limit)
{
    // Judged by name first so that a device is not even opened, then again
    // on the descriptor in case the name was replaced in between.
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !isSmallRegularFile(info, limit)) return std::nullopt;
    const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (file.get() < 0 || ::fstat(file.get(), &info) != 0 || !isSmallRegularFile(info, limit)) return std::nullopt;

    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t count = ::read(file.get(), buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) continue;
        if (count < 0) return std::nullopt;
        if (count == 0) return text;
        text.append(buffer, static_cast<std::size_t>(count));
        if (text.size() > limit) return std::nullopt;  // it grew meanwhile
    }
}

std::string songFilePath(const NowPlayingConfig& settings)
{
    if (!settings.filePath.empty()) return settings.filePath;
    return StationPath::load() + "/Misc/System/current_song.txt";
}

std::optional<SongTitle> songTitleFromText(std::string_view text, const std::string& delimiter, bool multiRow)
{
    if (!platform::isValidUTF8(text)) return std::nullopt;
    const std::string_view trimmed = platform::trimWhitespaceAndNewlines(text);
    if (trimmed.empty()) return std::nullopt;

    return SongTitle{media::joinSongFields(trimmed, delimiter, multiRow ? "\n" : " - "),
                     media::joinSongFields(trimmed, delimiter, " - ")};
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
