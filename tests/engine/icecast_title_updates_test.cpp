#include "engine/icecast/icecast_title_updates.h"

#include <gtest/gtest.h>

using ondaline::icecast::TitleUpdates;

// One update on its way; of the titles asked for meanwhile only the newest
// goes next, and once nothing waits the slot is free again.
TEST(IcecastTitleUpdates, OneOnItsWayAndTheNewestWaitingTitleGoesNext)
{
    TitleUpdates updates;
    const auto first = updates.request("TEXT 1");
    ASSERT_TRUE(first);
    for (const char* song : {"TEXT 2", "TEXT 3", "TEXT 4"}) EXPECT_FALSE(updates.request(song));

    const auto next = updates.finished(first->id);
    ASSERT_TRUE(next);
    EXPECT_EQ(next->song, "TEXT 4");
    EXPECT_FALSE(updates.finished(first->id));  // its time limit, after its reply: no news
    EXPECT_FALSE(updates.request("TEXT 5"));

    EXPECT_FALSE(updates.finished(updates.finished(next->id).value().id));  // TEXT 5 went; nothing waits
    EXPECT_TRUE(updates.request("TEXT 6"));
}

// After a teardown the waiting title is gone, and the forgotten update's end
// (its time limit firing on the next stream) neither frees nor starts one.
TEST(IcecastTitleUpdates, ClearDropsTheWaitingTitleAndIgnoresTheForgottenUpdatesEnd)
{
    TitleUpdates updates;
    const auto old = updates.request("old stream");
    ASSERT_TRUE(old);
    EXPECT_FALSE(updates.request("waiting"));
    updates.clear();

    const auto current = updates.request("new stream");
    ASSERT_TRUE(current);
    EXPECT_FALSE(updates.request("newer"));
    EXPECT_FALSE(updates.finished(old->id));
    EXPECT_FALSE(updates.request("newest"));  // still one on its way
    EXPECT_EQ(updates.finished(current->id).value().song, "newest");
}
