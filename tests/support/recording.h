#pragma once

// What the nginx-rtmp peer recorded, looked at with ffprobe and ffmpeg.

#include <string>
#include <vector>

namespace ondaline::test {

// The recordings of one stream key in nginx's record folder ("<key>-<stamp>.flv").
std::vector<std::string> recordingsOf(const std::string& recordDir, const std::string& key);

// The (last) recording of a stream key; empty when there is none.
std::string recordingOf(const std::string& recordDir, const std::string& key);

// ffprobe's "key=value" lines for `entries` of the first audio stream.
std::string probeAudio(const std::string& file, const std::string& entries);

// The audio track's own span, first packet to the end of the last: the video
// track beside it starts and ends on its own schedule.
double audioSpan(const std::string& file);

// What ffmpeg complains of while decoding the whole file; empty when clean.
std::string decodeErrors(const std::string& file);

}  // namespace ondaline::test
