#include "platform/dsp/real_fft.h"
#include "sources/spectrum_analyzer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <limits>
#include <numbers>
#include <vector>

using ondaline::platform::RealFFT;
using ondaline::sources::SpectrumAnalyzer;

namespace {

constexpr double twoPi = 2 * std::numbers::pi;

std::vector<float> sine(double hz, double amplitude, std::size_t count, double rate = 44100, std::size_t start = 0)
{
    std::vector<float> samples(count);
    for (std::size_t n = 0; n < count; ++n)
        samples[n] = float(amplitude * std::sin(twoPi * hz * double(start + n) / rate));
    return samples;
}

// The plain DFT at bin k, in double precision.
std::complex<double> dft(const std::vector<float>& x, std::size_t k)
{
    std::complex<double> sum;
    for (std::size_t n = 0; n < x.size(); ++n)
        sum += double(x[n]) * std::polar(1.0, -twoPi * double(k * n) / double(x.size()));
    return sum;
}

// What one analysis step should aim a band at, worked out independently.
double expectedTarget(const std::vector<float>& frame, int lo, int hi, double gain)
{
    const auto window = ondaline::platform::normalisedHannWindow(frame.size());
    std::vector<float> windowed(frame.size());
    for (std::size_t n = 0; n < frame.size(); ++n) windowed[n] = frame[n] * window[n];
    double sum = 0;
    for (int k = lo; k <= hi; ++k) sum += 4 * std::norm(dft(windowed, std::size_t(k)));
    const double power = sum / (hi - lo + 1) * 4.0 / (4096.0 * 4096.0);
    return std::clamp((10 * std::log10(std::max(power, 1e-10)) + gain + 60) / 60, 0.0, 1.0);
}

}  // namespace

TEST(RealFFT, PowersAreFourTimesThePlainDFTsWithDCAndNyquistPacked)
{
    std::vector<float> x(256);
    for (std::size_t n = 0; n < x.size(); ++n) x[n] = float(std::sin(0.37 * n) + 0.25 * std::cos(1.9 * n) + 0.1);
    RealFFT fft(256);
    std::vector<float> power(128);
    fft.squaredMagnitudes(x, power);
    for (std::size_t k = 1; k < 128; ++k) EXPECT_NEAR(power[k], 4 * std::norm(dft(x, k)), 1e-3 + 1e-4 * power[k]) << k;
    EXPECT_NEAR(power[0], 4 * (std::norm(dft(x, 0)) + std::norm(dft(x, 128))), 1e-2);

    EXPECT_THROW(RealFFT(100), std::invalid_argument);
    EXPECT_THROW(fft.squaredMagnitudes(std::vector<float>(255), power), std::invalid_argument);

    const auto window = ondaline::platform::normalisedHannWindow(4096);
    EXPECT_EQ(window[0], 0.0f);
    EXPECT_FLOAT_EQ(window[2048], 1.633f);
    EXPECT_FLOAT_EQ(window[1], window[4095]);
}

TEST(SpectrumBands, FortyBandsAt44100)
{
    const auto edges = ondaline::sources::spectrumBandEdges(40, 44100);
    const auto gains = ondaline::sources::spectrumBandGains(40);
    ASSERT_EQ(edges.size(), 41u);
    ASSERT_EQ(gains.size(), 40u);
    const float binWidth = 44100.0f / 4096;
    EXPECT_FLOAT_EQ(binWidth, 10.7666015625f);
    struct Row {
        int band;
        float lo, hi;
        int loBin, hiBin;
        float gain;
    };
    for (const Row& row : {Row{0, 30.00f, 35.10f, 2, 3, 12.000f}, Row{1, 35.10f, 41.06f, 3, 3, 11.692f},
                           Row{2, 41.06f, 48.04f, 3, 4, 11.385f}, Row{19, 592.17f, 692.82f, 55, 64, 6.154f},
                           Row{20, 692.82f, 810.58f, 64, 75, 5.846f}}) {
        EXPECT_NEAR(edges[row.band], row.lo, 0.006) << row.band;
        EXPECT_NEAR(edges[row.band + 1], row.hi, 0.006) << row.band;
        const auto bins = ondaline::sources::spectrumBandBins(edges[row.band], edges[row.band + 1], binWidth);
        EXPECT_EQ(bins.lo, row.loBin) << row.band;
        EXPECT_EQ(bins.hi, row.hiBin) << row.band;
        EXPECT_NEAR(gains[row.band], row.gain, 0.0005) << row.band;
    }
    EXPECT_NEAR(edges[40], 16000.0f, 0.01);
    EXPECT_EQ(ondaline::sources::spectrumBandBins(edges[39], edges[40], binWidth).hi, 1486);
    EXPECT_EQ(gains[39], 0.0f);

    // Nyquist below 16 kHz caps the top; a band below one bin width has no bins.
    EXPECT_NEAR(ondaline::sources::spectrumBandEdges(40, 22050).back(), 11025.0f, 0.01);
    const auto none = ondaline::sources::spectrumBandBins(30, 35, 200);
    EXPECT_LT(none.hi, none.lo);

    EXPECT_THROW(SpectrumAnalyzer(1), std::invalid_argument);
    EXPECT_THROW(SpectrumAnalyzer(0), std::invalid_argument);
}

TEST(SpectrumAnalyzer, ToneLandsInItsBandAndRisesHalfTheGapEachStep)
{
    SpectrumAnalyzer analyzer(40);
    const auto edges = ondaline::sources::spectrumBandEdges(40, 44100);
    const auto gains = ondaline::sources::spectrumBandGains(40);
    const auto frame = sine(1000, 0.5, 4096);
    analyzer.process(frame.data(), frame.size());

    int loudest = 0;
    for (int i = 1; i < 40; ++i) {
        if (analyzer.levels[i] > analyzer.levels[loudest]) loudest = i;
    }
    EXPECT_LE(edges[loudest], 1000.0f);
    EXPECT_GE(edges[loudest + 1], 1000.0f);

    const auto bins = ondaline::sources::spectrumBandBins(edges[loudest], edges[loudest + 1], 44100.0f / 4096);
    const double target = expectedTarget(frame, bins.lo, bins.hi, gains[loudest]);
    ASSERT_GT(target, 0.5);
    EXPECT_NEAR(analyzer.levels[loudest], target / 2, 1e-4);
    analyzer.process(frame.data(), frame.size());
    EXPECT_NEAR(analyzer.levels[loudest], target * 3 / 4, 1e-4);

    // Far from the tone the window's leakage is below −60 dB: nothing lit.
    EXPECT_EQ(analyzer.levels[0], 0.0f);
    EXPECT_EQ(analyzer.levels[39], 0.0f);
}

TEST(SpectrumAnalyzer, SilenceAndAReachedTargetDecay)
{
    SpectrumAnalyzer analyzer(40);
    analyzer.levels.assign(40, 0.5f);
    const std::vector<float> silence(4096, 0.0f);
    analyzer.process(silence.data(), silence.size());
    for (const float level : analyzer.levels) EXPECT_FLOAT_EQ(level, 0.5f * 0.82f);
    analyzer.process(silence.data(), silence.size());
    for (const float level : analyzer.levels) EXPECT_FLOAT_EQ(level, 0.5f * 0.82f * 0.82f);

    // A level already at its target decays rather than holding.
    const auto frame = sine(1000, 0.5, 4096);
    SpectrumAnalyzer probe(40);
    probe.process(frame.data(), frame.size());
    const int band = int(std::max_element(probe.levels.begin(), probe.levels.end()) - probe.levels.begin());
    const float target = probe.levels[band] * 2;
    analyzer.levels[band] = target;
    analyzer.process(frame.data(), frame.size());
    EXPECT_NEAR(analyzer.levels[band], target * 0.82f, 1e-5);
}

TEST(SpectrumAnalyzer, BlocksOfAnyLengthAnalyseTheNewest4096)
{
    const auto signal = sine(440, 0.3, 10000);

    SpectrumAnalyzer whole(40);
    whole.process(signal.data(), 4095);
    EXPECT_EQ(whole.levels, std::vector<float>(40, 0.0f));  // not yet a frame

    // One call of 10000: only the last 4096 count.
    SpectrumAnalyzer once(40), newest(40);
    once.process(signal.data(), signal.size());
    newest.process(signal.data() + 10000 - 4096, 4096);
    EXPECT_EQ(once.levels, newest.levels);

    // Odd pieces that add up to one frame give the same as the frame at once.
    SpectrumAnalyzer pieces(40), single(40);
    std::size_t at = 0;
    for (const std::size_t n : {1u, 7u, 1000u, 1024u, 2064u}) {
        pieces.process(signal.data() + at, n);
        at += n;
    }
    ASSERT_EQ(at, 4096u);
    single.process(signal.data(), 4096);
    EXPECT_EQ(pieces.levels, single.levels);

    // Frames do not overlap: what came before the last analysis is gone.
    pieces.process(signal.data() + 4096, 4000);
    EXPECT_EQ(pieces.levels, single.levels);
    pieces.process(nullptr, 0);
    EXPECT_EQ(pieces.levels, single.levels);
}

TEST(SpectrumAnalyzer, NonFiniteSamplesLeaveLevelsFinite)
{
    SpectrumAnalyzer analyzer(40);
    auto frame = sine(1000, 0.5, 4096);
    analyzer.process(frame.data(), frame.size());
    frame[100] = std::numeric_limits<float>::quiet_NaN();
    frame[200] = std::numeric_limits<float>::infinity();
    analyzer.process(frame.data(), frame.size());
    for (const float level : analyzer.levels) {
        EXPECT_TRUE(std::isfinite(level));
        EXPECT_GE(level, 0.0f);
        EXPECT_LE(level, 1.0f);
    }
}
