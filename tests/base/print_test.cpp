#include "base/print.h"

#include "support/log_capture.h"

#include <gtest/gtest.h>

using ondaline::print;
using ondaline::PrintFormat;
using ondaline::test::LogCapture;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

TEST(Print, WritesStandardOutputAndOneLogLineWithoutTheTerminator)
{
    LogCapture log;
    CaptureStdout();
    print(PrintFormat{.separator = "-"}, "left", "right");
    print(PrintFormat{.terminator = ""}, "no", "newline");
    print();
    EXPECT_EQ(GetCapturedStdout(), "left-right\nno newline\n");
    EXPECT_EQ(log.messages(), (std::vector<std::string>{"left-right", "no newline", ""}));
}

TEST(Print, DescribesValuesInTheirUsualForm)
{
    LogCapture log;
    CaptureStdout();
    print("count", 42, -7, 2.5, 1.0, 0.1, true, 'x', std::string("text"), std::string_view("view"));
    EXPECT_EQ(GetCapturedStdout(), "count 42 -7 2.5 1.0 0.1 true x text view\n");
    EXPECT_EQ(log.messages(), (std::vector<std::string>{"count 42 -7 2.5 1.0 0.1 true x text view"}));
}
