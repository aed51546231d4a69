#pragma once

#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace ondaline::platform {

// Sample-rate conversion of interleaved 32-bit float PCM through
// libswresample. The filter state carries over from block to block, so a
// stream converted block by block keeps its pitch and its duration.
class Resampler {
public:
    static std::unique_ptr<Resampler> create(int inputRate, int outputRate, int channels);
    ~Resampler();

    Resampler(const Resampler&) = delete;
    Resampler& operator=(const Resampler&) = delete;

    struct Conversion {
        std::vector<float> interleaved;    // the converted frames available so far (the filter holds a few back)
        std::optional<std::string> error;  // libswresample's reason when the block could not be converted
    };
    Conversion convert(std::span<const float> interleaved);

    int inputRate() const { return inputRate_; }
    int outputRate() const { return outputRate_; }
    int channels() const { return channels_; }

    struct Context;

private:
    Resampler(std::unique_ptr<Context> context, int inputRate, int outputRate, int channels);

    std::unique_ptr<Context> context_;
    int inputRate_, outputRate_, channels_;
};

}  // namespace ondaline::platform
