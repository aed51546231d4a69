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

// The audio packets' timestamps in milliseconds, in file order.
std::vector<long> audioPacketTimes(const std::string& file);

// Audio minus video, in milliseconds, around each of `seconds` of the video
// track: nginx records messages as they arrive, so at any point of the file
// the newest audio and video timestamps were sent at the same moment. The
// median over the second around each point smooths the audio's bursts.
std::vector<double> avOffsetsAt(const std::string& file, const std::vector<double>& seconds);

// How far apart the sound and the picture may be sent and still be level:
// the engine fills in missing sound once it is 100 ms behind, and on a
// busy machine its sound and picture threads send up to some 80 ms apart
// besides. Sound not filled in is off by seconds, or by half a second for
// a sender's wild samples. Sound stamped off its time, which this allows,
// is judged exactly by audioStampsOffTheirFrames.
inline constexpr double kLevelWithThePictureMs = 250;

// The first audio timestamp minus the first video timestamp, in milliseconds.
double avStartOffset(const std::string& file);

// How far, at most, an audio packet's timestamp is from the time of the
// frames before it (1024 to each AAC packet) since the stream began, in
// milliseconds. The engine stamps the sound by what it sent, silence filled
// in included: against that it is exact, however busy the machine, where
// the offsets from the picture above move with the source's delivery.
double audioStampsOffTheirFrames(const std::string& file);

// What ffmpeg complains of while decoding the whole file; empty when clean.
std::string decodeErrors(const std::string& file);

}  // namespace ondaline::test
