#pragma once

// Measuring a recorded tone: decoding with ffmpeg and reading its pitch and
// level.

#include <string>
#include <vector>

namespace ondaline::test {

struct Tone {
    double hz = 0;
    double peakDBFS = -1000;  // the RMS level expressed as a sine's peak
};

// The first channel of `file`, decoded to 32-bit float at its own rate.
std::vector<float> decodeFirstChannel(const std::string& file);

// Pitch from the rising zero crossings and level from the RMS, leaving out
// `margin` seconds at both ends.
Tone analyseTone(const std::vector<float>& samples, double sampleRate, double margin = 0.5);

}  // namespace ondaline::test
