// Which playing application is the one chosen for capture: by process while
// it is known, else by binary and name, and never another of that name in
// its place.

#include "sources/application_choice.h"

#include <gtest/gtest.h>

using namespace ondaline::sources;
using Kind = ApplicationTracker::Decision::Kind;

namespace {

AudioSource pacat(std::int32_t pid, const std::string& name) { return {pid, name, "pacat", {}}; }

}  // namespace

TEST(ApplicationChoice, TheChosenProcessIsFollowedAndNeverAnotherOfItsName)
{
    // After a restart: the only Mike of that binary, not the first pacat.
    ApplicationTracker tracker({"pacat", "Mike", 0});
    auto decision = tracker.decide({pacat(1, "Alpha"), pacat(2, "Mike"), pacat(3, "Zed")}, {1, 2, 3});
    ASSERT_EQ(decision.kind, Kind::capture);
    EXPECT_EQ(decision.source->id, 2);
    EXPECT_EQ(tracker.choice().pid, 2);

    // Another Mike seen beside it never takes its place: not while the
    // chosen one is quiet, nor once it has gone.
    EXPECT_EQ(tracker.decide({pacat(2, "Mike"), pacat(4, "Mike")}, {2, 4}).source->id, 2);
    EXPECT_EQ(tracker.decide({pacat(4, "Mike")}, {2, 4}).kind, Kind::notPlaying);
    EXPECT_EQ(tracker.decide({pacat(4, "Mike")}, {4}).kind, Kind::notPlaying);
    // Mike started again, the only newcomer of that name: followed.
    decision = tracker.decide({pacat(4, "Mike"), pacat(5, "Mike")}, {4, 5});
    ASSERT_EQ(decision.kind, Kind::capture);
    EXPECT_EQ(decision.source->id, 5);

    // A process picked that has gone by the first look: the namesake playing
    // then never takes its place.
    ApplicationTracker gone({"pacat", "Mike", 9});
    EXPECT_EQ(gone.decide({pacat(4, "Mike")}, {4}).kind, Kind::notPlaying);
    EXPECT_EQ(gone.decide({pacat(4, "Mike"), pacat(6, "Mike")}, {4, 6}).source->id, 6);

    // Two of that binary and name after a restart: neither, and said so.
    ApplicationTracker restarted({"pacat", "Mike", 0});
    decision = restarted.decide({pacat(4, "Mike"), pacat(1, "Alpha"), pacat(5, "Mike")}, {1, 4, 5});
    EXPECT_EQ(decision.kind, Kind::ambiguous);
    EXPECT_EQ(decision.matching, 2u);
    EXPECT_EQ(restarted.choice().pid, 0);

    // Settings without a name find the binary; a source without an
    // identifier is never the one.
    EXPECT_EQ(ApplicationTracker({"pacat", "", 0}).decide({pacat(7, "Anything")}, {}).kind, Kind::capture);
    EXPECT_EQ(ApplicationTracker({"pacat", "Mike", 0}).decide({{8, "Mike", std::nullopt, {}}}, {}).kind,
              Kind::notPlaying);
}

TEST(ApplicationChoice, ThePickerNamesNamesakesByProcessAndShowsTheChoiceByTheSameRule)
{
    const std::vector<AudioSource> listed{
        {11, "pw-play", "pw-play", {}}, pacat(12, "Mike"), {13, "pw-play", "pw-play", {}}};
    EXPECT_EQ(shownName(listed[0], listed), "pw-play (process 11)");
    EXPECT_EQ(shownName(listed[1], listed), "Mike");

    EXPECT_EQ(chosenItem(listed, {"pacat", "Mike", 0}), 1u);
    EXPECT_EQ(chosenItem(listed, {"pw-play", "pw-play", 13}), 2u);
    EXPECT_EQ(chosenItem(listed, {"pw-play", "pw-play", 0}), std::nullopt);  // which of the two?
    EXPECT_EQ(chosenItem(listed, {"pacat", "Mike", 99}), std::nullopt);      // not the one picked
    EXPECT_EQ(chosenItem(listed, {"pacat", "Alpha", 0}), std::nullopt);
}

// A paused player (its stream kept, corked) is not playing: it is not
// taken, nor counted as a namesake after a restart, and it is taken once it
// plays; one paused beside the chosen one from the first look stays
// another, also once the chosen one has gone.
TEST(ApplicationChoice, APausedApplicationIsThereButNotPlaying)
{
    const auto paused = [](AudioSource source) {
        source.isPaused = true;
        return source;
    };
    ApplicationTracker restarted({"pacat", "Dup", 0});
    auto decision = restarted.decide({paused(pacat(1, "Dup")), pacat(2, "Dup")}, {1, 2});
    ASSERT_EQ(decision.kind, Kind::capture);
    EXPECT_EQ(decision.source->id, 2);

    EXPECT_EQ(restarted.decide({paused(pacat(1, "Dup")), paused(pacat(2, "Dup"))}, {1, 2}).kind, Kind::notPlaying);
    EXPECT_EQ(restarted.decide({paused(pacat(1, "Dup")), pacat(2, "Dup")}, {1, 2}).source->id, 2);
    EXPECT_EQ(restarted.decide({pacat(1, "Dup")}, {1}).kind, Kind::notPlaying);

    ApplicationTracker waiting({"pacat", "Dup", 0});
    EXPECT_EQ(waiting.decide({paused(pacat(3, "Dup"))}, {3}).kind, Kind::notPlaying);
    EXPECT_EQ(waiting.decide({pacat(3, "Dup")}, {3}).source->id, 3);
}
