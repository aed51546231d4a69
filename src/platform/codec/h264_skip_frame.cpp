#include "platform/codec/h264_skip_frame.h"

#include <algorithm>
#include <array>
#include <bit>

namespace ondaline::platform {

namespace {

// The payload without its emulation prevention bytes (00 00 03 -> 00 00).
std::vector<std::uint8_t> unescape(std::span<const std::uint8_t> nal)
{
    std::vector<std::uint8_t> rbsp;
    rbsp.reserve(nal.size());
    int zeros = 0;
    for (const std::uint8_t byte : nal) {
        if (zeros >= 2 && byte == 3) {
            zeros = 0;
            continue;
        }
        rbsp.push_back(byte);
        zeros = byte == 0 ? zeros + 1 : 0;
    }
    return rbsp;
}

// Back to a NAL unit: no 00 00 0x with x <= 3 inside, and no trailing 00.
std::vector<std::uint8_t> escape(std::span<const std::uint8_t> rbsp)
{
    std::vector<std::uint8_t> nal;
    nal.reserve(rbsp.size() + rbsp.size() / 64 + 2);
    int zeros = 0;
    for (const std::uint8_t byte : rbsp) {
        if (zeros >= 2 && byte <= 3) {
            nal.push_back(3);
            zeros = 0;
        }
        nal.push_back(byte);
        zeros = byte == 0 ? zeros + 1 : 0;
    }
    if (!nal.empty() && nal.back() == 0) nal.push_back(3);
    return nal;
}

class BitReader {
public:
    explicit BitReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    bool failed() const { return failed_; }
    std::size_t position() const { return at_; }

    unsigned bits(unsigned count)
    {
        unsigned value = 0;
        for (unsigned i = 0; i < count; ++i) {
            if (at_ >= bytes_.size() * 8) {
                failed_ = true;
                return 0;
            }
            value = (value << 1) | ((bytes_[at_ / 8] >> (7 - at_ % 8)) & 1u);
            ++at_;
        }
        return value;
    }
    unsigned ue()
    {
        unsigned zeros = 0;
        while (bits(1) == 0 && !failed_) {
            if (++zeros > 31) failed_ = true;
        }
        if (failed_) return 0;
        return (1u << zeros) - 1 + bits(zeros);
    }
    int se()
    {
        const unsigned code = ue();
        return code % 2 ? static_cast<int>((code + 1) / 2) : -static_cast<int>(code / 2);
    }

private:
    std::span<const std::uint8_t> bytes_;
    std::size_t at_ = 0;
    bool failed_ = false;
};

class BitWriter {
public:
    void bits(unsigned value, unsigned count)
    {
        for (unsigned i = count; i-- > 0;) bit((value >> i) & 1u);
    }
    void bit(unsigned value)
    {
        if (used_ % 8 == 0) bytes_.push_back(0);
        if (value) bytes_.back() |= static_cast<std::uint8_t>(0x80u >> (used_ % 8));
        ++used_;
    }
    void ue(unsigned value)
    {
        const unsigned code = value + 1;
        const unsigned width = static_cast<unsigned>(std::bit_width(code));
        bits(0, width - 1);
        bits(code, width);
    }
    void se(int value) { ue(value > 0 ? 2u * static_cast<unsigned>(value) - 1 : 2u * static_cast<unsigned>(-value)); }
    bool aligned() const { return used_ % 8 == 0; }
    std::vector<std::uint8_t> take() { return std::move(bytes_); }

private:
    std::vector<std::uint8_t> bytes_;
    std::size_t used_ = 0;
};

// The binary arithmetic coder's tables: the LPS sub-range by state and
// quantised range, and the state after an LPS.
constexpr std::uint8_t rangeLPS[64][4] = {
    {128, 176, 208, 240}, {128, 167, 197, 227}, {128, 158, 187, 216}, {123, 150, 178, 205}, {116, 142, 169, 195},
    {111, 135, 160, 185}, {105, 128, 152, 175}, {100, 122, 144, 166}, {95, 116, 137, 158},  {90, 110, 130, 150},
    {85, 104, 123, 142},  {81, 99, 117, 135},   {77, 94, 111, 128},   {73, 89, 105, 122},   {69, 85, 100, 116},
    {66, 80, 95, 110},    {62, 76, 90, 104},    {59, 72, 86, 99},     {56, 69, 81, 94},     {53, 65, 77, 89},
    {51, 62, 73, 85},     {48, 59, 69, 80},     {46, 56, 66, 76},     {43, 53, 63, 72},     {41, 50, 59, 69},
    {39, 48, 56, 65},     {37, 45, 54, 62},     {35, 43, 51, 59},     {33, 41, 48, 56},     {32, 39, 46, 53},
    {30, 37, 43, 50},     {29, 35, 41, 48},     {27, 33, 39, 45},     {26, 31, 37, 43},     {24, 30, 35, 41},
    {23, 28, 33, 39},     {22, 27, 32, 37},     {21, 26, 30, 35},     {20, 24, 29, 33},     {19, 23, 27, 31},
    {18, 22, 26, 30},     {17, 21, 25, 28},     {16, 20, 23, 27},     {15, 19, 22, 25},     {14, 18, 21, 24},
    {14, 17, 20, 23},     {13, 16, 19, 22},     {12, 15, 18, 21},     {12, 14, 17, 20},     {11, 14, 16, 19},
    {11, 13, 15, 18},     {10, 12, 15, 17},     {10, 12, 14, 16},     {9, 11, 13, 15},      {9, 11, 12, 14},
    {8, 10, 12, 14},      {8, 9, 11, 13},       {7, 9, 11, 12},       {7, 9, 10, 12},       {7, 8, 10, 11},
    {6, 8, 9, 11},        {6, 7, 9, 10},        {6, 7, 8, 9},         {2, 2, 2, 2},
};
constexpr std::uint8_t nextStateLPS[64] = {
    0,  0,  1,  2,  2,  4,  4,  5,  6,  7,  8,  9,  9,  11, 11, 12, 13, 13, 15, 15, 16, 16,
    18, 18, 19, 19, 21, 21, 22, 22, 23, 24, 24, 25, 26, 26, 27, 27, 28, 29, 29, 30, 30, 30,
    31, 32, 32, 33, 33, 33, 34, 34, 35, 35, 35, 36, 36, 36, 37, 37, 37, 38, 38, 63,
};

// The arithmetic coder writing into a bit writer already at a byte boundary.
class CabacWriter {
public:
    struct Context {
        unsigned state = 0;
        unsigned mps = 0;
    };

    explicit CabacWriter(BitWriter& out) : out_(out) {}

    // A context from its (m, n) pair at the slice's QP.
    static Context context(int m, int n, int sliceQP)
    {
        const int pre = std::clamp(((m * std::clamp(sliceQP, 0, 51)) >> 4) + n, 1, 126);
        return pre <= 63 ? Context{static_cast<unsigned>(63 - pre), 0} : Context{static_cast<unsigned>(pre - 64), 1};
    }

    void decision(Context& context, unsigned bin)
    {
        const unsigned lps = rangeLPS[context.state][(range_ >> 6) & 3];
        range_ -= lps;
        if (bin != context.mps) {
            low_ += range_;
            range_ = lps;
            if (context.state == 0) context.mps = 1 - context.mps;
            context.state = nextStateLPS[context.state];
        } else if (context.state < 62) {
            ++context.state;
        }
        renormalise();
    }

    // A terminating bin; 1 ends the slice and flushes, its last bit being
    // the stop bit of the payload.
    void terminate(unsigned bin)
    {
        range_ -= 2;
        if (!bin) {
            renormalise();
            return;
        }
        low_ += range_;
        range_ = 2;
        renormalise();
        put((low_ >> 9) & 1);
        out_.bits(((low_ >> 7) & 3) | 1, 2);
    }

private:
    void renormalise()
    {
        while (range_ < 256) {
            if (low_ < 256) {
                put(0);
            } else if (low_ >= 512) {
                low_ -= 512;
                put(1);
            } else {
                low_ -= 256;
                ++outstanding_;
            }
            range_ <<= 1;
            low_ <<= 1;
        }
    }
    void put(unsigned bit)
    {
        if (first_) {
            first_ = false;
        } else {
            out_.bit(bit);
        }
        for (; outstanding_ > 0; --outstanding_) out_.bit(1 - bit);
    }

    BitWriter& out_;
    unsigned low_ = 0, range_ = 510, outstanding_ = 0;
    bool first_ = true;
};

constexpr std::uint8_t nonIdrSlice = 1, idrSlice = 5;

// Reads a slice header up to its frame_num; the reader stands on it.
bool seekFrameNum(BitReader& reader)
{
    reader.bits(8);  // NAL header
    reader.ue();     // first_mb_in_slice
    reader.ue();     // slice_type
    reader.ue();     // pic_parameter_set_id
    return !reader.failed();
}

// Where an IDR slice's header keeps its idr_pic_id and where the header ends,
// in bits of the payload; the slice data starts at the next byte.
struct IdrHeader {
    std::size_t idAt = 0, idEnd = 0, end = 0;
};

std::optional<IdrHeader> readIdrHeader(std::span<const std::uint8_t> rbsp, const SkipSliceLayout& layout)
{
    BitReader reader(rbsp);
    const unsigned nalHeader = reader.bits(8);
    if ((nalHeader & 0x1F) != idrSlice || (nalHeader & 0x60) == 0) return std::nullopt;
    reader.ue();                                    // first_mb_in_slice
    if (reader.ue() % 5 != 2) return std::nullopt;  // an IDR picture is intra: slice type I
    reader.ue();                                    // pic_parameter_set_id
    reader.bits(layout.frameNumBits);
    IdrHeader header;
    header.idAt = reader.position();
    reader.ue();
    header.idEnd = reader.position();
    // Picture order from frame_num and no redundant pictures: nothing more
    // until the reference marking, which for an IDR is two flags.
    reader.bits(2);
    reader.se();  // slice_qp_delta
    if (layout.deblockingControl && reader.ue() != 1) {
        reader.se();  // alpha and beta offsets
        reader.se();
    }
    header.end = reader.position();
    while (reader.position() % 8 != 0) {  // CABAC's alignment bits are ones
        if (reader.bits(1) != 1) return std::nullopt;
    }
    if (reader.failed()) return std::nullopt;
    return header;
}

}  // namespace

std::optional<SkipSliceLayout> skipSliceLayout(std::span<const std::uint8_t> sps, std::span<const std::uint8_t> pps)
{
    if (sps.empty() || pps.empty() || (sps[0] & 0x1F) != 7 || (pps[0] & 0x1F) != 8) return std::nullopt;
    SkipSliceLayout layout;

    const auto spsBits = unescape(sps.subspan(1));
    BitReader s(spsBits);
    const unsigned profile = s.bits(8);
    s.bits(16);  // constraint flags, level
    const unsigned spsId = s.ue();
    constexpr std::array chromaProfiles{100u, 110u, 122u, 244u, 44u, 83u, 86u, 118u, 128u, 138u, 139u, 134u, 135u};
    if (std::find(chromaProfiles.begin(), chromaProfiles.end(), profile) != chromaProfiles.end()) {
        if (s.ue() != 1) return std::nullopt;  // 4:2:0 only
        s.ue();                                // bit depths
        s.ue();
        s.bits(1);
        if (s.bits(1)) return std::nullopt;  // scaling matrices
    }
    layout.frameNumBits = s.ue() + 4;
    if (s.ue() != 2) return std::nullopt;  // picture order from frame_num
    if (s.ue() != 1) return std::nullopt;  // one reference frame: a copy never displaces one libx264 still uses
    if (s.bits(1)) return std::nullopt;    // no gaps in frame_num
    const unsigned width = s.ue() + 1, height = s.ue() + 1;
    if (!s.bits(1)) return std::nullopt;  // frames only
    if (s.failed() || layout.frameNumBits > 16) return std::nullopt;
    layout.macroblocks = width * height;

    const auto ppsBits = unescape(pps.subspan(1));
    BitReader p(ppsBits);
    layout.ppsId = p.ue();
    if (p.ue() != spsId) return std::nullopt;
    if (!p.bits(1)) return std::nullopt;   // CABAC
    p.bits(1);                             // bottom field order present: no fields here
    if (p.ue() != 0) return std::nullopt;  // slice groups
    layout.overrideRefCount = p.ue() != 0;
    p.ue();
    layout.weightedPrediction = p.bits(1) != 0;
    p.bits(2);
    layout.sliceQP = 26 + p.se();
    p.se();  // pic_init_qs
    p.se();  // chroma_qp_index_offset
    layout.deblockingControl = p.bits(1) != 0;
    p.bits(1);                           // constrained intra prediction
    if (p.bits(1)) return std::nullopt;  // redundant pictures
    if (p.failed() || layout.sliceQP < 0 || layout.sliceQP > 51) return std::nullopt;
    return layout;
}

std::vector<std::uint8_t> skipSlice(const SkipSliceLayout& layout, unsigned frameNum)
{
    BitWriter out;
    out.bits(0x41, 8);  // a reference slice of a non-IDR picture, as libx264 marks its P pictures
    out.ue(0);          // first_mb_in_slice
    out.ue(5);          // P, and so is every slice of the picture
    out.ue(layout.ppsId);
    out.bits(frameNum % layout.maxFrameNum(), layout.frameNumBits);
    if (layout.overrideRefCount) {
        out.bit(1);
        out.ue(0);  // one reference
    } else {
        out.bit(0);
    }
    out.bit(0);  // the list as it is
    if (layout.weightedPrediction) {
        out.ue(0);  // luma and chroma weight denominators
        out.ue(0);
        out.bit(0);  // default luma and chroma weights: a plain copy
        out.bit(0);
    }
    out.bit(0);                               // sliding-window reference marking
    out.ue(0);                                // cabac_init_idc
    out.se(0);                                // slice QP as the PPS's
    if (layout.deblockingControl) out.ue(1);  // nothing to filter in a copy
    while (!out.aligned()) out.bit(1);

    // Every macroblock skipped: its neighbours are skipped too, so each flag
    // uses the first of the three contexts (m, n = 23, 33 for cabac_init_idc 0).
    CabacWriter cabac(out);
    auto skipFlag = CabacWriter::context(23, 33, layout.sliceQP);
    for (unsigned mb = 0; mb < layout.macroblocks; ++mb) {
        cabac.decision(skipFlag, 1);
        cabac.terminate(mb + 1 == layout.macroblocks ? 1 : 0);  // end_of_slice_flag
    }
    while (!out.aligned()) out.bit(0);
    return escape(out.take());
}

std::optional<unsigned> sliceFrameNum(std::span<const std::uint8_t> nal, const SkipSliceLayout& layout)
{
    if (nal.empty() || ((nal[0] & 0x1F) != nonIdrSlice && (nal[0] & 0x1F) != idrSlice)) return std::nullopt;
    const auto rbsp = unescape(nal.first(std::min<std::size_t>(nal.size(), 32)));
    BitReader reader(rbsp);
    if (!seekFrameNum(reader)) return std::nullopt;
    const unsigned frameNum = reader.bits(layout.frameNumBits);
    if (reader.failed()) return std::nullopt;
    return frameNum;
}

std::vector<std::uint8_t> withFrameNum(std::span<const std::uint8_t> nal, const SkipSliceLayout& layout,
                                       unsigned frameNum)
{
    auto rbsp = unescape(nal);
    BitReader reader(rbsp);
    if (!seekFrameNum(reader)) return {nal.begin(), nal.end()};
    const std::size_t at = reader.position();
    if (at + layout.frameNumBits > rbsp.size() * 8) return {nal.begin(), nal.end()};
    for (unsigned i = 0; i < layout.frameNumBits; ++i) {
        const std::size_t bit = at + i;
        const auto mask = static_cast<std::uint8_t>(0x80u >> (bit % 8));
        if ((frameNum >> (layout.frameNumBits - 1 - i)) & 1u) {
            rbsp[bit / 8] |= mask;
        } else {
            rbsp[bit / 8] &= static_cast<std::uint8_t>(~mask);
        }
    }
    return escape(rbsp);
}

std::optional<unsigned> sliceIdrPicId(std::span<const std::uint8_t> nal, const SkipSliceLayout& layout)
{
    const auto rbsp = unescape(nal.first(std::min<std::size_t>(nal.size(), 48)));
    const auto header = readIdrHeader(rbsp, layout);
    if (!header) return std::nullopt;
    BitReader reader(rbsp);
    reader.bits(static_cast<unsigned>(header->idAt));
    return reader.ue();
}

std::optional<std::vector<std::uint8_t>> withIdrPicId(std::span<const std::uint8_t> nal, const SkipSliceLayout& layout,
                                                      unsigned idrPicId)
{
    const auto rbsp = unescape(nal);
    const auto header = readIdrHeader(rbsp, layout);
    if (!header) return std::nullopt;
    BitReader reader(rbsp);
    BitWriter out;
    auto copy = [&](std::size_t count) {
        for (std::size_t i = 0; i < count; ++i) out.bit(reader.bits(1));
    };
    copy(header->idAt);
    reader.ue();
    out.ue(idrPicId);
    copy(header->end - header->idEnd);
    while (!out.aligned()) out.bit(1);
    auto bytes = out.take();
    bytes.insert(bytes.end(), rbsp.begin() + static_cast<std::ptrdiff_t>((header->end + 7) / 8), rbsp.end());
    return escape(bytes);
}

}  // namespace ondaline::platform
