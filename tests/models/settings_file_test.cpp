#include "models/image_schedule_config.h"
#include "models/station_path.h"
#include "platform/preferences.h"

#include "settings_file_fixture.h"
#include "support/needs.h"
#include "support/temp_home.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>

using namespace ondaline;
using ondaline::test::asNobody;
using ondaline::test::SettingsFileTest;
namespace fs = std::filesystem;

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

    // A file that is to be kept aside stays at its path as well, so the next
    // start does not find defaults with the user's file hidden beside them.
    write(settingsFile(), "{\"stationName\": \"cut");
    config = ImageScheduleConfig::load();
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    std::signal(SIGXFSZ, SIG_IGN);
    const SettingsSave saved = config.save();
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &original), 0);
    std::signal(SIGXFSZ, previousHandler);
    EXPECT_FALSE(saved.written);
    EXPECT_EQ(saved.keptAside, "");
    EXPECT_EQ(read(settingsFile()), "{\"stationName\": \"cut");
    EXPECT_EQ(filesInSettingsDir(), std::vector<std::string>{"ondaline_schedule.json"});
}

TEST_F(SettingsFileTest, ChangeMadeElsewhereIsKeptAsideBeforeTheNextSave)
{
    ImageScheduleConfig config;
    config.stationName = "Ours";
    ASSERT_TRUE(config.save().written);
    config = ImageScheduleConfig::load();
    config.stationName = "Ours again";
    EXPECT_EQ(config.save().keptAside, "") << "our own file is not someone else's";

    // A hand, or another instance, writes the file while we run.
    const std::string edited = "{\"stationName\": \"Edited by hand\"}";
    write(settingsFile(), edited);
    config.stationName = "Ours once more";
    const SettingsSave saved = config.save();
    EXPECT_TRUE(saved.written);
    EXPECT_TRUE(saved.editedElsewhere);
    EXPECT_TRUE(std::regex_match(saved.keptAside, std::regex(".*/ondaline_schedule\\.json\\.edited-\\d{8}-\\d{6}")))
        << saved.keptAside;
    EXPECT_EQ(read(saved.keptAside), edited);
    EXPECT_EQ(ImageScheduleConfig::load().stationName, "Ours once more");
    EXPECT_EQ(config.save().keptAside, "");

    // A file made while there was none is someone else's too.
    fs::remove(settingsFile());
    config = ImageScheduleConfig::load();
    write(settingsFile(), edited);
    EXPECT_TRUE(config.save().editedElsewhere);
    EXPECT_EQ(filesInSettingsDir().size(), 3u);
}

TEST_F(SettingsFileTest, LeftoversOfInterruptedSavesAreRemovedAtLoad)
{
    fs::create_directories(settingsDir());
    const auto old = fs::file_time_type::clock::now() - std::chrono::minutes(5);
    auto leave = [&](const std::string& name, bool isOld = true) {
        write(settingsDir() + "/" + name, "{}");
        if (isOld) fs::last_write_time(settingsDir() + "/" + name, old);
    };
    leave("ondaline_schedule.json.tmp-a1B2c3");
    leave("ondaline_schedule.json.tmp-Zz9Yy8", false);  // a save of another instance, under way
    for (const char* theirs : {"ondaline_schedule.json.tmp-a1B2", "ondaline_schedule.json.tmp-a1B2c3.bak",
                               "ondaline_key.tmp-a1B2c3", "ondaline_schedule.json.tmp-a1.2c3"})
        leave(theirs);
    fs::create_directory(settingsDir() + "/ondaline_schedule.json.tmp-Folder");
    if (geteuid() == 0) {
        leave("ondaline_schedule.json.tmp-NoBody");
        ASSERT_EQ(chown((settingsDir() + "/ondaline_schedule.json.tmp-NoBody").c_str(), 65534, 65534), 0);
    }

    // Each file removed is named, with its size, for the log.
    const std::vector<platform::RemovedFile> removed = ImageScheduleConfig::loadReporting().removedLeftovers;
    ASSERT_EQ(removed.size(), 1u);
    EXPECT_EQ(removed[0].path, settingsDir() + "/ondaline_schedule.json.tmp-a1B2c3");
    EXPECT_EQ(removed[0].bytes, 2u);
    auto names = filesInSettingsDir();
    EXPECT_EQ(std::count(names.begin(), names.end(), "ondaline_schedule.json.tmp-a1B2c3"), 0);
    EXPECT_EQ(names.size(), geteuid() == 0 ? 7u : 6u);
    EXPECT_TRUE(ImageScheduleConfig::loadReporting().removedLeftovers.empty());
}

TEST_F(SettingsFileTest, CopiesKeptAsideNeverReplaceOneAnother)
{
    fs::create_directories(settingsDir());
    // Every name this second and the next could give is taken already.
    std::vector<std::string> taken;
    for (std::time_t when : {std::time(nullptr), std::time(nullptr) + 1}) {
        std::tm local{};
        localtime_r(&when, &local);
        char stamp[32];
        std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
        const std::string base = settingsFile() + ".unreadable-" + stamp;
        for (int n = 1; n <= 120; ++n) taken.push_back(n == 1 ? base : base + "-" + std::to_string(n));
    }
    for (const std::string& name : taken) write(name, name);
    write(settingsFile(), "not JSON");

    const SettingsSave saved = ImageScheduleConfig::load().save();
    ASSERT_TRUE(saved.written) << saved.failure;
    EXPECT_EQ(std::count(taken.begin(), taken.end(), saved.keptAside), 0) << saved.keptAside;
    EXPECT_EQ(read(saved.keptAside), "not JSON");
    for (const std::string& name : taken) ASSERT_EQ(read(name), name);
}

TEST_F(SettingsFileTest, MissingFileNamesTheNewestCopyKeptAside)
{
    fs::create_directories(settingsDir());
    EXPECT_EQ(ImageScheduleConfig::loadReporting().keptAsideCopy, "");
    for (const char* name :
         {"ondaline_schedule.json.unreadable-20261201-101010", "ondaline_schedule.json.replaced-20261202-090000-2",
          "ondaline_schedule.json.edited-20261202-090000-10", "ondaline_schedule.json.replaced-20261202-090000",
          "ondaline_schedule.json.edited-20261202-0900", "ondaline_schedule.json.bak-20991231-000000"})
        write(settingsDir() + "/" + name, "{}");
    EXPECT_EQ(ImageScheduleConfig::loadReporting().keptAsideCopy,
              settingsDir() + "/ondaline_schedule.json.edited-20261202-090000-10");
    write(settingsFile(), "{}");
    EXPECT_EQ(ImageScheduleConfig::loadReporting().keptAsideCopy, "");
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

TEST_F(SettingsFileTest, ScheduleWithABadEntryIsKeptAsideBeforeTheFirstSave)
{
    const std::string good =
        R"({"dayOfWeek":2,"startHour":6,"startMinute":0,"endHour":9,"endMinute":0,"imagePath":"/a.png"})";
    for (const std::string& bad : {std::string("\"6\""), std::string("6.5")}) {
        fs::remove_all(settingsDir());
        fs::create_directories(settingsDir());
        const std::string stored = R"({"stationName":"Kept","entries":[)" + good + R"(,{"dayOfWeek":3,"startHour":)" +
                                   bad + R"(,"startMinute":0,"endHour":9,"endMinute":0,"imagePath":"/b.png"}]})";
        write(settingsFile(), stored);

        const SettingsLoad loaded = ImageScheduleConfig::loadReporting();
        EXPECT_EQ(loaded.problem, "an image schedule entry does not decode");
        EXPECT_TRUE(loaded.scheduleOnly);
        EXPECT_TRUE(loaded.config.entries.empty());
        EXPECT_EQ(loaded.config.stationName, "Kept");

        const SettingsSave saved = loaded.config.save();
        EXPECT_TRUE(saved.written);
        EXPECT_TRUE(saved.keptAside.starts_with(settingsFile() + ".unreadable-")) << saved.keptAside;
        EXPECT_EQ(read(saved.keptAside), stored);  // every valid entry is still there
        // Written in full, the new file is overwritten without a copy.
        EXPECT_TRUE(loaded.config.save().keptAside.empty());
        EXPECT_EQ(filesInSettingsDir().size(), 2u);
    }

    // Mended by hand while the program runs, the file still holds more than
    // the record loaded from it: the first save keeps the mended file.
    fs::remove_all(settingsDir());
    fs::create_directories(settingsDir());
    write(settingsFile(), R"({"stationName":"Kept","entries":[{"dayOfWeek":"2"}]})");
    const SettingsLoad loaded = ImageScheduleConfig::loadReporting();
    ASSERT_TRUE(loaded.scheduleOnly);
    const std::string mended = R"({"stationName":"Kept","entries":[)" + good + "]}";
    write(settingsFile(), mended);
    const SettingsSave saved = loaded.config.save();
    EXPECT_TRUE(saved.written);
    ASSERT_FALSE(saved.keptAside.empty());
    EXPECT_EQ(read(saved.keptAside), mended);
}

TEST_F(SettingsFileTest, FileThatCannotBeReadIsKeptAsideNotOverwritten)
{
    const std::string big = "{\"stationName\":\"Big\"}" + std::string(17 * 1024 * 1024, ' ');
    const std::vector<std::pair<std::string, std::function<void()>>> cases = {
        {"larger than 16 MiB", [&] { write(settingsFile(), big); }},
        {"not a regular file", [&] { ASSERT_EQ(::mkfifo(settingsFile().c_str(), 0644), 0); }},
        {"not a regular file", [&] { fs::create_directory(settingsFile()); }},
    };
    for (const auto& [problem, make] : cases) {
        fs::remove_all(settingsDir());
        fs::create_directories(settingsDir());
        make();
        const auto type = fs::symlink_status(settingsFile()).type();

        const SettingsLoad loaded = ImageScheduleConfig::loadReporting();  // returns: a FIFO is not opened
        EXPECT_EQ(loaded.problem, problem);
        EXPECT_FALSE(loaded.scheduleOnly);
        EXPECT_EQ(loaded.config, ImageScheduleConfig{});

        const SettingsSave saved = loaded.config.save();
        EXPECT_TRUE(saved.written) << saved.failure;
        ASSERT_TRUE(saved.keptAside.starts_with(settingsFile() + ".unreadable-")) << saved.keptAside;
        EXPECT_EQ(fs::symlink_status(saved.keptAside).type(), type);
        if (type == fs::file_type::regular) {
            EXPECT_EQ(fs::file_size(saved.keptAside), big.size());
        }
        EXPECT_EQ(ImageScheduleConfig::loadReporting().problem, "");
    }
}

TEST_F(SettingsFileTest, FileTheUserMayNotReadIsKeptAside)
{
    ONDALINE_NEEDS(::geteuid() == 0, "changing to the user nobody needs root");
    openToNobody(fs::perms::all);
    write(settingsFile(), "{\"stationName\":\"Mine\"}");
    // root's and closed to others, but not read-only: nobody may replace it
    // in this folder.
    fs::permissions(settingsFile(), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);

    EXPECT_EQ(asNobody([] {
                  const SettingsLoad loaded = ImageScheduleConfig::loadReporting();
                  if (loaded.problem != "cannot be read (Permission denied)") return false;
                  ImageScheduleConfig config = loaded.config;
                  config.stationName = "New";
                  const SettingsSave saved = config.save();
                  return saved.written && saved.keptAside.find(".unreadable-") != std::string::npos &&
                         ImageScheduleConfig::loadReporting().problem.empty();
              }),
              0);
    const auto names = filesInSettingsDir();
    ASSERT_EQ(names.size(), 2u);
    fs::permissions(settingsDir() + "/" + names[1], fs::perms::owner_read);
    EXPECT_EQ(read(settingsDir() + "/" + names[1]), "{\"stationName\":\"Mine\"}");
    // The new file is nobody's, as private as root's was: root's group,
    // which nobody may not give it, gets no access either.
    struct stat saved {};
    ASSERT_EQ(::stat(settingsFile().c_str(), &saved), 0);
    EXPECT_EQ(saved.st_uid, 65534u);
    EXPECT_EQ(saved.st_mode & 07777, 0600u);
}

TEST_F(SettingsFileTest, SaveThroughASymbolicLinkWritesItsTarget)
{
    const std::string elsewhere = test::makeTempFolder("elsewhere");
    const std::string target = elsewhere + "/settings.json";
    fs::create_directories(settingsDir());
    write(target, "{\"stationName\":\"Old\"}");
    fs::create_symlink(target, settingsFile());

    auto config = ImageScheduleConfig::load();
    EXPECT_EQ(config.stationName, "Old");
    config.stationName = "New";
    EXPECT_TRUE(config.save().written);
    EXPECT_TRUE(fs::is_symlink(settingsFile()));
    EXPECT_EQ(ImageScheduleConfig::load().stationName, "New");
    EXPECT_NE(read(target).find("New"), std::string::npos);

    // What is kept aside is the target, in its own folder; the link stays.
    write(target, "not json");
    const SettingsSave saved = config.save();
    EXPECT_TRUE(saved.written);
    EXPECT_EQ(fs::path(saved.keptAside).parent_path(), elsewhere);
    EXPECT_EQ(read(saved.keptAside), "not json");
    EXPECT_TRUE(fs::is_symlink(settingsFile()));
    EXPECT_EQ(filesInSettingsDir(), std::vector<std::string>{"ondaline_schedule.json"});

    // A link that leads nowhere is a failed save, and nothing is made.
    fs::remove(settingsFile());
    fs::create_symlink(elsewhere + "/gone/settings.json", settingsFile());
    const SettingsSave dangling = config.save();
    EXPECT_FALSE(dangling.written);
    EXPECT_EQ(dangling.failure, settingsFile() + " is a symbolic link to a missing file");
    EXPECT_FALSE(fs::exists(elsewhere + "/gone"));
}

TEST_F(SettingsFileTest, FailedSaveSaysWhy)
{
    ImageScheduleConfig config;
    const SettingsSave written = config.save();
    EXPECT_TRUE(written.written);
    EXPECT_EQ(written.failure, "");

    config.nowPlaying.textX = std::numeric_limits<double>::infinity();
    EXPECT_EQ(config.save().failure, "a setting is not a finite number");

    // A station folder that cannot be made (here: below a file).
    const std::string file = test::makeTempFolder("blocked") + "/file";
    write(file, "");
    StationPath::save(file + "/station");
    const SettingsSave blocked = ImageScheduleConfig{}.save();
    EXPECT_FALSE(blocked.written);
    EXPECT_EQ(blocked.failure, "cannot create " + file + "/station/Misc/System/Streamer (Not a directory)");
}

TEST_F(SettingsFileTest, FilesNamedByTheStationThatAreNotRegularAreNotOpened)
{
    // The stream-key file.
    fs::create_directories(settingsDir());
    ASSERT_EQ(::mkfifo(ImageScheduleConfig::streamKeyFile().c_str(), 0644), 0);
    std::string unusable;
    EXPECT_EQ(ImageScheduleConfig::readStreamKeyFile(&unusable), "");
    EXPECT_EQ(unusable, ImageScheduleConfig::streamKeyFile() + ": not a regular file");

    // The pointer file: the lookup passes over it to the default.
    const std::string dotFile = StationPath::dotFile();
    fs::remove(dotFile);
    ASSERT_EQ(::mkfifo(dotFile.c_str(), 0644), 0);
    EXPECT_EQ(StationPath::load(), "/Station");
    EXPECT_EQ(StationPath::unusableSources(), std::vector<std::string>{dotFile + ": not a regular file"});
    fs::remove(dotFile);
    EXPECT_TRUE(StationPath::unusableSources().empty());

    // The preferences shared with the maker's other programs, likewise.
    const std::string shared = platform::sharedPreferencesFile("com.quillmere.shared");
    fs::create_directories(fs::path(shared).parent_path());
    ASSERT_EQ(::mkfifo(shared.c_str(), 0644), 0);
    EXPECT_EQ(StationPath::load(), "/Station");
    EXPECT_EQ(StationPath::unusableSources(), std::vector<std::string>{shared + ": not a regular file"});
    fs::remove(shared);
}
