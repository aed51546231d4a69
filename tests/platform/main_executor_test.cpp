#include "platform/dispatch/main_executor.h"

#include <gtest/gtest.h>

#include <vector>

using ondaline::platform::QueueMainExecutor;

TEST(QueueMainExecutor, RunsPostedTasksInOrderAndDrains)
{
    QueueMainExecutor main;
    std::vector<int> seen;
    for (int i = 0; i < 50; ++i) main.post([&, i] { seen.push_back(i); });
    main.drain();
    ASSERT_EQ(seen.size(), 50u);
    for (int i = 0; i < 50; ++i) EXPECT_EQ(seen[i], i);
}
