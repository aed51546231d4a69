#include "platform/codec/frame_converter.h"

extern "C" {
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cstring>
#include <vector>

namespace ondaline::platform {

namespace {

SwsContext* bgraToI420(int width, int height)
{
    SwsContext* scaler = sws_getContext(width, height, AV_PIX_FMT_BGRA, width, height, AV_PIX_FMT_YUV420P, SWS_BILINEAR,
                                        nullptr, nullptr, nullptr);
    if (!scaler) return nullptr;
    // BT.709 coefficients into limited range.
    sws_setColorspaceDetails(scaler, sws_getCoefficients(SWS_CS_DEFAULT), 1, sws_getCoefficients(SWS_CS_ITU709), 0, 0,
                             1 << 16, 1 << 16);
    return scaler;
}

}  // namespace

struct FrameConverter::Scalers {
    SwsContext* whole = nullptr;
    // Bands of `bandHeight` source rows, converted into `band` (absent for a
    // picture too low or of odd height: those are always converted whole).
    SwsContext* bands = nullptr;
    AVFrame* band = nullptr;

    ~Scalers()
    {
        sws_freeContext(whole);
        sws_freeContext(bands);
        av_frame_free(&band);
    }
};

std::unique_ptr<FrameConverter> FrameConverter::create(int width, int height)
{
    if (width <= 0 || height <= 0) return nullptr;
    auto scalers = std::make_unique<Scalers>();
    scalers->whole = bgraToI420(width, height);
    if (!scalers->whole) return nullptr;
    if (height % 2 == 0 && height >= bandHeight) {
        scalers->bands = bgraToI420(width, bandHeight);
        scalers->band = av_frame_alloc();
        if (scalers->band) {
            scalers->band->format = AV_PIX_FMT_YUV420P;
            scalers->band->width = width;
            scalers->band->height = bandHeight;
        }
        if (!scalers->bands || !scalers->band || av_frame_get_buffer(scalers->band, 0) < 0) {
            sws_freeContext(scalers->bands);
            scalers->bands = nullptr;
            av_frame_free(&scalers->band);
        }
    }
    return std::unique_ptr<FrameConverter>(new FrameConverter(std::move(scalers), width, height));
}

FrameConverter::FrameConverter(std::unique_ptr<Scalers> scalers, int width, int height)
    : scalers_(std::move(scalers)), width_(width), height_(height)
{
}

FrameConverter::~FrameConverter() = default;

void FrameConverter::convert(const std::uint8_t* bgra, const Planes& out)
{
    const std::uint8_t* source[] = {bgra};
    const int stride[] = {width_ * 4};
    sws_scale(scalers_->whole, source, stride, 0, height_, out.data, out.linesize);
}

void FrameConverter::update(const std::uint8_t* bgra, std::span<const RowRange> changed, const Planes& out)
{
    if (!scalers_->bands) return convert(bgra, out);

    // The rows whose conversion can differ, on even bounds (a chroma row
    // covers two), joined where the gap between them would be converted
    // anyway as the margins of two bands.
    std::vector<RowRange> rows;
    for (const RowRange& r : changed) {
        const int first = std::max(0, r.first - filterReach) & ~1;
        const int end = std::min(height_, ((std::max(r.end, 0) + filterReach + 1) & ~1));
        if (first < end) rows.push_back({first, end});
    }
    std::sort(rows.begin(), rows.end(), [](const RowRange& a, const RowRange& b) { return a.first < b.first; });
    std::vector<RowRange> merged;
    int total = 0;
    for (const RowRange& r : rows) {
        if (!merged.empty() && r.first <= merged.back().end + 2 * bandMargin) {
            merged.back().end = std::max(merged.back().end, r.end);
        } else {
            merged.push_back(r);
        }
    }
    for (const RowRange& r : merged) total += r.end - r.first;
    // Past about three quarters of the picture the bands' margins cost more
    // than converting it whole.
    if (4 * total > 3 * height_) return convert(bgra, out);

    AVFrame* band = scalers_->band;
    const int stride[] = {width_ * 4};
    const int chromaWidth = (width_ + 1) / 2;
    for (const RowRange& r : merged) {
        for (int row = r.first; row < r.end;) {
            // A band starts `bandMargin` above the first row it gives, except
            // at the top and bottom of the picture, where its edge is the
            // picture's own and nothing of it is thrown away.
            const int top = std::clamp(row - bandMargin, 0, height_ - bandHeight);
            const int keptEnd = top + bandHeight == height_ ? height_ : top + bandHeight - bandMargin;
            const int stop = std::min(r.end, keptEnd);
            const std::uint8_t* source[] = {bgra + static_cast<std::size_t>(top) * width_ * 4};
            sws_scale(scalers_->bands, source, stride, 0, bandHeight, band->data, band->linesize);
            for (int y = row; y < stop; ++y) {
                std::memcpy(out.data[0] + static_cast<std::ptrdiff_t>(y) * out.linesize[0],
                            band->data[0] + static_cast<std::ptrdiff_t>(y - top) * band->linesize[0],
                            static_cast<std::size_t>(width_));
            }
            for (int y = row / 2; y < stop / 2; ++y) {
                for (int plane = 1; plane < 3; ++plane) {
                    std::memcpy(out.data[plane] + static_cast<std::ptrdiff_t>(y) * out.linesize[plane],
                                band->data[plane] + static_cast<std::ptrdiff_t>(y - top / 2) * band->linesize[plane],
                                static_cast<std::size_t>(chromaWidth));
                }
            }
            row = stop;
        }
    }
}

}  // namespace ondaline::platform
