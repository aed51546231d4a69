#include "platform/codec/h264_encoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/opt.h>
}

#include "platform/codec/frame_converter.h"
#include "platform/codec/library_log.h"

namespace ondaline::platform {

namespace {

// A NAL unit as the stream carries it: its length in four bytes, big-endian.
void appendLengthPrefixed(std::vector<std::uint8_t>& out, std::span<const std::uint8_t> unit)
{
    const auto length = static_cast<std::uint32_t>(unit.size());
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(length >> shift));
    out.insert(out.end(), unit.begin(), unit.end());
}

}  // namespace

struct H264Encoder::Codec {
    AVCodecContext* context = nullptr;
    AVFrame* frame = nullptr;
    AVPacket* packet = nullptr;
    std::unique_ptr<FrameConverter> converter;  // BGRA into `frame`

    ~Codec()
    {
        av_packet_free(&packet);
        av_frame_free(&frame);
        avcodec_free_context(&context);
    }
};

std::vector<std::span<const std::uint8_t>> splitAnnexB(std::span<const std::uint8_t> stream)
{
    std::vector<std::span<const std::uint8_t>> units;
    std::size_t i = 0, start = std::string::npos;
    auto startCodeAt = [&](std::size_t at) -> std::size_t {  // length of the start code at `at`, or 0
        if (at + 3 <= stream.size() && stream[at] == 0 && stream[at + 1] == 0 && stream[at + 2] == 1) return 3;
        if (at + 4 <= stream.size() && stream[at] == 0 && stream[at + 1] == 0 && stream[at + 2] == 0 &&
            stream[at + 3] == 1) {
            return 4;
        }
        return 0;
    };
    while (i < stream.size()) {
        if (const std::size_t code = startCodeAt(i)) {
            if (start != std::string::npos && i > start) units.push_back(stream.subspan(start, i - start));
            i += code;
            start = i;
        } else {
            ++i;
        }
    }
    if (start != std::string::npos && start < stream.size()) units.push_back(stream.subspan(start));
    return units;
}

std::variant<std::unique_ptr<H264Encoder>, H264Encoder::Failure> H264Encoder::create(const Settings& settings)
{
    routeLibraryLog();
    const AVCodec* x264 = avcodec_find_encoder_by_name("libx264");
    if (!x264) return Failure{AVERROR_ENCODER_NOT_FOUND, "no libx264 in libavcodec"};
    auto codec = std::make_unique<Codec>();
    codec->context = avcodec_alloc_context3(x264);
    codec->frame = av_frame_alloc();
    codec->packet = av_packet_alloc();
    if (!codec->context || !codec->frame || !codec->packet) return Failure{AVERROR(ENOMEM), "out of memory"};

    AVCodecContext* c = codec->context;
    c->width = settings.width;
    c->height = settings.height;
    c->pix_fmt = AV_PIX_FMT_YUV420P;
    c->time_base = AVRational{settings.frameRateDen, settings.frameRateNum};
    c->framerate = AVRational{settings.frameRateNum, settings.frameRateDen};
    c->bit_rate = settings.averageBitrate;
    c->rc_max_rate = settings.maxBitrate;
    c->rc_buffer_size = static_cast<int>(settings.maxBitrate);  // the limit holds over one second
    c->gop_size = 48;
    c->max_b_frames = 0;
    c->profile = FF_PROFILE_H264_MAIN;
    c->level = 31;
    c->colorspace = AVCOL_SPC_BT709;
    c->color_primaries = AVCOL_PRI_BT709;
    c->color_trc = AVCOL_TRC_BT709;
    c->color_range = AVCOL_RANGE_MPEG;
    c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    av_opt_set(c->priv_data, "preset", "veryfast", 0);
    av_opt_set(c->priv_data, "tune", "zerolatency", 0);
    av_opt_set(c->priv_data, "forced-idr", "1", 0);
    // Key frames only where the caller forces them: no scene cuts, and the
    // encoder's own interval past ours. One thread and one slice: a 720p frame
    // takes a few milliseconds of the 41.7 ms period, and handing slices to
    // threads cost more than it saved; frame threads would delay the output.
    c->thread_count = 1;
    av_opt_set(c->priv_data, "x264-params", "scenecut=0:keyint=1000:min-keyint=1000:threads=1:sliced-threads=0", 0);
    if (const int status = avcodec_open2(c, x264, nullptr); status < 0) return Failure{status, "cannot open libx264"};

    AVFrame* f = codec->frame;
    f->format = AV_PIX_FMT_YUV420P;
    f->width = settings.width;
    f->height = settings.height;
    if (const int status = av_frame_get_buffer(f, 0); status < 0) return Failure{status, "no frame buffer"};
    codec->converter = FrameConverter::create(settings.width, settings.height);
    if (!codec->converter) return Failure{-1, "no BGRA to I420 converter"};

    auto encoder = std::unique_ptr<H264Encoder>(new H264Encoder(std::move(codec), settings));
    const AVCodecContext* opened = encoder->codec_->context;
    for (const auto unit : splitAnnexB({opened->extradata, static_cast<std::size_t>(opened->extradata_size)})) {
        if (unit.empty()) continue;
        if ((unit[0] & 0x1F) == 7) encoder->sps_.assign(unit.begin(), unit.end());
        if ((unit[0] & 0x1F) == 8) encoder->pps_.assign(unit.begin(), unit.end());
    }
    if (encoder->sps_.size() < 4 || encoder->pps_.empty()) return Failure{-1, "no parameter sets from libx264"};
    if (settings.copyUnchanged) encoder->copyLayout_ = skipSliceLayout(encoder->sps_, encoder->pps_);
    return encoder;
}

H264Encoder::H264Encoder(std::unique_ptr<Codec> codec, Settings settings)
    : codec_(std::move(codec)), settings_(settings)
{
}

H264Encoder::~H264Encoder() = default;

std::variant<std::vector<H264Encoder::Frame>, int> H264Encoder::encode(
    std::span<const std::uint8_t> bgra, std::int64_t pts, bool forceKeyFrame, bool samePicture,
    std::optional<std::span<const RowRange>> changedRows)
{
    const std::size_t expected = static_cast<std::size_t>(settings_.width) * settings_.height * 4;
    if (bgra.size() != expected) return AVERROR(EINVAL);
    if (!samePicture || !converted_) {
        group_.clear();
        recording_ = false;
        if (replayAt_) forceKeyFrame = true;
        replayAt_.reset();
    } else if (forceKeyFrame) {
        recording_ = false;
        replayAt_.reset();
        if (!group_.empty()) replayAt_ = 0;
    }
    if (replayAt_) {
        auto frames = replayed(pts);
        if (!frames.empty()) return frames;
        forceKeyFrame = true;  // the group could not be sent again: a key frame of libx264's instead
    }
    if (samePicture && converted_ && !forceKeyFrame && smallInRow_ >= settlingFrames &&
        copiesInRow_ < copiesBetweenLooks) {
        return sent(copyOfLast(pts), true);
    }
    copiesInRow_ = 0;
    AVFrame* frame = codec_->frame;
    if (const int status = av_frame_make_writable(frame); status < 0) return status;
    if (!samePicture || !converted_) {  // making the frame writable keeps its content
        const FrameConverter::Planes planes{{frame->data[0], frame->data[1], frame->data[2]},
                                            {frame->linesize[0], frame->linesize[1], frame->linesize[2]}};
        if (converted_ && changedRows) {
            codec_->converter->update(bgra.data(), *changedRows, planes);
        } else {
            codec_->converter->convert(bgra.data(), planes);
        }
        converted_ = true;
    }
    frame->pts = pts;
    frame->pict_type = forceKeyFrame ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
    if (const int status = avcodec_send_frame(codec_->context, frame); status < 0) return status;

    std::vector<Frame> frames;
    for (;;) {
        const int status = avcodec_receive_packet(codec_->context, codec_->packet);
        if (status == AVERROR(EAGAIN) || status == AVERROR_EOF) break;
        if (status < 0) return status;
        Frame out;
        out.keyFrame = (codec_->packet->flags & AV_PKT_FLAG_KEY) != 0;
        out.pts = codec_->packet->pts;
        for (const auto raw : splitAnnexB({codec_->packet->data, static_cast<std::size_t>(codec_->packet->size)})) {
            std::vector<std::uint8_t> storage;
            appendLengthPrefixed(out.data, renumbered(raw, storage));
        }
        av_packet_unref(codec_->packet);
        judgeSettled(out, samePicture && !forceKeyFrame);
        frames.push_back(std::move(out));
    }
    return sent(std::move(frames), samePicture);
}

std::vector<H264Encoder::Frame> H264Encoder::sent(std::vector<Frame> frames, bool samePicture)
{
    if (!copyLayout_) return frames;
    for (Frame& frame : frames) {
        if (frame.keyFrame) {
            distinctIdr(frame);
            group_.clear();
            recording_ = samePicture;
        }
        if (!recording_) continue;
        if (group_.size() == maxGroupFrames) {  // no key frames asked for: nothing to replay
            group_.clear();
            recording_ = false;
            continue;
        }
        group_.push_back({frame, nextFrameNum_});
    }
    return frames;
}

std::vector<H264Encoder::Frame> H264Encoder::replayed(std::int64_t pts)
{
    if (*replayAt_ >= group_.size()) return copyOfLast(pts);  // a longer group: the picture as it was
    const SentFrame& recorded = group_[(*replayAt_)++];
    Frame out = recorded.frame;
    out.pts = pts;
    if (out.keyFrame && !distinctIdr(out)) {
        group_.clear();
        replayAt_.reset();
        return {};
    }
    nextFrameNum_ = recorded.nextFrameNum;
    return {std::move(out)};
}

bool H264Encoder::distinctIdr(Frame& frame)
{
    // Two IDR pictures in a row must differ in idr_pic_id; libx264 counts
    // its own, and knows nothing of the groups sent again.
    std::vector<std::uint8_t> rewritten;
    std::optional<unsigned> id;
    for (std::size_t at = 0; at + 4 <= frame.data.size();) {
        const std::size_t length = (std::size_t(frame.data[at]) << 24) | (std::size_t(frame.data[at + 1]) << 16) |
                                   (std::size_t(frame.data[at + 2]) << 8) | frame.data[at + 3];
        if (at + 4 + length > frame.data.size()) return false;
        const std::span<const std::uint8_t> unit(frame.data.data() + at + 4, length);
        at += 4 + length;
        if (unit.empty() || (unit[0] & 0x1F) != 5) {
            appendLengthPrefixed(rewritten, unit);
            continue;
        }
        const auto current = sliceIdrPicId(unit, *copyLayout_);
        if (!current) return false;
        if (!id) id = lastIdrPicId_ && *current == *lastIdrPicId_ ? (*current == 0 ? 1u : 0u) : *current;
        if (*id == *current) {
            appendLengthPrefixed(rewritten, unit);
            continue;
        }
        const auto renamed = withIdrPicId(unit, *copyLayout_, *id);
        if (!renamed) return false;
        appendLengthPrefixed(rewritten, *renamed);
    }
    if (!id) return false;
    lastIdrPicId_ = id;
    frame.data = std::move(rewritten);
    return true;
}

std::vector<H264Encoder::Frame> H264Encoder::copyOfLast(std::int64_t pts)
{
    const auto nal = skipSlice(*copyLayout_, nextFrameNum_);
    nextFrameNum_ = (nextFrameNum_ + 1) % copyLayout_->maxFrameNum();
    ++copiesSinceKey_;
    ++copiesInRow_;
    Frame out;
    out.pts = pts;
    appendLengthPrefixed(out.data, nal);
    return {std::move(out)};
}

std::span<const std::uint8_t> H264Encoder::renumbered(std::span<const std::uint8_t> unit,
                                                      std::vector<std::uint8_t>& storage)
{
    if (!copyLayout_ || unit.empty()) return unit;
    const unsigned type = unit[0] & 0x1F;
    if (type != 1 && type != 5) return unit;
    const auto frameNum = sliceFrameNum(unit, *copyLayout_);
    if (!frameNum) {  // unreadable: no more copies until the next key frame puts numbering back in step
        lastWasReference_ = false;
        return unit;
    }
    if (type == 5) copiesSinceKey_ = 0;
    const unsigned maxFrameNum = copyLayout_->maxFrameNum();
    const unsigned carried = (*frameNum + copiesSinceKey_) % maxFrameNum;
    lastWasReference_ = (unit[0] & 0x60) != 0;
    nextFrameNum_ = lastWasReference_ ? (carried + 1) % maxFrameNum : carried;
    if (carried == *frameNum) return unit;
    storage = withFrameNum(unit, *copyLayout_, carried);
    return storage;
}

void H264Encoder::judgeSettled(const Frame& frame, bool samePicture)
{
    // After a key frame libx264 refines a still for a while, as its rate
    // control finds bits to spare, sometimes after a few frames of nothing.
    // Copies take over only after a run of its own frames that add next to
    // nothing; every few copies it looks at the picture again, in case it
    // now refines it.
    if (!copyLayout_) return;
    const bool small = frame.data.size() <= copyLayout_->macroblocks / 4;
    smallInRow_ = samePicture && !frame.keyFrame && lastWasReference_ && small ? smallInRow_ + 1 : 0;
}

}  // namespace ondaline::platform
