#pragma once

#include "platform/codec/codec_failure.h"
#include "platform/codec/frame_converter.h"
#include "platform/codec/h264_skip_frame.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

namespace ondaline::platform {

// H.264 through libavcodec's libx264: Main profile level 3.1, no B-frames,
// zero latency (each frame comes out of the encode call that took it), key
// frames only where asked for, BGRA input converted to I420 (BT.709).
class H264Encoder {
public:
    struct Settings {
        int width = 1280;
        int height = 720;
        int frameRateNum = 24000;
        int frameRateDen = 1001;
        std::int64_t averageBitrate = 1200000;  // bit/s
        std::int64_t maxBitrate = 1500000;      // bit/s over one second
        // An unchanged picture that libx264 has stopped refining goes out as
        // a copy of the previous one, written here without encoding.
        bool copyUnchanged = true;
    };

    using Failure = CodecFailure;

    static std::variant<std::unique_ptr<H264Encoder>, Failure> create(const Settings& settings);
    ~H264Encoder();

    H264Encoder(const H264Encoder&) = delete;
    H264Encoder& operator=(const H264Encoder&) = delete;

    struct Frame {
        std::vector<std::uint8_t> data;  // NAL units, each behind a 4-byte big-endian length
        bool keyFrame = false;
        std::int64_t pts = 0;  // in frame periods
    };

    // One BGRA frame (width × height × 4 bytes, rows packed) at frame `pts`.
    // With `samePicture` the caller vouches that `bgra` is the picture of the
    // previous call, and its conversion to I420 is used again; with
    // `changedRows`, that it differs from that picture only in those rows,
    // and only they are converted again. The frame that came out, if any,
    // and the status (non-zero on failure). A picture libx264 has stopped
    // refining comes out, between key frames, as a copy of the previous one;
    // a key frame of a picture already sent through a whole group, as that
    // group again.
    std::variant<std::vector<Frame>, int> encode(std::span<const std::uint8_t> bgra, std::int64_t pts,
                                                 bool forceKeyFrame, bool samePicture = false,
                                                 std::optional<std::span<const RowRange>> changedRows = std::nullopt);

    // The parameter sets (NAL header byte included).
    const std::vector<std::uint8_t>& sps() const { return sps_; }
    const std::vector<std::uint8_t>& pps() const { return pps_; }

    struct Codec;

private:
    H264Encoder(std::unique_ptr<Codec> codec, Settings settings);

    std::unique_ptr<Codec> codec_;
    Settings settings_;
    std::vector<std::uint8_t> sps_, pps_;
    bool converted_ = false;  // the frame holds the last picture in I420

    // Copies of an unchanged picture: reference P pictures of skipped
    // macroblocks. Each takes a frame_num, so libx264's later slices up to
    // the next key frame carry theirs moved on by the copies sent.
    std::vector<Frame> copyOfLast(std::int64_t pts);
    std::span<const std::uint8_t> renumbered(std::span<const std::uint8_t> unit, std::vector<std::uint8_t>& storage);
    void judgeSettled(const Frame& frame, bool samePicture);
    std::optional<SkipSliceLayout> copyLayout_;
    static constexpr unsigned copiesBetweenLooks = 8;
    unsigned copiesSinceKey_ = 0;
    unsigned copiesInRow_ = 0;
    unsigned nextFrameNum_ = 0;
    bool lastWasReference_ = false;
    // libx264 has settled on the current picture once this many of its
    // frames in a row coded it as (nearly) nothing.
    static constexpr unsigned settlingFrames = 12;
    unsigned smallInRow_ = 0;

    // The frames sent for an unchanged picture from one key frame to the
    // next, when the picture was shown before that key frame too, so that the
    // rate control has found its level for it. Later groups of the same
    // picture replay them instead of encoding it again: the picture is the
    // same, so are the bits, but for the IDR's idr_pic_id. A new picture
    // during a replay is encoded as a key frame, as libx264's references are
    // no longer the decoder's.
    struct SentFrame {
        Frame frame;
        unsigned nextFrameNum = 0;
    };
    std::vector<SentFrame> group_;
    bool recording_ = false;
    std::optional<std::size_t> replayAt_;
    std::optional<unsigned> lastIdrPicId_;
    static constexpr std::size_t maxGroupFrames = 120;
    std::vector<Frame> replayed(std::int64_t pts);
    std::vector<Frame> sent(std::vector<Frame> frames, bool samePicture);
    bool distinctIdr(Frame& frame);
};

// Splits an Annex B byte stream at its start codes; each NAL unit without them.
std::vector<std::span<const std::uint8_t>> splitAnnexB(std::span<const std::uint8_t> stream);

}  // namespace ondaline::platform
