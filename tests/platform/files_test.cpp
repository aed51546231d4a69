#include "platform/files.h"
#include "support/run_folder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>

using namespace ondaline::platform;
namespace fs = std::filesystem;

namespace {

class FilesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder_ = ondaline::test::runFile("files");
        fs::create_directories(folder_);
    }
    void TearDown() override { fs::remove_all(folder_); }

    std::string path(const std::string& name) const { return folder_ + "/" + name; }
    std::string write(const std::string& name, const std::string& text) const
    {
        std::ofstream(path(name), std::ios::binary) << text;
        return path(name);
    }

    std::string folder_;
};

}  // namespace

TEST_F(FilesTest, ReadsOnlyRegularFilesAndSaysWhyNot)
{
    const FileRead text = readRegularFile(write("a.txt", "hello"));
    ASSERT_TRUE(text.contents);
    EXPECT_EQ(*text.contents, "hello");
    EXPECT_EQ(text.problem, FileProblem::none);

    EXPECT_EQ(readRegularFile(path("none")).problem, FileProblem::missing);
    EXPECT_EQ(readRegularFile(path("none/below")).problem, FileProblem::missing);

    // A FIFO with no writer would block a plain open for ever; a device
    // would be read without end.
    ASSERT_EQ(::mkfifo(path("fifo").c_str(), 0644), 0);
    for (const std::string& other : {path("fifo"), std::string("/dev/zero"), folder_}) {
        const FileRead read = readRegularFile(other);
        EXPECT_FALSE(read.contents) << other;
        EXPECT_EQ(read.problem, FileProblem::notRegularFile) << other;
        EXPECT_EQ(read.reason(), "not a regular file");
        EXPECT_EQ(checkRegularFile(other).problem, FileProblem::notRegularFile) << other;
    }
    fs::create_symlink(path("fifo"), path("link-to-fifo"));
    EXPECT_EQ(readRegularFile(path("link-to-fifo")).problem, FileProblem::notRegularFile);

    const FileRead large = readRegularFile(write("large", std::string(2048, 'x')), 1024);
    EXPECT_EQ(large.problem, FileProblem::tooLarge);
    EXPECT_EQ(large.reason(1024), "larger than 1024 bytes");
    FileRead tooLarge;
    tooLarge.problem = FileProblem::tooLarge;
    EXPECT_EQ(tooLarge.reason(), "larger than 16 MiB");
    // Only the reader keeps to a size; a decoder reads files of any size.
    EXPECT_EQ(checkRegularFile(path("large")).problem, FileProblem::none);
}

TEST_F(FilesTest, FailedAtomicWriteSaysWhy)
{
    EXPECT_FALSE(writeFileAtomically(path("settings.json"), "{}"));
    EXPECT_EQ(*readFile(path("settings.json")), "{}");

    const std::error_code error = writeFileAtomically(path("missing/settings.json"), "{}");
    EXPECT_EQ(error, std::errc::no_such_file_or_directory);
    EXPECT_FALSE(fs::exists(path("missing")));
}
