#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace ondaline::platform {

// What a P picture made only of skipped macroblocks needs to know of the
// stream libx264 writes: the fields of its parameter sets that shape a slice
// header. Only the streams this program asks for are accepted: CABAC, frames
// only, picture order from frame_num (type 2), one reference frame, one slice
// group; anything else and there are no skip pictures.
struct SkipSliceLayout {
    unsigned ppsId = 0;
    unsigned frameNumBits = 4;
    unsigned macroblocks = 0;
    bool overrideRefCount = false;  // the default list length is not one
    bool weightedPrediction = false;
    bool deblockingControl = false;
    int sliceQP = 26;

    unsigned maxFrameNum() const { return 1u << frameNumBits; }
};

// From the SPS and PPS NAL units (header byte included).
std::optional<SkipSliceLayout> skipSliceLayout(std::span<const std::uint8_t> sps, std::span<const std::uint8_t> pps);

// A reference P picture whose every macroblock is skipped: a copy of the
// previous picture. One NAL unit, header byte included, start code excluded.
std::vector<std::uint8_t> skipSlice(const SkipSliceLayout& layout, unsigned frameNum);

// The frame_num of a slice NAL unit (type 1 or 5), or nothing if it cannot be read.
std::optional<unsigned> sliceFrameNum(std::span<const std::uint8_t> nal, const SkipSliceLayout& layout);

// The slice with its frame_num replaced; the field has a fixed width, so only
// the emulation prevention bytes around it can move.
std::vector<std::uint8_t> withFrameNum(std::span<const std::uint8_t> nal, const SkipSliceLayout& layout,
                                       unsigned frameNum);

// The idr_pic_id of an IDR slice NAL unit (type 5), or nothing if it cannot be read.
std::optional<unsigned> sliceIdrPicId(std::span<const std::uint8_t> nal, const SkipSliceLayout& layout);

// The IDR slice with its idr_pic_id replaced. The field's width follows its
// value, so the rest of the header moves and the slice data after it is
// aligned again; nothing if the header is not one this layout describes.
std::optional<std::vector<std::uint8_t>> withIdrPicId(std::span<const std::uint8_t> nal, const SkipSliceLayout& layout,
                                                      unsigned idrPicId);

}  // namespace ondaline::platform
