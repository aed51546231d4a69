// A station folder shared among several users: what one of them keeps
// private stays private, whoever runs the program and whatever another puts
// in the folder.

#include "models/image_schedule_config.h"
#include "platform/named_file.h"

#include "settings_file_fixture.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

using namespace ondaline;
using ondaline::test::asNobody;
using ondaline::test::SettingsFileTest;
namespace fs = std::filesystem;

namespace {

constexpr uid_t kMember = 65534;  // "nobody", standing for another member
constexpr gid_t kGroup = 65534;   // "nogroup", the station's group

struct stat statOf(const std::string& path)
{
    struct stat info {};
    EXPECT_EQ(::lstat(path.c_str(), &info), 0) << path;
    return info;
}

}  // namespace

class SharedStationTest : public SettingsFileTest {
protected:
    void SetUp() override
    {
        SettingsFileTest::SetUp();
        if (::geteuid() != 0) GTEST_SKIP() << "changing to another user needs root";
    }

    // Every file in the settings folder that holds `secret` is `owner`'s and
    // readable by no one else.
    void expectOnlyOwnerReads(const std::string& secret, uid_t owner) const
    {
        int holding = 0;
        for (const std::string& name : filesInSettingsDir()) {
            const std::string path = settingsDir() + "/" + name;
            if (read(path).find(secret) == std::string::npos) continue;
            ++holding;
            const struct stat info = statOf(path);
            EXPECT_EQ(info.st_uid, owner) << name;
            EXPECT_EQ(info.st_mode & (S_IRGRP | S_IROTH), 0u) << name << " " << std::oct << info.st_mode;
        }
        EXPECT_GT(holding, 0);
    }
};

// A member of the station's group replaces root's private settings file,
// which holds the stream key, with his own that all may read: root's next
// save keeps his aside and writes its own as private as before.
TEST_F(SharedStationTest, AMembersFileAtTheNameNeverGetsTheKey)
{
    openToNobody(fs::perms::owner_all | fs::perms::group_all | fs::perms::set_gid);
    ASSERT_EQ(::chown(settingsDir().c_str(), 0, kGroup), 0);
    write(settingsFile(), R"({"stationName":"Root","streamKey":"root-key"})");
    ASSERT_EQ(::chmod(settingsFile().c_str(), 0600), 0);
    ImageScheduleConfig config = ImageScheduleConfig::load();
    ASSERT_EQ(config.streamKey, "root-key");
    ASSERT_EQ(asNobody([this] {
                  write(settingsDir() + "/.x", R"({"stationName":"Mine"})");
                  return ::chmod((settingsDir() + "/.x").c_str(), 0644) == 0 &&
                         ::rename((settingsDir() + "/.x").c_str(), settingsFile().c_str()) == 0;
              }),
              0);

    config.stationName = "Typed";
    const SettingsSave saved = config.save();
    ASSERT_TRUE(saved.written) << saved.failure;
    EXPECT_TRUE(saved.editedElsewhere);
    EXPECT_EQ(statOf(saved.keptAside).st_uid, kMember);
    EXPECT_EQ(ImageScheduleConfig::load().streamKey, "root-key");
    expectOnlyOwnerReads("root-key", 0);

    // So for a member who runs the program as herself: she types her key
    // into the settings another member wrote, and he then puts his file in
    // the place of hers.
    fs::remove_all(settingsDir());
    openToNobody(fs::perms::owner_all | fs::perms::group_all | fs::perms::set_gid);
    ASSERT_EQ(::chown(settingsDir().c_str(), 0, kGroup), 0);
    auto hisFile = [this] {
        write(settingsDir() + "/.x", R"({"stationName":"His"})");
        return ::chown((settingsDir() + "/.x").c_str(), 1001, kGroup) == 0 &&
               ::chmod((settingsDir() + "/.x").c_str(), 0644) == 0 &&
               ::rename((settingsDir() + "/.x").c_str(), settingsFile().c_str()) == 0;
    };
    ASSERT_TRUE(hisFile());
    int herTurn[2], hisTurn[2];
    ASSERT_EQ(::pipe(herTurn), 0);
    ASSERT_EQ(::pipe(hisTurn), 0);
    const pid_t her = ::fork();
    if (her == 0) {
        if (::setgid(kGroup) != 0 || ::setuid(kMember) != 0) ::_exit(2);
        ImageScheduleConfig hers = ImageScheduleConfig::load();
        hers.streamKey = "her-key";
        const bool first = hers.save().written && (statOf(settingsFile()).st_mode & 077) == 0;
        char turn = 0;
        if (::write(hisTurn[1], "s", 1) != 1 || ::read(herTurn[0], &turn, 1) != 1) ::_exit(2);
        hers.stationName = "Hers";
        ::_exit(first && hers.save().written ? 0 : 1);
    }
    char turn = 0;
    ASSERT_EQ(::read(hisTurn[0], &turn, 1), 1);
    ASSERT_TRUE(hisFile());
    ASSERT_EQ(::write(herTurn[1], "r", 1), 1);
    int status = -1;
    ASSERT_EQ(::waitpid(her, &status, 0), her);
    EXPECT_EQ(status, 0);
    for (const int end : {herTurn[0], herTurn[1], hisTurn[0], hisTurn[1]}) ::close(end);
    expectOnlyOwnerReads("her-key", kMember);

    // A key typed for a station that had no settings yet, saved once the
    // station is one where his file is: hers alone there too.
    SetUp();
    ImageScheduleConfig typed = ImageScheduleConfig::load();
    typed.streamKey = "her-next-key";
    SetUp();
    openToNobody(fs::perms::owner_all | fs::perms::group_all | fs::perms::set_gid);
    ASSERT_EQ(::chown(settingsDir().c_str(), 0, kGroup), 0);
    ASSERT_TRUE(hisFile());
    ASSERT_EQ(asNobody([&typed] { return typed.save().written; }), 0);
    expectOnlyOwnerReads("her-next-key", kMember);
}

// The files the settings name are read only where those who may change the
// settings could read them: root reads as the station's group, never as a
// user who owns files, before a save and after it; a member who runs the
// program as herself judges by the modes on the way.
TEST_F(SharedStationTest, NamedFilesAreReadOnlyWhereThoseWhoMayChangeTheSettingsCould)
{
    openToNobody(fs::perms::owner_all | fs::perms::group_all | fs::perms::others_read | fs::perms::others_exec |
                 fs::perms::set_gid);
    ASSERT_EQ(::chown(settingsDir().c_str(), 0, kGroup), 0);
    for (const std::string& folder : {station_, station_ + "/Misc", station_ + "/Misc/System"})
        ASSERT_EQ(::chmod(folder.c_str(), 0755), 0);
    const std::string home = test::makeTempFolder("home-of-nobody");
    ASSERT_EQ(::chmod(home.c_str(), 0755), 0);
    fs::create_directories(home + "/.ssh");
    const std::string privateKey = home + "/.ssh/id_ed25519";
    write(privateKey, "PRIVATE KEY");
    for (const std::string& path : {home, home + "/.ssh", privateKey})
        ASSERT_EQ(::chown(path.c_str(), kMember, kGroup), 0);
    ASSERT_EQ(::chmod((home + "/.ssh").c_str(), 0700), 0);
    ASSERT_EQ(::chmod(privateKey.c_str(), 0600), 0);
    const std::string song = station_ + "/Misc/System/current_song.txt";
    write(song, "Shared song");
    ASSERT_EQ(::chmod(song.c_str(), 0644), 0);

    write(settingsFile(), R"({"stationName":"Group"})");
    ImageScheduleConfig config = ImageScheduleConfig::load();
    const std::string byTheGroup = "the group nogroup may change the station's settings and could not read it";
    EXPECT_EQ(platform::readNamedFile(privateKey, config.namedFileRules()).reason(), byTheGroup);
    config.stationName = "Saved";
    ASSERT_TRUE(config.save().written);
    EXPECT_EQ(platform::readNamedFile(privateKey, config.namedFileRules()).reason(), byTheGroup);
    EXPECT_EQ(platform::readNamedFile(song, config.namedFileRules()).contents, "Shared song");

    // Another member, not of the group, wrote the settings she runs on.
    ASSERT_EQ(::chown(settingsFile().c_str(), 1001, kGroup), 0);
    ASSERT_EQ(::chmod(settingsFile().c_str(), 0664), 0);
    EXPECT_EQ(asNobody([&] {
                  const auto rules = ImageScheduleConfig::load().namedFileRules();
                  const platform::FileRead refused = platform::readNamedFile(privateKey, rules);
                  return refused.problem == platform::FileProblem::refused &&
                         refused.reason() == "other users may change the station's settings and could not read it" &&
                         platform::readNamedFile(song, rules).contents == "Shared song";
              }),
              0);
}

// Folders that root makes on its way to the settings file in another user's
// station are that user's, who can then save there too; in a station its
// group shares, they are the group's to write.
TEST_F(SharedStationTest, FoldersRootMakesInAUsersStationAreTheirs)
{
    openPointerToNobody();
    ASSERT_EQ(::chown(station_.c_str(), kMember, kGroup), 0);
    ASSERT_EQ(::chmod(station_.c_str(), 0755), 0);
    ASSERT_TRUE(ImageScheduleConfig{}.save().written);
    for (const std::string& folder : {station_ + "/Misc", station_ + "/Misc/System", settingsDir()}) {
        EXPECT_EQ(statOf(folder).st_uid, kMember) << folder;
        EXPECT_EQ(statOf(folder).st_gid, kGroup) << folder;
    }
    EXPECT_EQ(asNobody([] {
                  ImageScheduleConfig config = ImageScheduleConfig::load();
                  config.stationName = "Hers";
                  return config.save().written;
              }),
              0);
    EXPECT_EQ(ImageScheduleConfig::load().stationName, "Hers");

    fs::remove_all(station_ + "/Misc");
    ASSERT_EQ(::chmod(station_.c_str(), 02775), 0);
    ASSERT_TRUE(ImageScheduleConfig{}.save().written);
    for (const std::string& folder : {station_ + "/Misc", station_ + "/Misc/System", settingsDir()})
        EXPECT_EQ(statOf(folder).st_mode & 07777, 02775u) << folder;
}
