// Mixing an application's monitor streams: the first open stream sets the
// pace and the others are added to it sample by sample.

#include "platform/audio/capture_mixer.h"

#include <gtest/gtest.h>

#include <vector>

using ondaline::platform::CaptureMixer;

namespace {

std::vector<float> out(std::span<const float> mixed) { return {mixed.begin(), mixed.end()}; }

}  // namespace

TEST(CaptureMixer, DeliversTheLeadersFramesWithTheOthersAddedOnce)
{
    CaptureMixer mixer(2, 48000);
    EXPECT_EQ(mixer.add(), 0u);
    EXPECT_EQ(mixer.add(), 1u);
    const std::vector<float> other{1, 2, 3, 4};  // two stereo frames
    EXPECT_TRUE(mixer.push(1, other.data(), 2).empty());

    const std::vector<float> leader{10, 20, 30, 40, 50, 60};
    EXPECT_EQ(out(mixer.push(0, leader.data(), 3)), (std::vector<float>{11, 22, 33, 44, 50, 60}));
    // Already added: the next frames go out alone.
    EXPECT_EQ(out(mixer.push(0, leader.data(), 1)), (std::vector<float>{10, 20}));
}

TEST(CaptureMixer, AnInputRunningAheadKeepsOnlyItsNewestFrames)
{
    CaptureMixer mixer(1, 4);
    mixer.add();
    mixer.add();
    const std::vector<float> ahead{0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    mixer.push(1, ahead.data(), ahead.size());

    const std::vector<float> silence(6, 0.0f);
    EXPECT_EQ(out(mixer.push(0, silence.data(), silence.size())), (std::vector<float>{6, 7, 8, 9, 0, 0}));
}

TEST(CaptureMixer, TheNextOpenInputLeadsWhenTheFirstCloses)
{
    CaptureMixer mixer(1, 100);
    for (int i = 0; i < 3; ++i) mixer.add();
    const std::vector<float> one{1, 1}, two{2, 2, 2};
    mixer.push(1, one.data(), 2);
    mixer.push(2, two.data(), 3);
    mixer.close(0);
    EXPECT_EQ(mixer.openInputs(), 2u);

    // What input 1 queued before it led is not lost; input 2 adds to all of it.
    EXPECT_EQ(out(mixer.push(1, one.data(), 2)), (std::vector<float>{3, 3, 3, 1}));
    const std::vector<float> late{5};
    EXPECT_TRUE(mixer.push(0, late.data(), 1).empty()) << "a closed input still counts";

    // One opened later adds to the leader's sound, and leads once alone.
    const std::size_t later = mixer.add();
    mixer.push(later, late.data(), 1);
    EXPECT_EQ(out(mixer.push(1, one.data(), 1)), (std::vector<float>{6}));
    mixer.close(1);
    mixer.close(2);
    EXPECT_EQ(mixer.openInputs(), 1u);
    EXPECT_EQ(out(mixer.push(later, late.data(), 1)), (std::vector<float>{5}));
    mixer.close(later);
    EXPECT_EQ(mixer.openInputs(), 0u);
}
