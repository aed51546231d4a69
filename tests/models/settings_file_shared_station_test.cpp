// A station folder shared among several users: what one of them keeps
// private stays private, whoever runs the program and whatever another puts
// in the folder.

#include "models/image_schedule_config.h"
#include "platform/file_rights/named_file.h"

#include "settings_file_fixture.h"
#include "support/needs.h"

#include <gtest/gtest.h>

#include <sys/acl.h>
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

void setAcl(const std::string& path, const char* text)
{
    acl_t acl = ::acl_from_text(text);
    ASSERT_NE(acl, nullptr) << text;
    EXPECT_EQ(::acl_set_file(path.c_str(), ACL_TYPE_ACCESS, acl), 0) << path << " " << text;
    ::acl_free(acl);
}

}  // namespace

class SharedStationTest : public SettingsFileTest {
protected:
    void SetUp() override
    {
        SettingsFileTest::SetUp();
        ONDALINE_NEEDS(::geteuid() == 0, "changing to another user needs root");
    }

    // No file in the settings folder holds `secret`.
    void expectNoFileHolds(const std::string& secret) const
    {
        for (const std::string& name : filesInSettingsDir())
            EXPECT_EQ(read(settingsDir() + "/" + name).find(secret), std::string::npos) << name;
    }
};

// A member of the station's group replaces root's private settings file,
// under a record holding the key root typed, with his own that all may
// read: root's next save keeps his aside and writes the key into no file of
// the station.
TEST_F(SharedStationTest, AMembersFileAtTheNameNeverGetsTheKey)
{
    openToNobody(fs::perms::owner_all | fs::perms::group_all | fs::perms::set_gid);
    ASSERT_EQ(::chown(settingsDir().c_str(), 0, kGroup), 0);
    write(settingsFile(), R"({"stationName":"Root"})");
    ASSERT_EQ(::chmod(settingsFile().c_str(), 0600), 0);
    ImageScheduleConfig config = ImageScheduleConfig::load();
    config.streamKey = "root-key";
    ASSERT_TRUE(config.save().written);
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
    expectNoFileHolds("root-key");

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
        const bool first = hers.save().written;
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
    expectNoFileHolds("her-key");

    // A key typed for a station that had no settings yet, saved once the
    // station is one where his file is: in no file there either.
    SetUp();
    ImageScheduleConfig typed = ImageScheduleConfig::load();
    typed.streamKey = "her-next-key";
    SetUp();
    openToNobody(fs::perms::owner_all | fs::perms::group_all | fs::perms::set_gid);
    ASSERT_EQ(::chown(settingsDir().c_str(), 0, kGroup), 0);
    ASSERT_TRUE(hisFile());
    ASSERT_EQ(asNobody([&typed] { return typed.save().written; }), 0);
    expectNoFileHolds("her-next-key");
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

    // A record loaded at a station of root's own judges by the group's
    // rules once the station in use is the group's, saved or not.
    const std::string group = station_;
    StationPath::save(test::makeTempFolder("own"));
    ImageScheduleConfig own = ImageScheduleConfig::load();
    EXPECT_EQ(platform::readNamedFile(privateKey, own.namedFileRules()).contents, "PRIVATE KEY");
    StationPath::save(group);
    EXPECT_EQ(platform::readNamedFile(privateKey, own.namedFileRules()).reason(), byTheGroup);
    // At the station in use, each save works them out again: root lets the
    // group write the settings folder, and the next save judges by its rules.
    const std::string later = test::makeTempFolder("shared-later");
    StationPath::save(later);
    ImageScheduleConfig opened = ImageScheduleConfig::load();
    EXPECT_EQ(platform::readNamedFile(privateKey, opened.namedFileRules()).contents, "PRIVATE KEY");
    ASSERT_EQ(::chown((later + "/Misc/System/Streamer").c_str(), 0, kGroup), 0);
    ASSERT_EQ(::chmod((later + "/Misc/System/Streamer").c_str(), 02775), 0);
    opened.stationName = "Shared now";
    ASSERT_TRUE(opened.save().written);
    EXPECT_EQ(platform::readNamedFile(privateKey, opened.namedFileRules()).reason(), byTheGroup);
    StationPath::save(group);

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

// What others' settings name is judged as the kernel judges it: an access
// list's entries and not its mask for a member who runs the program as
// herself; a user an access list lets write the settings is among "other
// users" for root; a relative name is the station folder's, never the
// working folder's.
TEST_F(SharedStationTest, NamedFilesAreJudgedWithAccessListsAndFromTheStation)
{
    openToNobody(fs::perms::owner_all | fs::perms::group_all | fs::perms::others_exec | fs::perms::set_gid);
    ASSERT_EQ(::chown(settingsDir().c_str(), 0, kGroup), 0);
    for (const std::string& folder : {station_, station_ + "/Misc", station_ + "/Misc/System"})
        ASSERT_EQ(::chmod(folder.c_str(), 0755), 0);
    write(settingsFile(), R"({"stationName":"Group"})");
    ASSERT_EQ(::chown(settingsFile().c_str(), 0, kGroup), 0);
    ASSERT_EQ(::chmod(settingsFile().c_str(), 0664), 0);

    // Her private folder and notes, shared with one colleague by a list.
    const std::string home = test::makeTempFolder("home-of-nobody");
    const std::string notes = home + "/private/notes.txt";
    fs::create_directories(home + "/private");
    write(notes, "Her notes");
    for (const std::string& path : {home, home + "/private", notes})
        ASSERT_EQ(::chown(path.c_str(), kMember, kGroup), 0);
    ASSERT_EQ(::chmod(home.c_str(), 0755), 0);
    setAcl(home + "/private", "u::rwx,u:64999:rx,g::-,m::rx,o::-");
    setAcl(notes, "u::rw,u:64999:r,g::-,m::r,o::-");
    // And notes all may read, in a folder of hers that no one else enters.
    const std::string closedNotes = home + "/closed/notes.txt";
    fs::create_directories(home + "/closed");
    write(closedNotes, "Her other notes");
    ASSERT_EQ(::chown((home + "/closed").c_str(), kMember, kGroup), 0);
    ASSERT_EQ(::chown(closedNotes.c_str(), kMember, kGroup), 0);
    ASSERT_EQ(::chmod((home + "/closed").c_str(), 0700), 0);
    ASSERT_EQ(::chmod(closedNotes.c_str(), 0644), 0);
    // And notes shared by a list with one colleague, in a folder everyone
    // may enter: the list's mask shows as the group's mode bits, but its
    // entry for the group gives nothing.
    const std::string listedNotes = home + "/open/notes.txt";
    fs::create_directories(home + "/open");
    write(listedNotes, "Her listed notes");
    for (const std::string& path : {home + "/open", listedNotes}) ASSERT_EQ(::chown(path.c_str(), kMember, kGroup), 0);
    ASSERT_EQ(::chmod((home + "/open").c_str(), 0711), 0);
    setAcl(listedNotes, "u::rw,u:64999:r,g::-,m::r,o::-");
    ASSERT_EQ(statOf(listedNotes).st_mode & 07777, 0640u);
    EXPECT_EQ(asNobody([&] {
                  const auto rules = ImageScheduleConfig::load().namedFileRules();
                  const std::string notTheirs =
                      "the group nogroup may change the station's settings and could not read it";
                  for (const std::string& path : {notes, closedNotes, listedNotes}) {
                      const platform::FileRead refused = platform::readNamedFile(path, rules);
                      if (refused.problem != platform::FileProblem::refused || refused.reason() != notTheirs)
                          return false;
                  }
                  return true;
              }),
              0);

    // A user outside the group who may write root's settings by a list.
    const std::string groupOnly = settingsDir() + "/group-only.txt";
    write(groupOnly, "For the group");
    ASSERT_EQ(::chown(groupOnly.c_str(), 0, kGroup), 0);
    ASSERT_EQ(::chmod(groupOnly.c_str(), 0640), 0);
    ASSERT_EQ(::chmod(settingsFile().c_str(), 0640), 0);
    EXPECT_EQ(platform::readNamedFile(groupOnly, ImageScheduleConfig::load().namedFileRules()).contents,
              "For the group");
    setAcl(settingsFile(), "u::rw,u:64999:rw,g::r,m::rw,o::-");
    const platform::FileRead byAList = platform::readNamedFile(groupOnly, ImageScheduleConfig::load().namedFileRules());
    EXPECT_EQ(byAList.problem, platform::FileProblem::refused);
    EXPECT_EQ(byAList.reason(), "other users may change the station's settings and could not read it");

    // A relative name, with the working folder in a private checkout.
    const std::string checkout = test::makeTempFolder("checkout");
    fs::create_directories(checkout + "/.git");
    write(checkout + "/.git/config", "token = secret");
    const std::string song = station_ + "/Misc/System/current_song.txt";
    write(song, "Station song");
    const fs::path before = fs::current_path();
    fs::current_path(checkout);
    const auto rules = ImageScheduleConfig::load().namedFileRules();
    const platform::FileRead relative = platform::readNamedFile(".git/config", rules);
    const platform::FileRead inTheStation = platform::readNamedFile("Misc/System/current_song.txt", rules);
    const platform::FileRead noStation = platform::readNamedFile(".git/config", {});
    fs::current_path(before);
    EXPECT_FALSE(relative.contents.has_value());
    EXPECT_EQ(relative.problem, platform::FileProblem::missing);
    EXPECT_EQ(inTheStation.contents, "Station song");
    EXPECT_EQ(noStation.problem, platform::FileProblem::refused);
}
