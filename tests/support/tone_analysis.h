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

// Writes `seconds` of ffmpeg's sine (1/8 of full scale) as a FLAC file;
// with two channels each side is 3 dB lower.
void writeToneFLAC(const std::string& file, int sampleRate, int channels, double hz, double seconds);

// The samples from the first one louder than `threshold` on: where a source
// starts after the engine's silence or carrier.
std::vector<float> fromOnset(const std::vector<float>& samples, float threshold = 0.02f);

// Pitch from the rising zero crossings and level from the RMS, leaving out
// `margin` seconds at both ends.
Tone analyseTone(const std::vector<float>& samples, double sampleRate, double margin = 0.5);

// The pitch of short stretches from `from` seconds on, their median: a
// player or a capture that glitches under load spoils a stretch, not the
// pitch.
double medianPitch(const std::vector<float>& samples, double sampleRate, double from = 0.5);

// The level of tenths of a second from `from` seconds on, as a sine's peak
// in dBFS, their median: a player starved under load leaves gaps of
// silence in a stretch, not in the level.
double medianLevel(const std::vector<float>& samples, double sampleRate, double from = 0.5);

// Where a tone of `hz` is heard at `levelDBFS` (a sine's peak) or louder,
// judging each tenth of a second alone from `from` seconds on: another tone
// let through for a moment, which the medians pass over. By the tone's own
// frequency, not by zero crossings, which a tone's end ringing out in a
// codec sends high. As "0.1 s at -6 dBFS, …"; empty when nowhere.
std::string whereHeard(const std::vector<float>& samples, double sampleRate, double hz, double levelDBFS,
                       double from = 0);

}  // namespace ondaline::test
