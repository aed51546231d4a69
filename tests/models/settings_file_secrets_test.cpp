// The stream key and the Icecast password, judged on the settings file as it
// lands: whatever the umask, an access list, a share or another member does,
// no one reads a secret who could not read where it came from or who may
// not change the settings.

#include "models/image_schedule_config.h"

#include "settings_file_fixture.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <sys/acl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

using namespace ondaline;
using ondaline::test::asNobody;
using ondaline::test::SettingsFileTest;
namespace fs = std::filesystem;

namespace {

constexpr uid_t kMember = 65534;     // "nobody", a member of the station's group
constexpr gid_t kGroup = 65534;      // "nogroup", the station's group
constexpr uid_t kColleague = 64999;  // a user outside the group

struct stat statOf(const std::string& path)
{
    struct stat info {};
    EXPECT_EQ(::lstat(path.c_str(), &info), 0) << path;
    return info;
}

// Whether the kernel lets `uid` of `gid` open `path` for reading.
bool readsAs(uid_t uid, gid_t gid, const std::string& path)
{
    const pid_t child = ::fork();
    if (child == 0) {
        const gid_t groups[] = {gid};
        if (::setgroups(1, groups) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0) ::_exit(2);
        ::_exit(::open(path.c_str(), O_RDONLY) >= 0 ? 0 : 1);
    }
    int status = -1;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) != 2) << path;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void setAcl(const std::string& path, const char* text, acl_type_t type = ACL_TYPE_ACCESS)
{
    acl_t acl = ::acl_from_text(text);
    ASSERT_NE(acl, nullptr) << text;
    EXPECT_EQ(::acl_set_file(path.c_str(), type, acl), 0) << path << " " << text;
    ::acl_free(acl);
}

// The umask of a test, put back after it.
class Umask {
public:
    explicit Umask(mode_t mask) : saved_(::umask(mask)) {}
    ~Umask() { ::umask(saved_); }

private:
    mode_t saved_;
};

}  // namespace

class SecretsTest : public SettingsFileTest {
protected:
    void SetUp() override
    {
        SettingsFileTest::SetUp();
        if (::geteuid() != 0) GTEST_SKIP() << "changing to another user needs root";
    }

    // A station its group shares: a set-group-ID settings folder that the
    // group may write.
    void shareWithTheGroup() const
    {
        openToNobody(fs::perms::owner_all | fs::perms::group_all | fs::perms::others_exec | fs::perms::set_gid);
        ASSERT_EQ(::chown(settingsDir().c_str(), 0, kGroup), 0);
    }

    bool holds(const std::string& path, const std::string& secret) const
    {
        return read(path).find(secret) != std::string::npos;
    }
};

// The first change makes the settings file as the umask says, 0644; a key
// or a password typed afterwards is read by no one who may only read the
// settings. In a station its group may change, the group still reads them.
TEST_F(SecretsTest, ASecretTypedAfterTheFirstChangeIsReadOnlyByThoseWhoMayChangeTheSettings)
{
    const Umask umask(022);
    openToNobody(fs::perms::all);
    ImageScheduleConfig config = ImageScheduleConfig::load();
    config.stationName = "First";
    ASSERT_TRUE(config.save().written);
    ASSERT_TRUE(readsAs(kMember, kGroup, settingsFile()));
    config.streamKey = "typed-key";
    ASSERT_TRUE(config.save().written);
    config.icecastPassword = "hackme";
    ASSERT_TRUE(config.save().written);
    EXPECT_TRUE(holds(settingsFile(), "typed-key") && holds(settingsFile(), "hackme"));
    EXPECT_FALSE(readsAs(kMember, kGroup, settingsFile()));

    // The same for a member who runs the program as herself.
    fs::remove(settingsFile());
    ASSERT_EQ(asNobody([] {
                  const Umask hers(022);
                  ImageScheduleConfig own = ImageScheduleConfig::load();
                  own.stationName = "Hers";
                  if (!own.save().written) return false;
                  own.streamKey = "her-key";
                  return own.save().written;
              }),
              0);
    EXPECT_TRUE(holds(settingsFile(), "her-key"));
    EXPECT_FALSE(readsAs(kColleague, kColleague, settingsFile()));

    // A group station: root:nogroup 0664, which the group may change.
    fs::remove_all(settingsDir());
    shareWithTheGroup();
    write(settingsFile(), R"({"stationName":"Group"})");
    ASSERT_EQ(::chown(settingsFile().c_str(), 0, kGroup), 0);
    ASSERT_EQ(::chmod(settingsFile().c_str(), 0664), 0);
    config = ImageScheduleConfig::load();
    config.streamKey = "group-key";
    ASSERT_TRUE(config.save().written);
    EXPECT_TRUE(holds(settingsFile(), "group-key"));
    EXPECT_TRUE(readsAs(kMember, kGroup, settingsFile()));
    EXPECT_FALSE(readsAs(kColleague, kColleague, settingsFile()));
}

// A member removes root's private settings file and makes his own until one
// gets its inode number, then moves it to the name: root's next save takes
// it for his, and gives him nothing.
TEST_F(SecretsTest, AMembersFileWithTheOldNumbersGetsNothing)
{
    shareWithTheGroup();
    write(settingsFile(), R"({"stationName":"Root","streamKey":"root-key"})");
    ASSERT_EQ(::chmod(settingsFile().c_str(), 0600), 0);
    ImageScheduleConfig config = ImageScheduleConfig::load();
    ASSERT_EQ(config.streamKey, "root-key");
    const ino_t rootsInode = statOf(settingsFile()).st_ino;
    ASSERT_EQ(asNobody([&] {
                  const std::string mine = settingsDir() + "/.mine";
                  if (::unlink(settingsFile().c_str()) != 0) return false;
                  for (int tries = 0; tries < 200; ++tries) {
                      write(mine, R"({"stationName":"His"})");
                      if (statOf(mine).st_ino == rootsInode) break;
                      ::unlink(mine.c_str());
                  }
                  write(mine, R"({"stationName":"His"})");
                  return ::chmod(mine.c_str(), 0644) == 0 && ::rename(mine.c_str(), settingsFile().c_str()) == 0;
              }),
              0);

    config.stationName = "Typed";
    const SettingsSave saved = config.save();
    ASSERT_TRUE(saved.written) << saved.failure;
    for (const std::string& name : filesInSettingsDir()) {
        const std::string path = settingsDir() + "/" + name;
        if (!holds(path, "root-key")) continue;
        EXPECT_EQ(statOf(path).st_uid, 0u) << name;
        EXPECT_FALSE(readsAs(kMember, kGroup, path)) << name;
    }
    EXPECT_EQ(ImageScheduleConfig::load().streamKey, "root-key");
}

// A settings file or a key file kept from the group and shared with one
// colleague by an access list: the group never reads the key from the
// settings, and a save without a secret keeps the colleague's entry. A
// default list that a member puts on his own folder gives him nothing of
// root's key.
TEST_F(SecretsTest, AccessListsGiveTheKeyToNoOneBeyondItsSource)
{
    shareWithTheGroup();
    write(settingsFile(), R"({"stationName":"Shared"})");
    ASSERT_EQ(::chown(settingsFile().c_str(), 0, kGroup), 0);
    setAcl(settingsFile(), "u::rw,u:64999:r,g::-,m::r,o::-");
    ImageScheduleConfig config = ImageScheduleConfig::load();
    config.stationName = "Still shared";
    ASSERT_TRUE(config.save().written);
    EXPECT_TRUE(readsAs(kColleague, kColleague, settingsFile()));
    EXPECT_FALSE(readsAs(kMember, kGroup, settingsFile()));
    config.streamKey = "typed-key";
    ASSERT_TRUE(config.save().written);
    EXPECT_TRUE(holds(settingsFile(), "typed-key"));
    EXPECT_FALSE(readsAs(kMember, kGroup, settingsFile()));
    EXPECT_FALSE(readsAs(kColleague, kColleague, settingsFile()));

    // The key taken from a key file shared the same way.
    fs::remove(settingsFile());
    const std::string keyFile = settingsDir() + "/ondaline_key";
    write(keyFile, "file-key\n");
    ASSERT_EQ(::chown(keyFile.c_str(), 0, kGroup), 0);
    setAcl(keyFile, "u::rw,u:64999:r,g::-,m::r,o::-");
    write(settingsFile(), R"({"stationName":"Group"})");
    ASSERT_EQ(::chown(settingsFile().c_str(), 0, kGroup), 0);
    ASSERT_EQ(::chmod(settingsFile().c_str(), 0640), 0);
    config = ImageScheduleConfig::load();
    ASSERT_TRUE(config.takeStreamKeyFromFile());
    ASSERT_TRUE(config.save().written);
    EXPECT_TRUE(holds(settingsFile(), "file-key"));
    EXPECT_FALSE(readsAs(kMember, kGroup, settingsFile()));

    // The member's own folder, with a default list that gives him all of
    // what is made there.
    fs::remove_all(settingsDir());
    shareWithTheGroup();
    ASSERT_EQ(::chown(settingsDir().c_str(), kMember, kGroup), 0);
    setAcl(settingsDir(), "u::rwx,u:65534:rwx,g::rx,m::rwx,o::-", ACL_TYPE_DEFAULT);
    const Umask umask(027);
    config = ImageScheduleConfig::load();
    config.stationName = "Root's";
    ASSERT_TRUE(config.save().written);
    config.streamKey = "typed-key";
    ASSERT_TRUE(config.save().written);
    ASSERT_EQ(statOf(settingsFile()).st_uid, 0u);
    EXPECT_FALSE(readsAs(kMember, kGroup, settingsFile()));
    fs::remove(settingsFile());
    ImageScheduleConfig typedFirst;
    typedFirst.streamKey = "typed-key";
    ASSERT_TRUE(typedFirst.save().written);
    EXPECT_FALSE(readsAs(kMember, kGroup, settingsFile()));
}

// A share that gives every new file to one user and ignores chown, as a
// squashing NFS export does: the key stays out of the file root saves
// there, and the save says so.
TEST_F(SecretsTest, AShareThatForcesItsOwnerGetsNoSecret)
{
    if (std::system("command -v bindfs >/dev/null") != 0) GTEST_SKIP() << "bindfs is not installed";
    const std::string real = test::makeTempFolder("share");
    const std::string mounted = test::makeTempFolder("mounted");
    const std::string mount = "bindfs --force-user=nobody --chown-ignore --chmod-normal " + real + " " + mounted;
    if (std::system((mount + " 2>/dev/null").c_str()) != 0) GTEST_SKIP() << "no FUSE mount here";
    struct Unmount {
        std::string at;
        ~Unmount() { ::umount2(at.c_str(), MNT_DETACH); }
    } unmount{mounted};
    StationPath::save(mounted + "/station");
    fs::create_directories(mounted + "/station/Misc/System/Streamer");
    const std::string file = mounted + "/station/Misc/System/Streamer/ondaline_schedule.json";

    ImageScheduleConfig config;
    config.stationName = "On the share";
    config.streamKey = "typed-key";
    const SettingsSave saved = config.save();
    ASSERT_TRUE(saved.written) << saved.failure;
    EXPECT_EQ(statOf(file).st_uid, kMember);
    EXPECT_FALSE(holds(file, "typed-key"));
    EXPECT_TRUE(holds(file, "On the share"));
    EXPECT_EQ(saved.keyLeftOut, "nobody owns " + file + " and was not to read it");
    EXPECT_TRUE(saved.keyKeptIn.empty());
}

// An owner who tightens the file as editors and install -m600 do, a 0600
// copy moved over it, keeps 0600 at the next save; and on a file system
// that keeps no modes, a secret typed into an existing file is told.
TEST_F(SecretsTest, TheOwnersTighteningIsKeptAndAFileSystemWithoutModesIsTold)
{
    const Umask umask(022);
    fs::create_directories(settingsDir());
    ImageScheduleConfig config;
    config.stationName = "Open";
    ASSERT_TRUE(config.save().written);
    ASSERT_EQ(statOf(settingsFile()).st_mode & 07777, 0644u);
    const std::string copy = settingsDir() + "/.copy";
    write(copy, read(settingsFile()));
    ASSERT_EQ(::chmod(copy.c_str(), 0600), 0);
    ASSERT_EQ(::rename(copy.c_str(), settingsFile().c_str()), 0);
    config.stationName = "Tightened";
    ASSERT_TRUE(config.save().written);
    EXPECT_EQ(statOf(settingsFile()).st_mode & 07777, 0600u);

    ASSERT_EQ(::chmod(settingsFile().c_str(), 0777), 0);
    ImageScheduleConfig onStick = ImageScheduleConfig::load();
    platform::fileSystemSeams().keepNoModes = true;
    onStick.streamKey = "typed-key";
    EXPECT_EQ(onStick.save().secretsExposed, "every user of this computer may read the stream key in " +
                                                 settingsFile() + ": its file system keeps no permissions");
}

// Messages name the true files: a key left out stays in the stream-key
// file it came from, which after the station folder was renamed is no
// longer the one read at start; a kept-aside copy that another user made
// is told as theirs.
TEST_F(SecretsTest, MessagesNameTheTrueFiles)
{
    fs::create_directories(settingsDir());
    const std::string keyFile = settingsDir() + "/ondaline_key";
    write(keyFile, "file-key\n");
    ASSERT_EQ(::chmod(keyFile.c_str(), 0600), 0);
    write(settingsFile(), R"({"stationName":"His"})");
    ASSERT_EQ(::chown(settingsFile().c_str(), kMember, kGroup), 0);
    ImageScheduleConfig config = ImageScheduleConfig::load();
    ASSERT_TRUE(config.takeStreamKeyFromFile());
    SettingsSave saved = config.save();
    ASSERT_TRUE(saved.written);
    EXPECT_FALSE(saved.keyLeftOut.empty());
    EXPECT_EQ(saved.keyKeptIn, keyFile);
    EXPECT_TRUE(saved.keyReadAtStart);

    // The folder renamed, and another station of his made at its name.
    const std::string renamed = station_ + ".old";
    fs::rename(station_, renamed);
    fs::create_directories(settingsDir());
    write(settingsFile(), R"({"stationName":"His again"})");
    ASSERT_EQ(::chown(settingsFile().c_str(), kMember, kGroup), 0);
    saved = config.save();
    ASSERT_TRUE(saved.written);
    EXPECT_FALSE(saved.keyLeftOut.empty());
    EXPECT_EQ(saved.keyKeptIn, renamed + "/Misc/System/Streamer/ondaline_key");
    EXPECT_FALSE(saved.keyReadAtStart);

    // A copy planted under a kept-aside name, with no settings file.
    fs::remove(settingsFile());
    const std::string planted = settingsFile() + ".edited-29991231-235959";
    write(planted, R"({"stationName":"Planted"})");
    ASSERT_EQ(::chown(planted.c_str(), kMember, kGroup), 0);
    const SettingsLoad loaded = ImageScheduleConfig::loadReporting();
    EXPECT_EQ(loaded.keptAsideCopy, planted);
    EXPECT_EQ(loaded.keptAsideCopyOwner, "nobody");
}
