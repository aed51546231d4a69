#include "models/station_path.h"

#include "support/temp_home.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using ondaline::StationPath;
using ondaline::test::tempRoot;

namespace {

class StationPathTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::filesystem::remove(pointerFile());
        std::filesystem::remove(suiteFile());
    }
    void TearDown() override { SetUp(); }

    static std::string pointerFile() { return tempRoot() + "/home/.ondaline_station"; }
    static std::string suiteFile() { return tempRoot() + "/config/com.quillmere.shared.json"; }

    static void write(const std::string& path, const std::string& text) { std::ofstream(path) << text; }
    static std::string read(const std::string& path)
    {
        std::ifstream in(path);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
};

}  // namespace

TEST_F(StationPathTest, PointerFileLivesInTheHomeFolderForTheWholeProcess)
{
    EXPECT_EQ(StationPath::dotFile(), pointerFile());
    EXPECT_EQ(&StationPath::dotFile(), &StationPath::dotFile());
}

TEST_F(StationPathTest, PointerFileIsTrimmedAndWinsOverTheSuite)
{
    write(suiteFile(), R"({"StationFolderPath": "/srv/suite"})");
    write(pointerFile(), "  /srv/station one\n");
    EXPECT_EQ(StationPath::load(), "/srv/station one");
}

TEST_F(StationPathTest, BlankPointerFileFallsToTheSuiteValueUntrimmed)
{
    write(pointerFile(), "\n");
    write(suiteFile(), R"({"StationFolderPath": " /srv/suite "})");
    EXPECT_EQ(StationPath::load(), " /srv/suite ");
}

TEST_F(StationPathTest, DefaultsWhenNeitherSourceGivesAPath)
{
    EXPECT_EQ(StationPath::load(), "/Station");
    for (const char* suite : {R"({"StationFolderPath": ""})", R"({"StationFolderPath": 42})", R"(["/srv"])", "not json",
                              R"({"Other": "/srv"})"}) {
        write(suiteFile(), suite);
        EXPECT_EQ(StationPath::load(), "/Station") << suite;
    }
    write(pointerFile(), "\xff\xfe/srv/bad");  // not UTF-8
    EXPECT_EQ(StationPath::load(), "/Station");
}

TEST_F(StationPathTest, SaveWritesThePathUnchangedAndTakesEffectAtOnce)
{
    StationPath::save(" /srv/a ");
    EXPECT_EQ(read(pointerFile()), " /srv/a ");
    EXPECT_EQ(StationPath::load(), "/srv/a");

    StationPath::save("/srv/does/not/exist/");
    EXPECT_EQ(StationPath::load(), "/srv/does/not/exist/");

    StationPath::save("");
    EXPECT_TRUE(std::filesystem::exists(pointerFile()));
    EXPECT_EQ(read(pointerFile()), "");
    EXPECT_EQ(StationPath::load(), "/Station");
}

TEST_F(StationPathTest, SaveIntoAnUnwritablePlaceIsIgnored)
{
    // A folder where the pointer file should be: nothing can be written there.
    std::filesystem::create_directory(pointerFile());
    StationPath::save("/srv/x");
    EXPECT_EQ(StationPath::load(), "/Station");
    std::filesystem::remove(pointerFile());
}
