#include "base/print.h"

#include "platform/standard_stream.h"
#include "support/log_capture.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>

using ondaline::ignoreBrokenPipeSignal;
using ondaline::print;
using ondaline::PrintFormat;
using ondaline::platform::StandardStream;
using ondaline::test::LogCapture;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;
using namespace std::chrono_literals;

namespace {

std::string capturedStdout()
{
    StandardStream::output().flush(10s);
    return GetCapturedStdout();
}

}  // namespace

TEST(Print, WritesStandardOutputAndOneLogLineWithoutTheTerminator)
{
    LogCapture log;
    CaptureStdout();
    print(PrintFormat{.separator = "-"}, "left", "right");
    print(PrintFormat{.terminator = ""}, "no", "newline");
    print();
    EXPECT_EQ(capturedStdout(), "left-right\nno newline\n");
    EXPECT_EQ(log.messages(), (std::vector<std::string>{"left-right", "no newline", ""}));
}

// What comes from files (a song's title, a file's name) never drives the
// terminal and never starts a line of its own: each control character but
// the tab is a mark, on standard output and in the log alike. An entry that
// is several lines by design keeps its line breaks, and only them.
TEST(Print, ControlCharactersAreShownAsMarks)
{
    LogCapture log;
    CaptureStdout();
    print("TestPlayer: Playing x\nOndaline: Forged\r\x1b]0;title\x07\x1b[2J\x7f\xc2\x9b\xff\u2029\tend");
    print(PrintFormat{.keepLineBreaks = true}, "Reply:\r\nServer: \x1b[31mx\r");
    const std::string shown = "TestPlayer: Playing x␊Ondaline: Forged␍␛]0;title␇␛[2J␡\uFFFD\uFFFD\uFFFD\tend";
    EXPECT_EQ(capturedStdout(), shown + "\nReply:\r\nServer: ␛[31mx␍\n");
    EXPECT_EQ(log.messages(), (std::vector<std::string>{shown, "Reply:\r\nServer: ␛[31mx␍"}));
}

TEST(Print, DescribesValuesInTheirUsualForm)
{
    LogCapture log;
    CaptureStdout();
    print("count", 42, -7, 2.5, 1.0, 0.1, true, 'x', std::string("text"), std::string_view("view"));
    EXPECT_EQ(capturedStdout(), "count 42 -7 2.5 1.0 0.1 true x text view\n");
    EXPECT_EQ(log.messages(), (std::vector<std::string>{"count 42 -7 2.5 1.0 0.1 true x text view"}));
}

namespace {

// The log piped into `head`, which has exited: the process lives on, the
// activity log keeps every line, and standard output is not written again.
void printAfterTheReaderHasGone()
{
    ignoreBrokenPipeSignal();
    LogCapture log;
    int gone[2];
    if (pipe(gone) != 0) std::exit(2);
    dup2(gone[1], STDOUT_FILENO);
    close(gone[1]);
    close(gone[0]);
    print("the reader has gone");
    StandardStream::output().flush(10s);

    int later[2];
    if (pipe2(later, O_NONBLOCK) != 0) std::exit(3);
    dup2(later[1], STDOUT_FILENO);
    print("and the process goes on");
    StandardStream::output().flush(10s);
    char byte;
    const bool written = read(later[0], &byte, 1) == 1;
    const bool logged = log.messages() == std::vector<std::string>{"the reader has gone", "and the process goes on"};
    std::exit(!written && logged ? 0 : 1);
}

}  // namespace

// In a process of its own, as a reader gone stays gone for the process.
TEST(Print, OutlivesTheReaderOfStandardOutput)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(printAfterTheReaderHasGone(), testing::ExitedWithCode(0), "");
}
