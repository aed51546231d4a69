#include "models/image_schedule_config.h"
#include "models/station_path.h"

#include "support/temp_home.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <regex>

using namespace ondaline;
namespace fs = std::filesystem;

namespace {

// Each test gets a station folder of its own.
class SettingsFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        station_ = test::makeTempFolder("station");
        StationPath::save(station_);
    }

    std::string settingsDir() const { return station_ + "/Misc/System/Streamer"; }
    std::string settingsFile() const { return settingsDir() + "/ondaline_schedule.json"; }

    static void write(const std::string& path, const std::string& text) { std::ofstream(path) << text; }
    static std::string read(const std::string& path)
    {
        std::ifstream in(path);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    std::vector<std::string> filesInSettingsDir() const
    {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(settingsDir())) names.push_back(entry.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }

    std::string station_;
};

}  // namespace

TEST_F(SettingsFileTest, PathsFollowTheStationFolder)
{
    EXPECT_EQ(ImageScheduleConfig::configDir(), settingsDir());
    EXPECT_EQ(ImageScheduleConfig::configFile(), settingsFile());
    EXPECT_EQ(ImageScheduleConfig::streamKeyFile(), settingsDir() + "/ondaline_key");
}

TEST_F(SettingsFileTest, MissingFileLoadsDefaultsAndCreatesTheFolder)
{
    EXPECT_FALSE(fs::exists(settingsDir()));
    EXPECT_EQ(ImageScheduleConfig::load(), ImageScheduleConfig{});
    EXPECT_TRUE(fs::is_directory(settingsDir()));
}

TEST_F(SettingsFileTest, SaveThenLoadGivesTheSameRecord)
{
    ImageScheduleConfig config;
    config.stationName = "Radio Ondes";
    config.hourOffset = -5;
    config.entries.emplace_back(3, 22, 0, 2, 0, "/img/night €.png");
    config.visualization.enabled = true;
    config.crawler.fontName = "";
    config.save();
    EXPECT_EQ(filesInSettingsDir(), std::vector<std::string>{"ondaline_schedule.json"});
    EXPECT_EQ(ImageScheduleConfig::load(), config);
}

TEST_F(SettingsFileTest, EmptyObjectLoadsDefaultsAndTheNextSaveWritesEveryKey)
{
    fs::create_directories(settingsDir());
    write(settingsFile(), "{\"fromAnotherVersion\": 1}");
    const auto config = ImageScheduleConfig::load();
    EXPECT_EQ(config, ImageScheduleConfig{});
    config.save();
    const std::string text = read(settingsFile());
    EXPECT_EQ(text.find("fromAnotherVersion"), std::string::npos);
    EXPECT_NE(text.find("\"audioOutputDeviceUID\":\"\""), std::string::npos);
}

TEST_F(SettingsFileTest, UndecodableFileIsKeptAsideBeforeTheFirstSave)
{
    for (const std::string broken : {"[1, 2]", "", "{\"stationName\": \"cut"}) {
        fs::remove_all(settingsDir());
        fs::create_directories(settingsDir());
        write(settingsFile(), broken);
        auto config = ImageScheduleConfig::load();
        EXPECT_EQ(config, ImageScheduleConfig{});
        config.stationName = "New";
        config.save();

        const auto names = filesInSettingsDir();
        ASSERT_EQ(names.size(), 2u) << broken;
        EXPECT_EQ(names[0], "ondaline_schedule.json");
        EXPECT_TRUE(names[1].starts_with("ondaline_schedule.json.unreadable-")) << names[1];
        EXPECT_EQ(read(settingsDir() + "/" + names[1]), broken);
        EXPECT_EQ(ImageScheduleConfig::load().stationName, "New");
    }
}

TEST_F(SettingsFileTest, UnwritableRecordLeavesThePreviousFileAsItWas)
{
    ImageScheduleConfig config;
    config.stationName = "Before";
    config.save();
    const std::string before = read(settingsFile());

    config.stationName = "After";
    config.nowPlaying.textX = std::numeric_limits<double>::quiet_NaN();
    config.save();
    EXPECT_EQ(read(settingsFile()), before);
}

TEST_F(SettingsFileTest, WriteFailingHalfwayLeavesThePreviousFileIntact)
{
    ImageScheduleConfig config;
    config.stationName = "Before";
    config.save();
    const std::string before = read(settingsFile());

    // A file size limit makes the write fail partway, as a full disk would.
    struct rlimit original {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &original), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = original;
    small.rlim_cur = 200;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);

    config.stationName = "After";
    config.save();

    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &original), 0);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_EQ(read(settingsFile()), before);
    EXPECT_EQ(filesInSettingsDir(), std::vector<std::string>{"ondaline_schedule.json"});  // no temporary left
    EXPECT_EQ(ImageScheduleConfig::load().stationName, "Before");
}

TEST_F(SettingsFileTest, ChangingTheStationFolderWritesAnotherFile)
{
    ImageScheduleConfig config;
    config.stationName = "First";
    config.save();
    const std::string firstFile = settingsFile();

    SetUp();  // another station folder
    config.stationName = "Second";
    config.save();
    EXPECT_NE(settingsFile(), firstFile);
    EXPECT_NE(read(firstFile).find("First"), std::string::npos);
    EXPECT_NE(read(settingsFile()).find("Second"), std::string::npos);
}

TEST_F(SettingsFileTest, SavingIntoAnotherStationKeepsItsFileAside)
{
    auto config = ImageScheduleConfig::load();
    config.stationName = "From the first station";

    SetUp();  // the user picks a station that has settings of its own
    fs::create_directories(settingsDir());
    const std::string theirs = "{\"stationName\": \"Theirs\"}";
    write(settingsFile(), theirs);

    const ImageScheduleConfig edited = config;  // a copy, as an editor saves
    edited.save();
    auto names = filesInSettingsDir();
    ASSERT_EQ(names.size(), 2u);
    EXPECT_EQ(names[0], "ondaline_schedule.json");
    EXPECT_TRUE(std::regex_match(names[1], std::regex(R"(ondaline_schedule\.json\.replaced-\d{8}-\d{6})"))) << names[1];
    EXPECT_EQ(read(settingsDir() + "/" + names[1]), theirs);
    EXPECT_EQ(ImageScheduleConfig::load(), config);

    // Saving again, even with the folder named through a link, is the same file.
    edited.save();
    const std::string link = test::makeTempFolder("link") + "/station";
    fs::create_directory_symlink(station_, link);
    StationPath::save(link);
    edited.save();
    EXPECT_EQ(filesInSettingsDir(), names);

    SetUp();  // a station without settings
    edited.save();
    EXPECT_EQ(filesInSettingsDir(), std::vector<std::string>{"ondaline_schedule.json"});
}

TEST_F(SettingsFileTest, StreamKeyFileIsReadTrimmed)
{
    EXPECT_EQ(ImageScheduleConfig::readStreamKeyFile(), "");
    fs::create_directories(settingsDir());
    write(ImageScheduleConfig::streamKeyFile(), "  live_1234-abcd\n");
    EXPECT_EQ(ImageScheduleConfig::readStreamKeyFile(), "live_1234-abcd");
    write(ImageScheduleConfig::streamKeyFile(), "\xff\xfe");
    EXPECT_EQ(ImageScheduleConfig::readStreamKeyFile(), "");
}
