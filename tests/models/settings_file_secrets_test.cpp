// The stream key and the Icecast password go into the settings file only
// in a station of the operator's own. Anywhere else no file of the station
// ever holds them, whatever a share, a folder's access list or another
// member does: they stay in the operator's private file, and come back
// from there at the next start.

#include "models/image_schedule_config.h"
#include "models/private_secrets.h"
#include "models/settings_secrets.h"
#include "platform/file_rights/own_folder.h"

#include "settings_file_fixture.h"
#include "support/needs.h"

#include <gtest/gtest.h>

#include <acl/libacl.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/acl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

using namespace ondaline;
using ondaline::test::asNobody;
using ondaline::test::SettingsFileTest;
namespace fs = std::filesystem;

namespace {

constexpr uid_t kMember = 65534;    // "nobody", a member of the station's group
constexpr gid_t kGroup = 65534;     // "nogroup", the station's group
constexpr uid_t kOutsider = 64999;  // a user outside the group

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

// What `command` mounts at `at`, for one test.
class Mount {
public:
    Mount(const std::string& command, std::string at) : at_(std::move(at))
    {
        mounted_ = std::system((command + " 2>&1").c_str()) == 0;
    }
    ~Mount()
    {
        if (mounted_) ::umount2(at_.c_str(), MNT_DETACH);
    }
    Mount(const Mount&) = delete;
    Mount& operator=(const Mount&) = delete;
    bool mounted() const { return mounted_; }

private:
    std::string at_;
    bool mounted_ = false;
};

// A folder seen through bindfs with `options` at `mounted`.
struct Share : Mount {
    Share(const std::string& options, const std::string& real, const std::string& mounted)
        : Mount("bindfs " + options + " " + real + " " + mounted, mounted)
    {
    }
};

bool canMountShares()
{
    return std::system("command -v bindfs >/dev/null") == 0 && ::access("/dev/fuse", R_OK | W_OK) == 0;
}

bool canMountImages() { return std::system("command -v mkfs.ext4 >/dev/null && losetup -f >/dev/null 2>&1") == 0; }

}  // namespace

class SecretsTest : public SettingsFileTest {
protected:
    void SetUp() override
    {
        SettingsFileTest::SetUp();
        ONDALINE_NEEDS(::geteuid() == 0, "changing to another user needs root");
    }

    // A station its group shares: the settings folder and the folders on
    // its way, set-group-ID, which the group may write.
    void shareWithTheGroup() const
    {
        openToNobody(fs::perms::owner_all | fs::perms::group_all | fs::perms::others_exec | fs::perms::set_gid);
        for (std::string folder = settingsDir(); folder.size() > station_.size();
             folder = fs::path(folder).parent_path()) {
            ASSERT_EQ(::chown(folder.c_str(), 0, kGroup), 0);
            ASSERT_EQ(::chmod(folder.c_str(), 02775), 0);
        }
    }

    // Lets "nobody" reach the settings folder, which is no one's to change
    // but its owner's.
    void letNobodyReach() const
    {
        openPointerToNobody();
        fs::create_directories(settingsDir());
        for (std::string folder = settingsDir(); folder.size() > test::tempRoot().size();
             folder = fs::path(folder).parent_path())
            fs::permissions(folder, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                        fs::perms::others_read | fs::perms::others_exec);
    }

    static bool holds(const std::string& path, const std::string& secret)
    {
        return read(path).find(secret) != std::string::npos;
    }
    // Every regular file below `folder` that holds `secret`.
    static std::vector<std::string> filesHolding(const std::string& folder, const std::string& secret)
    {
        std::vector<std::string> found;
        for (const auto& entry : fs::recursive_directory_iterator(folder))
            if (entry.is_regular_file() && !entry.is_symlink() && holds(entry.path(), secret))
                found.push_back(entry.path());
        return found;
    }
    // No file below `folder` that holds `secret` is the member's or one she
    // may read.
    static void expectMemberGetsNothing(const std::string& folder, const std::string& secret)
    {
        for (const std::string& path : filesHolding(folder, secret)) {
            EXPECT_NE(statOf(path).st_uid, kMember) << path;
            EXPECT_FALSE(readsAs(kMember, kGroup, path)) << path;
        }
    }
};

// Root's private settings file in a group station, held open by the record
// read from it: a member who removes it and makes files until one would get
// its numbers never gets them (the station is on an ext4 image, which gives
// freed numbers again, as seen first), and root's next save takes nothing
// from the member's file in its place.
TEST_F(SecretsTest, AMembersFileCannotTakeTheNumbersOfTheFileHeld)
{
    ONDALINE_NEEDS(canMountImages(), "a disk image needs mkfs.ext4 and a free loop device");
    const std::string image = test::makeTempFolder("image") + "/station.img";
    ASSERT_EQ(std::system(("truncate -s 8M " + image + " && mkfs.ext4 -q " + image).c_str()), 0);
    const std::string mounted = test::makeTempFolder("mounted");
    const Mount mount("mount -o loop " + image + " " + mounted, mounted);
    ASSERT_TRUE(mount.mounted());
    station_ = mounted + "/station";
    StationPath::save(station_);
    shareWithTheGroup();
    const std::string probe = settingsDir() + "/.probe";
    write(probe, "x");
    const ino_t freed = statOf(probe).st_ino;
    ::unlink(probe.c_str());
    bool reused = false;
    for (int tries = 0; tries < 200 && !reused; ++tries) {
        write(probe, "x");
        reused = statOf(probe).st_ino == freed;
        ::unlink(probe.c_str());
    }
    ASSERT_TRUE(reused) << "ext4 gave no freed number again";

    write(settingsFile(), R"({"stationName":"Root"})");
    ASSERT_EQ(::chmod(settingsFile().c_str(), 0600), 0);
    ImageScheduleConfig config = ImageScheduleConfig::load();
    const ino_t rootsInode = statOf(settingsFile()).st_ino;
    EXPECT_EQ(asNobody([&] {
                  const std::string mine = settingsDir() + "/.mine";
                  if (::unlink(settingsFile().c_str()) != 0) return false;
                  for (int tries = 0; tries < 200; ++tries) {
                      write(mine, R"({"stationName":"His"})");
                      if (statOf(mine).st_ino == rootsInode) return false;
                      ::unlink(mine.c_str());
                  }
                  write(mine, R"({"stationName":"His"})");
                  return ::chmod(mine.c_str(), 0644) == 0 && ::rename(mine.c_str(), settingsFile().c_str()) == 0;
              }),
              0)
        << "a member's file got the numbers of the file the record holds";

    config.stationName = "Typed";
    const SettingsSave saved = config.save();
    ASSERT_TRUE(saved.written) << saved.failure;
    EXPECT_TRUE(saved.editedElsewhere);
    EXPECT_EQ(statOf(saved.keptAside).st_uid, kMember);
    EXPECT_EQ(statOf(settingsFile()).st_uid, 0u);
    EXPECT_EQ(statOf(settingsFile()).st_mode & 07777, 0600u);
}

// Shares whose owners and permissions their mount decides, not the files:
// one that gives every file to a member, one that makes every new file
// readable by all while showing 0600, one that shows the operator as the
// owner of a member's files, and one that hides a folder's access list that
// gives an outsider what is made there. A key typed after a name or before
// one is in no file of the share, and is there after a restart.
TEST_F(SecretsTest, SharesThatDecideOwnersOrPermissionsGetNoSecret)
{
    ONDALINE_NEEDS(canMountShares(), "a share needs bindfs and /dev/fuse");
    for (const std::string options :
         {"--force-user=nobody --chown-ignore --chmod-normal", "--create-for-user=nobody --chown-ignore",
          "--perms=go-rwx --create-with-perms=go+r --chmod-ignore --xattr-none", "--mirror=nobody", "--xattr-none"}) {
        SCOPED_TRACE(options);
        const std::string real = test::makeTempFolder("share");
        const std::string streamer = real + "/station/Misc/System/Streamer";
        fs::create_directories(streamer);
        if (options == "--xattr-none") {
            ASSERT_EQ(::chown(streamer.c_str(), 0, kGroup), 0);
            ASSERT_EQ(::chmod(streamer.c_str(), 02770), 0);
            setAcl(streamer, "u::rwx,u:64999:rwx,g::rwx,m::rwx,o::-", ACL_TYPE_DEFAULT);
        }
        const std::string mounted = test::makeTempFolder("mounted");
        const Share share(options, real, mounted);
        ASSERT_TRUE(share.mounted());
        StationPath::save(mounted + "/station");

        ImageScheduleConfig named = ImageScheduleConfig::load();
        named.stationName = "On the share";
        ASSERT_TRUE(named.save().written);
        named.streamKey = "typed-key";
        const SettingsSave typed = named.save();
        ASSERT_TRUE(typed.written);
        EXPECT_EQ(typed.notOwn,
                  mounted + "/station/Misc/System/Streamer/ondaline_schedule.json lies on a fuse file system");
        EXPECT_EQ(typed.secretsNotice,
                  "Stream key kept in " + privateSecretsFile() + " — the station folder is shared: " + typed.notOwn);
        EXPECT_EQ(filesHolding(real, "typed-key"), std::vector<std::string>{});
        EXPECT_EQ(ImageScheduleConfig::load().streamKey, "typed-key");

        fs::remove(mounted + "/station/Misc/System/Streamer/ondaline_schedule.json");
        ImageScheduleConfig typedFirst;
        typedFirst.streamKey = "key-first";
        const SettingsSave first = typedFirst.save();
        ASSERT_TRUE(first.written) << first.failure;
        typedFirst.serverURL = "rtmp://localhost/other";
        ASSERT_TRUE(typedFirst.save().written);
        EXPECT_EQ(filesHolding(real, "key-first"), std::vector<std::string>{});
        const ImageScheduleConfig restarted = ImageScheduleConfig::load();
        EXPECT_EQ(restarted.streamKey, "key-first");
        EXPECT_EQ(restarted.serverURL, "rtmp://localhost/other");
    }
}

// Where a stream key may go, case by case: what the operator typed or kept
// apart and for which server, what the station's settings then hold and
// whose they are, what the operator does next; and what Start sends then
// and after a restart, with no file holding a member's key for the
// operator.
TEST_F(SecretsTest, AKeyGoesOnlyWhereItsBindingSays)
{
    const std::string elsewhere = test::makeTempFolder("elsewhere");
    using Act = std::function<void(ImageScheduleConfig&)>;
    struct Case {
        std::string name;
        std::string typedIn;              // settings the operator typed "k" in, if any
        std::optional<BoundSecret> kept;  // or the entry the private file held before
        std::string settings;             // the member's settings then; none where empty
        Act act;                          // what the operator does next, if anything
        std::string sent;                 // what Start sends then, and after a restart
        std::optional<std::string> sentAfterRestart = std::nullopt;
    };
    const std::string youTube = R"({"streamMode":"youtube","serverURL":"rtmp://a.rtmp.youtube.com/live2"})";
    const std::string hers = R"({"streamKey":"her-key","serverURL":"rtmp://a.example/live"})";
    auto browseTo = [&](bool own) -> Act {
        return [&, own](ImageScheduleConfig&) {
            const std::string to = elsewhere + (own ? "/own" : "/shared");
            fs::remove_all(to);
            fs::create_directories(to + "/Misc/System/Streamer");
            fs::permissions(to + "/Misc", own ? fs::perms::owner_all : fs::perms::all);
            StationPath::save(to);
        };
    };
    const Act becomesOwn = [&](ImageScheduleConfig&) {
        ASSERT_EQ(changePrivateSecrets(settingsFile(), {BoundSecret{"k", "rtmp://a.example:1935"}, {}}), "");
        letNobodyReach();
        ASSERT_EQ(::chown(settingsFile().c_str(), 0, 0), 0);
        ASSERT_EQ(::chmod(settingsFile().c_str(), 0600), 0);
    };
    const Act typedThenCleared = [](ImageScheduleConfig& record) {
        record.streamKey = "k";
        ASSERT_TRUE(record.save().written);
        record.streamKey.clear();
    };
    const std::vector<Case> cases = {
        {"typed for rtmps, named over plain rtmp",
         R"({"serverURL":"rtmps://h.example:443/app"})",
         {},
         R"({"serverURL":"rtmp://h.example:443/app"})",
         {},
         ""},
        {"typed for YouTube's ingest, the service named with another server",
         youTube,
         {},
         R"({"streamMode":"youtube","serverURL":"rtmp://evil.example/live2"})",
         {},
         ""},
        {"typed for YouTube's ingest, named again", youTube, {}, youTube, {}, "k"},
        {"kept before servers were noted",
         "",
         BoundSecret{"k", ""},
         R"({"serverURL":"rtmp://h.example/live"})",
         {},
         ""},
        // Once the operator's save has put the defaults there, they are read.
        {"kept for the defaults' server, the settings missing",
         "",
         BoundSecret{"k", "rtmp://localhost:1935"},
         "",
         {},
         "",
         "k"},
        {"a member's key, the operator changing the server",
         "",
         {},
         hers,
         [](ImageScheduleConfig& record) { record.serverURL = "rtmp://b.example/live"; },
         "her-key",
         ""},
        {"a member's key, carried by Browse to another shared station", "", {}, hers, browseTo(false), "her-key", ""},
        {"a member's key, carried by Browse to the operator's own station",
         "",
         {},
         hers,
         browseTo(true),
         "her-key",
         ""},
        {"a member's key, the station then the operator's own", "", {}, hers, becomesOwn, "her-key", "k"},
        {"typed, then cleared", "", {}, R"({"serverURL":"rtmp://h.example/live"})", typedThenCleared, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        StationPath::save(station_);
        fs::remove_all(station_ + "/Misc");
        fs::remove_all(test::tempRoot() + "/config/ondaline");
        shareWithTheGroup();
        if (!c.typedIn.empty()) {
            write(settingsFile(), c.typedIn);
            ImageScheduleConfig typed = ImageScheduleConfig::load();
            typed.streamKey = "k";
            ASSERT_TRUE(typed.save().written);
            fs::remove(settingsFile());
        }
        if (c.kept) {
            ASSERT_EQ(changePrivateSecrets(settingsFile(), {*c.kept, {}}), "");
        }
        if (!c.settings.empty()) {
            write(settingsFile(), c.settings);
            ASSERT_EQ(::chown(settingsFile().c_str(), kMember, kGroup), 0);
        }
        ImageScheduleConfig record = ImageScheduleConfig::load();
        if (c.act) c.act(record);
        EXPECT_EQ(streamKeyToSend(record), c.sent);
        ASSERT_TRUE(record.save().written);
        EXPECT_EQ(streamKeyToSend(ImageScheduleConfig::load()), c.sentAfterRestart.value_or(c.sent));
        for (const std::string& folder : {elsewhere, test::tempRoot() + "/config"})
            EXPECT_EQ(filesHolding(folder, "her-key"), std::vector<std::string>{}) << folder;
    }
    StationPath::save(station_);
}

// A member of a group station moves the settings folder aside under root's
// open drawer and puts a folder and a settings file of her own in its
// place: none of root's saves gives her the key, which root still has
// after a restart.
TEST_F(SecretsTest, AMemberWhoSwapsTheSettingsFolderGetsNoKey)
{
    shareWithTheGroup();
    write(settingsFile(), R"({"stationName":"Root"})");
    ASSERT_EQ(::chmod(settingsFile().c_str(), 0600), 0);
    ImageScheduleConfig config = ImageScheduleConfig::load();
    config.streamKey = "root-key";
    ASSERT_TRUE(config.save().written);
    ASSERT_EQ(asNobody([this] {
                  const std::string streamer = settingsDir();
                  if (::rename(streamer.c_str(), (streamer + ".old").c_str()) != 0) return false;
                  if (::mkdir(streamer.c_str(), 0755) != 0) return false;
                  write(settingsFile(), R"({"stationName":"Hers"})");
                  return ::chmod(settingsFile().c_str(), 0644) == 0;
              }),
              0);

    config.stationName = "Typed";
    const SettingsSave saved = config.save();
    ASSERT_TRUE(saved.written);
    EXPECT_EQ(saved.secretsNotice, "Stream key kept in " + privateSecretsFile() +
                                       " — the station folder is shared: nobody owns " + settingsFile());
    config.serverURL = "rtmp://localhost/next";
    ASSERT_TRUE(config.save().written);
    expectMemberGetsNothing(station_, "root-key");
    EXPECT_EQ(ImageScheduleConfig::load().streamKey, "root-key");
}

// Root types a key at a station of its own, where the settings file only
// root reads keeps it; then Browse leads to a station whose settings file a
// member owns: no file there gets the key, and root has it there after a
// restart.
TEST_F(SecretsTest, BrowseToAMembersStationGivesHerNoKey)
{
    const Umask umask(077);
    fs::create_directories(settingsDir());
    ImageScheduleConfig config = ImageScheduleConfig::load();
    config.stationName = "Root's";
    ASSERT_TRUE(config.save().written);
    config.streamKey = "browsed-key";
    ASSERT_TRUE(config.save().written);
    EXPECT_TRUE(holds(settingsFile(), "browsed-key"));
    EXPECT_EQ(statOf(settingsFile()).st_mode & 07777, 0600u);
    EXPECT_EQ(filesHolding(test::tempRoot() + "/config", "browsed-key"), std::vector<std::string>{});

    const std::string own = station_;
    station_ = test::makeTempFolder("hers");
    StationPath::save(station_);
    shareWithTheGroup();
    write(settingsFile(), R"({"stationName":"Hers"})");
    ASSERT_EQ(::chown(settingsFile().c_str(), kMember, kGroup), 0);
    ASSERT_EQ(::chmod(settingsFile().c_str(), 0664), 0);
    ASSERT_TRUE(config.save().written);
    config.serverURL = "rtmp://localhost/next";
    ASSERT_TRUE(config.save().written);
    EXPECT_EQ(filesHolding(station_, "browsed-key"), std::vector<std::string>{});
    EXPECT_EQ(ImageScheduleConfig::load().streamKey, "browsed-key");
    StationPath::save(own);
    EXPECT_EQ(ImageScheduleConfig::load().streamKey, "browsed-key");
}

// The operator's own key in a settings file only they may write is never
// lost when others come to read that file or change its folder: a save
// keeps it apart, bound to the server the file names, before the file
// without it takes the old one's place, and says so; it is sent after a
// restart. Where the private file cannot keep it, it stays where it was.
TEST_F(SecretsTest, TheOperatorsOwnKeyIsKeptWhenTheStationIsShared)
{
    const Umask umask(077);
    const std::string configHome = test::tempRoot() + "/config";
    const std::map<std::string, std::function<void()>> ways = {
        {"the group may read the file",
         [&] {
             ASSERT_TRUE(::chown(settingsFile().c_str(), 0, kGroup) == 0 && ::chmod(settingsFile().c_str(), 0640) == 0);
         }},
        {"a user may read the file", [&] { setAcl(settingsFile(), "u::rw,u:64999:r,g::-,m::r,o::-"); }},
        {"the group may change the folder", [&] { shareWithTheGroup(); }},
        {"and the private file refuses",
         [&] {
             shareWithTheGroup();
             ASSERT_EQ(::chmod(configHome.c_str(), 0777), 0);
         }},
    };
    for (const auto& [way, share] : ways) {
        SCOPED_TRACE(way);
        fs::remove_all(station_ + "/Misc");
        fs::remove_all(configHome + "/ondaline");
        letNobodyReach();
        ImageScheduleConfig config = ImageScheduleConfig::load();
        config.serverURL = "rtmps://Own.example/app";
        config.streamKey = "own-key";
        ASSERT_TRUE(config.save().written);
        ASSERT_TRUE(holds(settingsFile(), "own-key"));
        share();

        ImageScheduleConfig restarted = ImageScheduleConfig::load();
        EXPECT_EQ(restarted.streamKey, "own-key");
        restarted.stationName = "Renamed";
        const SettingsSave saved = restarted.save();
        ASSERT_EQ(::chmod(configHome.c_str(), 0755), 0);
        ASSERT_TRUE(saved.written) << saved.failure;
        const bool refused = way == "and the private file refuses";
        EXPECT_EQ(saved.secretsNotice.substr(0, saved.secretsNotice.find(" — ")),
                  refused ? "Stream key left in " + settingsFile() : "Stream key kept in " + privateSecretsFile());
        EXPECT_EQ(holds(settingsFile(), "own-key"), refused);
        const BoundSecret kept = refused ? BoundSecret{} : BoundSecret{"own-key", "rtmps://own.example:443"};
        EXPECT_EQ(readPrivateSecrets(settingsFile()).streamKey, kept);
        EXPECT_EQ(streamKeyToSend(ImageScheduleConfig::load()), "own-key");
    }
}

// A key in a group station's settings file is its writers': used while the
// operator keeps none, for this run, and written into no file. A member's
// key put there later never takes the place of the one the operator typed.
TEST_F(SecretsTest, AKeyInASharedFileIsTheirsAndNeverTakesTheOperators)
{
    shareWithTheGroup();
    write(settingsFile(), R"({"stationName":"Old","streamKey":"their-key","icecastPassword":"hackme"})");
    ASSERT_EQ(::chmod(settingsFile().c_str(), 0664), 0);
    ImageScheduleConfig config = ImageScheduleConfig::load();
    ASSERT_EQ(config.streamKey, "their-key");
    config.stationName = "New";
    const SettingsSave saved = config.save();
    ASSERT_TRUE(saved.written);
    const std::string theirs = ": theirs, used in this run while you keep none for this station, and kept in no file";
    EXPECT_EQ(saved.secretsNotice, "Stream key from your settings file " + settingsFile() + theirs +
                                       "; Icecast password from your settings file " + settingsFile() + theirs +
                                       " — the station folder is shared: the group nogroup may change " +
                                       settingsFile());
    EXPECT_EQ(filesHolding(test::tempRoot(), "their-key"), std::vector<std::string>{});
    EXPECT_EQ(ImageScheduleConfig::load().streamKey, "");

    config.streamKey = "operator-key";
    ASSERT_TRUE(config.save().written);
    ASSERT_EQ(asNobody([this] {
                  write(settingsDir() + "/.x", R"({"stationName":"Hers","streamKey":"her-key"})");
                  return ::rename((settingsDir() + "/.x").c_str(), settingsFile().c_str()) == 0;
              }),
              0);
    ImageScheduleConfig restarted = ImageScheduleConfig::load();
    EXPECT_EQ(restarted.streamKey, "operator-key");
    restarted.stationName = "Renamed";
    ASSERT_TRUE(restarted.save().written);
    EXPECT_EQ(readPrivateSecrets(settingsFile()).streamKey.secret, "operator-key");

    // Where the private file's folder is not the operator's own either, a
    // secret typed is kept for this run only, and said.
    const std::string configHome = test::tempRoot() + "/config";
    ASSERT_EQ(::chmod(configHome.c_str(), 0777), 0);
    restarted.icecastPassword = "typed-again";
    const SettingsSave runOnly = restarted.save();
    ASSERT_EQ(::chmod(configHome.c_str(), 0755), 0);
    ASSERT_TRUE(runOnly.written);
    EXPECT_TRUE(runOnly.passwordKeptIn.empty());
    EXPECT_EQ(runOnly.secretsNotice, "Stream key kept in " + privateSecretsFile() +
                                         "; Icecast password kept for this run only — the station folder is "
                                         "shared: nobody owns " +
                                         settingsFile() + "; " + privateSecretsFile() +
                                         " cannot keep it: every user may change " + configHome);
    EXPECT_EQ(filesHolding(test::tempRoot(), "typed-again"), std::vector<std::string>{});
}

// The private folder: one still to be made is the operator's alone whatever
// the umask would give the group, and so is the program's own folder that
// is there; a folder the operator's link leads to keeps the mode its owner
// gave it, and the key is kept for this run only.
TEST_F(SecretsTest, OnlyTheProgramsOwnPrivateFolderIsNarrowed)
{
    shareWithTheGroup();
    const std::string configHome = test::tempRoot() + "/config";
    auto typeKeyWithConfigAt = [&](const std::string& home) {
        ImageScheduleConfig config = ImageScheduleConfig::load();
        config.streamKey = "key-for-" + home;
        EXPECT_EQ(::setenv("XDG_CONFIG_HOME", home.c_str(), 1), 0);
        const SettingsSave saved = config.save();
        EXPECT_EQ(::setenv("XDG_CONFIG_HOME", configHome.c_str(), 1), 0);
        EXPECT_TRUE(saved.written) << saved.failure;
        return saved;
    };
    const std::string fresh = test::makeTempFolder("fresh-home") + "/.config";
    const std::string there = test::makeTempFolder("there");
    const std::string linked = test::makeTempFolder("linked");
    const Umask umask(002);
    EXPECT_EQ(typeKeyWithConfigAt(fresh).keyKeptIn, fresh + "/ondaline/secrets.json");
    EXPECT_EQ(statOf(fresh).st_mode & 07777, 0700u);

    fs::create_directories(there + "/ondaline");
    ASSERT_EQ(::chmod((there + "/ondaline").c_str(), 0755), 0);
    EXPECT_EQ(typeKeyWithConfigAt(there).keyKeptIn, there + "/ondaline/secrets.json");
    EXPECT_EQ(statOf(there + "/ondaline").st_mode & 07777, 0700u);

    const std::string shared = settingsDir() + "/Shared";
    fs::create_directories(shared);
    ASSERT_EQ(::chmod(shared.c_str(), 02775), 0);
    fs::create_directory_symlink(shared, linked + "/ondaline");
    const SettingsSave throughLink = typeKeyWithConfigAt(linked);
    EXPECT_EQ(throughLink.keyKeptIn, "");
    EXPECT_EQ(statOf(shared).st_mode & 07777, 02775u);
    EXPECT_EQ(filesHolding(station_, "key-for-" + linked), std::vector<std::string>{});
}

// Two programs of the operator's open on one group station: each keeps
// what the other typed, however their saves fall.
TEST_F(SecretsTest, TwoProgramsKeepEachOthersSecrets)
{
    shareWithTheGroup();
    ImageScheduleConfig first = ImageScheduleConfig::load();
    ImageScheduleConfig second = ImageScheduleConfig::load();
    first.streamKey = "first-key";
    ASSERT_TRUE(first.save().written);
    second.stationName = "Named by the second";
    ASSERT_TRUE(second.save().written);
    EXPECT_EQ(ImageScheduleConfig::load().streamKey, "first-key");

    // Each finds its own last change there before it makes the next.
    auto changeMany = [this](std::optional<BoundSecret> SecretChanges::*field, BoundSecret StationSecrets::*kept) {
        const pid_t child = ::fork();
        if (child != 0) return child;
        std::string last = (readPrivateSecrets(settingsFile()).*kept).secret;
        for (int i = 0; i < 300; ++i) {
            if ((readPrivateSecrets(settingsFile()).*kept).secret != last) ::_exit(1);
            last = "secret-" + std::to_string(i);
            SecretChanges changes;
            changes.*field = BoundSecret{last, "rtmp://localhost:1935"};
            if (!changePrivateSecrets(settingsFile(), changes).empty()) ::_exit(2);
        }
        ::_exit(0);
    };
    const pid_t children[] = {changeMany(&SecretChanges::streamKey, &StationSecrets::streamKey),
                              changeMany(&SecretChanges::icecastPassword, &StationSecrets::icecastPassword)};
    for (const pid_t child : children) {
        int status = -1;
        ::waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a change was lost";
    }
}

// The private file tells stations apart by where they are: a station named
// relative to the working folder is not another's of the same name started
// from elsewhere, and a folder named in Latin-1 (reached through a link)
// keeps its key too.
TEST_F(SecretsTest, ThePrivateFileTellsStationsApartByWhereTheyAre)
{
    const std::string base = test::makeTempFolder("relative");
    for (const char* at : {"/ours", "/hers"}) {
        fs::create_directories(base + at + "/St/Misc/System/Streamer");
        ASSERT_EQ(::chmod((base + at).c_str(), 0777), 0);  // every user may change it
    }
    write(base + "/hers/St/Misc/System/Streamer/ondaline_schedule.json", R"({"stationName":"Hers"})");
    const fs::path workingFolder = fs::current_path();
    StationPath::save("St");
    fs::current_path(base + "/ours");
    ImageScheduleConfig config = ImageScheduleConfig::load();
    config.streamKey = "relative-key";
    const SettingsSave saved = config.save();
    EXPECT_EQ(saved.keyKeptIn, privateSecretsFile()) << saved.secretsNotice;
    fs::current_path(base + "/hers");
    const std::string theirs = ImageScheduleConfig::load().streamKey;
    fs::current_path(base + "/ours");
    const std::string ours = ImageScheduleConfig::load().streamKey;
    fs::current_path(workingFolder);
    EXPECT_EQ(theirs, "");
    EXPECT_EQ(ours, "relative-key");

    const std::string latin1 = base + "/\xE9t\xE9";
    fs::create_directories(latin1 + "/Misc/System/Streamer");
    ASSERT_EQ(::chmod(latin1.c_str(), 0777), 0);
    fs::create_symlink(latin1, base + "/linked");  // the station pointer itself is UTF-8
    StationPath::save(base + "/linked");
    config = ImageScheduleConfig::load();
    config.streamKey = "latin-key";
    const SettingsSave latinSaved = config.save();
    EXPECT_EQ(latinSaved.keyKeptIn, privateSecretsFile()) << latinSaved.secretsNotice;
    EXPECT_EQ(ImageScheduleConfig::load().streamKey, "latin-key");
}

// A station of one's own keeps the protections its owner chose: a settings
// file a colleague may read by an access list keeps that read and gets no
// secret, which is kept apart; once its owner lets only themselves read it,
// it holds the secrets, and the entry kept apart goes.
TEST_F(SecretsTest, AStationOfOnesOwnKeepsTheProtectionsItsOwnerChose)
{
    const Umask umask(022);
    letNobodyReach();
    ImageScheduleConfig config = ImageScheduleConfig::load();
    config.stationName = "First";
    ASSERT_TRUE(config.save().written);
    setAcl(settingsFile(), "u::rw,u:64999:r,g::-,m::r,o::-");
    config.streamKey = "own-key";
    const SettingsSave apart = config.save();
    ASSERT_TRUE(apart.written);
    EXPECT_EQ(apart.secretsNotice, "Stream key kept in " + privateSecretsFile() +
                                       " — the station folder is shared: user 64999 may read " + settingsFile());
    EXPECT_TRUE(readsAs(kOutsider, kOutsider, settingsFile()));
    EXPECT_FALSE(holds(settingsFile(), "own-key"));

    setAcl(settingsFile(), "u::rw,g::-,o::-");
    config.icecastPassword = "hackme";
    const SettingsSave inTheFile = config.save();
    ASSERT_TRUE(inTheFile.written);
    EXPECT_EQ(inTheFile.secretsNotice, "");
    EXPECT_TRUE(holds(settingsFile(), "own-key") && holds(settingsFile(), "hackme"));
    EXPECT_EQ(statOf(settingsFile()).st_mode & 07777, 0600u);
    EXPECT_EQ(readPrivateSecrets(settingsFile()), StationSecrets{});
    config.streamKey.clear();
    ASSERT_TRUE(config.save().written);
    EXPECT_EQ(ImageScheduleConfig::load().streamKey, "");  // cleared, it does not come back

    // The same for a member who runs the program as herself, in a station
    // of hers whose files only she reads.
    fs::remove_all(settingsDir());
    fs::create_directories(settingsDir());
    for (const std::string& folder : {settingsDir(), fs::path(settingsDir()).parent_path().string()})
        ASSERT_EQ(::chown(folder.c_str(), kMember, kGroup), 0);
    ASSERT_EQ(asNobody([] {
                  const Umask hers(077);
                  ImageScheduleConfig own = ImageScheduleConfig::load();
                  own.stationName = "Hers";
                  if (!own.save().written) return false;
                  own.streamKey = "her-key";
                  return own.save().written;
              }),
              0);
    EXPECT_TRUE(holds(settingsFile(), "her-key"));
    EXPECT_FALSE(readsAs(kOutsider, kOutsider, settingsFile()));
}

// Shares whose access lists are read-only, or that keep none: a save
// without a secret goes through, without the entries that could not be
// carried over.
TEST_F(SecretsTest, AShareWithReadOnlyAccessListsStillSaves)
{
    ONDALINE_NEEDS(canMountShares(), "a share needs bindfs and /dev/fuse");
    const std::string real = test::makeTempFolder("share");
    const std::string streamer = real + "/station/Misc/System/Streamer";
    fs::create_directories(streamer);
    write(streamer + "/ondaline_schedule.json", R"({"stationName":"Shared"})");
    setAcl(streamer + "/ondaline_schedule.json", "u::rw,u:64999:r,g::r,m::r,o::-");
    const std::string mounted = test::makeTempFolder("mounted");
    const Share share("--xattr-ro", real, mounted);
    ASSERT_TRUE(share.mounted());
    StationPath::save(mounted + "/station");
    ImageScheduleConfig config = ImageScheduleConfig::load();
    config.stationName = "Renamed";
    const SettingsSave saved = config.save();
    ASSERT_TRUE(saved.written) << saved.failure;
    EXPECT_EQ(saved.accessLost, "user 64999 (Permission denied)");
    EXPECT_EQ(ImageScheduleConfig::load().stationName, "Renamed");
}

// A folder of one's own whose default access list gives an outsider what is
// made there: the file a save makes takes none of it, whether it carries a
// file's protections over or, only its owner's, holds the key.
TEST_F(SecretsTest, AFoldersDefaultListGivesTheNewFileNothing)
{
    fs::create_directories(settingsDir());
    write(settingsFile(), R"({"stationName":"Before the list"})");
    ASSERT_EQ(::chmod(settingsFile().c_str(), 0644), 0);
    setAcl(settingsDir(), "u::rwx,u:64999:rwx,g::rx,m::rwx,o::rx", ACL_TYPE_DEFAULT);
    auto outsiderEntries = [this] {
        acl_t acl = ::acl_get_file(settingsFile().c_str(), ACL_TYPE_ACCESS);
        char* text = acl ? ::acl_to_any_text(acl, nullptr, ',', 0) : nullptr;
        const std::string entries = text ? text : "";
        ::acl_free(text);
        ::acl_free(acl);
        return entries.find("64999") != std::string::npos;
    };
    ImageScheduleConfig config = ImageScheduleConfig::load();
    config.stationName = "After the list";
    ASSERT_TRUE(config.save().written);
    EXPECT_FALSE(outsiderEntries());
    EXPECT_EQ(statOf(settingsFile()).st_mode & 07777, 0644u);
    ASSERT_EQ(::chmod(settingsFile().c_str(), 0600), 0);
    config.streamKey = "own-key";
    const SettingsSave saved = config.save();
    ASSERT_TRUE(saved.written);
    EXPECT_EQ(saved.notOwn, "");
    EXPECT_TRUE(holds(settingsFile(), "own-key"));
    EXPECT_FALSE(outsiderEntries());
    EXPECT_EQ(statOf(settingsFile()).st_mode & 07777, 0600u);
}

// A file system in a disk image is the operator's own only where the image
// is: a member's image, mounted by root as root's station, is hers whatever
// owners it shows inside; root's own image keeps root's key. Images in
// images, all root's, are judged four deep, and no deeper.
TEST_F(SecretsTest, AMembersDiskImageIsHers)
{
    ONDALINE_NEEDS(canMountImages(), "a disk image needs mkfs.ext4 and a free loop device");
    for (const uid_t owner : {kMember, uid_t{0}}) {
        SCOPED_TRACE(owner);
        const std::string folder = test::makeTempFolder("images");
        ASSERT_EQ(::chown(folder.c_str(), owner, owner), 0);
        const std::string image = folder + "/station.img";
        ASSERT_EQ(std::system(("truncate -s 8M " + image + " && mkfs.ext4 -q " + image).c_str()), 0);
        ASSERT_EQ(::chown(image.c_str(), owner, owner), 0);
        const std::string mounted = test::makeTempFolder("mounted");
        const Mount mount("mount -o loop " + image + " " + mounted, mounted);
        ASSERT_TRUE(mount.mounted());
        station_ = mounted + "/station";
        StationPath::save(station_);
        fs::create_directories(settingsDir());

        ImageScheduleConfig config = ImageScheduleConfig::load();
        config.streamKey = "image-key";
        const SettingsSave saved = config.save();
        ASSERT_TRUE(saved.written) << saved.failure;
        if (owner == 0) {
            EXPECT_EQ(saved.notOwn, "");
            EXPECT_TRUE(holds(settingsFile(), "image-key"));
            continue;
        }
        EXPECT_EQ(saved.notOwn, settingsDir() + " lies on the disk image " + image + ": nobody owns " + image);
        EXPECT_EQ(filesHolding(mounted, "image-key"), std::vector<std::string>{});
        EXPECT_EQ(ImageScheduleConfig::load().streamKey, "image-key");
    }

    std::string at = test::makeTempFolder("nested");
    std::vector<std::unique_ptr<Mount>> mounts;
    for (const int megabytes : {12, 9, 6, 4, 2}) {
        const std::string image = at + "/disk.img";
        ASSERT_EQ(std::system(("truncate -s " + std::to_string(megabytes) + "M " + image + " && mkfs.ext4 -q " + image)
                                  .c_str()),
                  0);
        fs::create_directory(at + "/in");
        mounts.push_back(std::make_unique<Mount>("mount -o loop " + image + " " + at + "/in", at + "/in"));
        ASSERT_TRUE(mounts.back()->mounted());
        at += "/in";
        const platform::FileDescriptor folder(::open(at.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        const std::string why = platform::whyNotOwn(folder.get());
        EXPECT_EQ(why.ends_with(", which cannot be judged"), mounts.size() > 4) << mounts.size() << ": " << why;
    }
    while (!mounts.empty()) mounts.pop_back();  // the innermost first
}
