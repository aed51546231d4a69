#pragma once

// BGRA pictures into planar I420 (BT.709, limited range) for the video
// encoder, either whole or only where the picture changed since the last
// conversion. A partial update leaves the planes exactly as a whole
// conversion of the new picture would: the changed rows are widened by the
// reach of the chroma filter, and each band is converted with spare rows
// around it that are thrown away, so that no edge of a band shows.

#include <cstdint>
#include <memory>
#include <span>

namespace ondaline::platform {

// Picture rows [first, end), counted from the top.
struct RowRange {
    int first = 0;
    int end = 0;
    bool operator==(const RowRange&) const = default;
};

class FrameConverter {
public:
    // Null when the scaler offers no such conversion.
    static std::unique_ptr<FrameConverter> create(int width, int height);
    ~FrameConverter();
    FrameConverter(const FrameConverter&) = delete;
    FrameConverter& operator=(const FrameConverter&) = delete;

    // The three planes written into (Y, U, V) and their strides.
    struct Planes {
        std::uint8_t* data[3];
        int linesize[3];
    };

    // `bgra` is width × height × 4 bytes, rows packed, top first.
    void convert(const std::uint8_t* bgra, const Planes& out);

    // The planes hold the conversion of an earlier picture that differs from
    // `bgra` only in the rows `changed`: brings them up to date.
    void update(const std::uint8_t* bgra, std::span<const RowRange> changed, const Planes& out);

    // How far a changed row reaches into the converted picture, and the rows
    // a band is converted with on each side beyond what is kept from it.
    static constexpr int filterReach = 4;
    static constexpr int bandMargin = 4;
    // Source rows per band conversion.
    static constexpr int bandHeight = 64;

    struct Scalers;

private:
    FrameConverter(std::unique_ptr<Scalers> scalers, int width, int height);

    std::unique_ptr<Scalers> scalers_;
    const int width_, height_;
};

}  // namespace ondaline::platform
