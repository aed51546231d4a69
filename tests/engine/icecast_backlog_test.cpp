#include "engine/icecast/icecast_backlog.h"

#include <gtest/gtest.h>

using ondaline::icecast::Backlog;

// A link that keeps taking the audio, however slowly, is not stalled; one
// that has taken nothing for 10 s while audio waits is. The clock starts
// when the wait begins, not at the last write of an earlier, drained wait.
TEST(IcecastBacklog, StalledOnlyWhenNothingIsWrittenForTenSecondsWhileAudioWaits)
{
    Backlog backlog;
    EXPECT_FALSE(backlog.stall(1000));  // nothing handed over yet
    backlog.handed(600, 1000);
    backlog.finished(600, true, 1000.1);
    EXPECT_FALSE(backlog.stall(1100));  // idle, nothing waiting

    backlog.handed(600, 1100);
    EXPECT_FALSE(backlog.stall(1109.9));
    EXPECT_EQ(backlog.stall(1110), "nothing could be sent for 10s");

    backlog.handed(600, 1110);
    backlog.finished(600, true, 1110.5);  // an older frame finally went out
    EXPECT_FALSE(backlog.stall(1115));
    backlog.finished(600, false, 1116);              // dropped, not written: no progress
    EXPECT_EQ(backlog.stall(1120.5), std::nullopt);  // and nothing waits any more
}

TEST(IcecastBacklog, MoreThanEightMegabytesWaitingIsAStallEvenWhileWritesGoOn)
{
    Backlog backlog;
    for (double now = 0; now < 90; now += 1) {
        backlog.handed(100000, now);
        backlog.finished(10000, true, now);  // a tenth of it gets through
    }
    EXPECT_FALSE(backlog.stall(90));  // 8.1 MB waiting, just under 8 MiB
    backlog.handed(400000, 90);
    EXPECT_EQ(backlog.stall(90), "more than 8 MB waiting to be sent");
}
