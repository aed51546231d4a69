#pragma once

// Decodes an audio file (anything libavformat reads; the player's are FLAC)
// to 44100 Hz stereo float in two planes, block by block. A mono file is
// heard on both sides at full level; more than two channels are mixed down.

#include "platform/file_rights/named_file.h"

#include <cstddef>
#include <memory>
#include <string>

namespace ondaline::platform {

class AudioFileReader {
public:
    static constexpr int outputRate = 44100;
    static constexpr int outputChannels = 2;

    // Null, with `error` set, when the file does not open as audio. The file
    // is reached as `rules` say (no other user's link followed) and opened
    // once; the decoder reads that very file.
    static std::unique_ptr<AudioFileReader> open(const std::string& path, std::string& error,
                                                 const NamedFileRules& rules = {});
    ~AudioFileReader();

    AudioFileReader(const AudioFileReader&) = delete;
    AudioFileReader& operator=(const AudioFileReader&) = delete;

    // Fills up to `frames` frames of each plane; fewer only at the end of the
    // file (0 once it is reached). A decoding error ends the file early.
    std::size_t read(float* left, float* right, std::size_t frames);

    // The file's own format.
    int fileSampleRate() const;
    int fileChannels() const;

    struct Decoder;

private:
    explicit AudioFileReader(std::unique_ptr<Decoder> decoder);
    std::unique_ptr<Decoder> decoder_;
};

}  // namespace ondaline::platform
