// The settings file's protections across saves, saves on file systems that
// lack links or no-replace renames, saves that may not or could not put the
// new file in place, and the links followed on the way to it.

#include "models/image_schedule_config.h"
#include "models/private_secrets.h"

#include "settings_file_fixture.h"
#include "support/needs.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <sys/inotify.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <tuple>

using namespace ondaline;
using ondaline::test::asNobody;
using ondaline::test::SettingsFileTest;
namespace fs = std::filesystem;

namespace {

struct stat statOf(const std::string& path)
{
    struct stat info {};
    EXPECT_EQ(::lstat(path.c_str(), &info), 0) << path;
    return info;
}

mode_t modeOf(const std::string& path) { return statOf(path).st_mode & 07777; }

// Each name in `folder` with its owner, group, mode and bytes.
std::vector<std::string> contentsOf(const std::string& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const struct stat info = statOf(entry.path());
        std::ifstream in(entry.path());
        const std::string bytes = S_ISREG(info.st_mode) ? std::string(std::istreambuf_iterator<char>(in), {}) : "";
        names.push_back(entry.path().filename().string() + " " + std::to_string(info.st_uid) + ":" +
                        std::to_string(info.st_gid) + " " + std::to_string(info.st_mode) + " " + bytes);
    }
    std::sort(names.begin(), names.end());
    return names;
}

const std::string edited = R"({"stationName":"Edited","streamKey":"edited-key"})";

}  // namespace

// A file holding the stream key, made private by its owner, edited outside
// and then saved with the edit kept aside: neither file becomes readable
// by others.
TEST_F(SettingsFileTest, PrivateFileStaysPrivateWhenAnEditIsKeptAside)
{
    fs::create_directories(settingsDir());
    write(settingsFile(), R"({"streamKey":"live-key"})");
    ASSERT_EQ(::chmod(settingsFile().c_str(), 0600), 0);
    ImageScheduleConfig config = ImageScheduleConfig::load();
    write(settingsFile(), edited);

    config.stationName = "Ours";
    const SettingsSave saved = config.save();
    ASSERT_TRUE(saved.written) << saved.failure;
    ASSERT_TRUE(saved.editedElsewhere);
    EXPECT_EQ(modeOf(settingsFile()), 0600u);
    EXPECT_EQ(modeOf(saved.keptAside), 0600u);
    EXPECT_EQ(read(saved.keptAside), edited);
}

TEST_F(SettingsFileTest, GroupAndOwnerAreKept)
{
    ONDALINE_NEEDS(::geteuid() == 0, "giving a file another owner and group needs root");
    fs::create_directories(settingsDir());
    ImageScheduleConfig config;
    ASSERT_TRUE(config.save().written);

    // Shared with a group.
    ASSERT_EQ(::chown(settingsFile().c_str(), 0, 29), 0);
    ASSERT_EQ(::chmod(settingsFile().c_str(), 0640), 0);
    config.stationName = "Plain";
    ASSERT_TRUE(config.save().written);
    EXPECT_EQ(statOf(settingsFile()).st_gid, 29u);
    EXPECT_EQ(modeOf(settingsFile()), 0640u);

    // Another user's file, saved by root, stays that user's.
    ASSERT_EQ(::chown(settingsFile().c_str(), 65534, 65534), 0);
    write(settingsFile(), edited);
    const SettingsSave saved = config.save();
    ASSERT_TRUE(saved.written) << saved.failure;
    for (const std::string& file : {settingsFile(), saved.keptAside}) {
        EXPECT_EQ(statOf(file).st_uid, 65534u) << file;
        EXPECT_EQ(statOf(file).st_gid, 65534u) << file;
        EXPECT_EQ(modeOf(file), 0640u) << file;
    }
}

// A file its owner made read-only is left as it is, even when a copy would
// be due, and the load already says why a save will not replace it.
TEST_F(SettingsFileTest, ReadOnlyFileIsNotReplaced)
{
    fs::create_directories(settingsDir());
    for (const std::string& stored : {edited, std::string("not JSON")}) {
        write(settingsFile(), stored);
        ASSERT_EQ(::chmod(settingsFile().c_str(), 0444), 0);
        const SettingsLoad loaded = ImageScheduleConfig::loadReporting();
        EXPECT_EQ(loaded.saveRefused, settingsFile() + " is read-only");

        ImageScheduleConfig config = loaded.config;
        config.stationName = "Ours";
        const SettingsSave saved = config.save();
        EXPECT_FALSE(saved.written);
        EXPECT_EQ(saved.failure, settingsFile() + " is read-only");
        EXPECT_EQ(read(settingsFile()), stored);
        EXPECT_EQ(modeOf(settingsFile()), 0444u);
        EXPECT_EQ(filesInSettingsDir(), std::vector<std::string>{"ondaline_schedule.json"});
        ASSERT_EQ(::chmod(settingsFile().c_str(), 0644), 0);
    }
}

// A FUSE exFAT offers neither hard links nor renames that refuse to
// replace: the copy is made of the file's bytes, and saves go on.
TEST_F(SettingsFileTest, CopyIsKeptWhereNeitherLinksNorNoReplaceRenamesAre)
{
    platform::fileSystemSeams().refuseLinks = true;
    platform::fileSystemSeams().refuseNoReplaceRenames = true;
    fs::create_directories(settingsDir());
    ImageScheduleConfig config;
    ASSERT_TRUE(config.save().written);
    ASSERT_EQ(::chmod(settingsFile().c_str(), 0640), 0);
    write(settingsFile(), edited);

    const SettingsSave saved = config.save();
    ASSERT_TRUE(saved.written) << saved.failure;
    EXPECT_TRUE(saved.editedElsewhere);
    EXPECT_EQ(read(saved.keptAside), edited);
    EXPECT_EQ(modeOf(saved.keptAside), 0640u);
    EXPECT_EQ(modeOf(settingsFile()), 0640u);
    EXPECT_EQ(ImageScheduleConfig::load(), config);

    // With nothing new outside, nothing more is kept.
    ASSERT_TRUE(config.save().written);
    EXPECT_EQ(filesInSettingsDir().size(), 2u);
}

// Another user's file in a folder with the sticky bit cannot be replaced:
// nothing is kept aside for a save that cannot follow, and the refusal
// says why, at every start alike.
TEST_F(SettingsFileTest, FileOnlyItsOwnerMayReplaceIsRefusedWithNoCopyLeft)
{
    ONDALINE_NEEDS(::geteuid() == 0, "changing to the user nobody needs root");
    openToNobody(fs::perms::all | fs::perms::sticky_bit);
    write(settingsFile(), "not JSON");
    fs::permissions(settingsFile(), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                                        fs::perms::group_write | fs::perms::others_read | fs::perms::others_write);
    const std::string refusal = settingsFile() + " belongs to root and this folder lets only its owner replace it";

    for (int start = 0; start < 2; ++start) {
        EXPECT_EQ(asNobody([&] {
                      const SettingsLoad loaded = ImageScheduleConfig::loadReporting();
                      const SettingsSave saved = loaded.config.save();
                      return loaded.saveRefused == refusal && !saved.written && saved.failure == refusal;
                  }),
                  0);
    }
    EXPECT_EQ(filesInSettingsDir(), std::vector<std::string>{"ondaline_schedule.json"});
    EXPECT_EQ(read(settingsFile()), "not JSON");
}

// Stopped between moving the old file aside and putting the new one in
// place, a save through a link leaves the link leading nowhere. The next
// start names the copy beside the target and the leftover it removes, and
// a save makes the target again.
TEST_F(SettingsFileTest, LinkToAMissingFileIsToldAndMadeGood)
{
    const std::string elsewhere = test::makeTempFolder("elsewhere");
    const std::string target = elsewhere + "/settings.json";
    const std::string copy = target + ".edited-20260101-101010";
    const std::string leftover = target + ".tmp-a1B2c3";
    write(copy, edited);
    write(leftover, "{\"stationName\":\"New\"}");
    fs::last_write_time(leftover, fs::file_time_type::clock::now() - std::chrono::minutes(5));
    fs::create_directories(settingsDir());
    fs::create_symlink(target, settingsFile());

    const SettingsLoad loaded = ImageScheduleConfig::loadReporting();
    EXPECT_EQ(loaded.keptAsideCopy, copy);
    ASSERT_EQ(loaded.removedLeftovers.size(), 1u);
    EXPECT_EQ(loaded.removedLeftovers[0].path, leftover);

    const SettingsSave saved = loaded.config.save();
    ASSERT_TRUE(saved.written) << saved.failure;
    EXPECT_EQ(saved.file, target);
    EXPECT_TRUE(fs::is_symlink(settingsFile()));
    EXPECT_EQ(ImageScheduleConfig::load(), loaded.config);
    EXPECT_EQ(read(copy), edited);
}

// A link that another user put in the settings file's place, or in the
// settings folder's, is not followed by root: nothing where it leads is read,
// written, kept aside or removed, and the refusal names it and its owner.
TEST_F(SettingsFileTest, AnotherUsersLinksAreNotFollowed)
{
    ONDALINE_NEEDS(::geteuid() == 0, "giving a link to the user nobody needs root");
    const std::string rootOnly = test::makeTempFolder("root-only");
    ASSERT_EQ(::chmod(rootOnly.c_str(), 0700), 0);
    const std::string victim = rootOnly + "/victim.conf";
    write(victim, edited);
    const group* shadow = ::getgrnam("shadow");
    ASSERT_EQ(::chown(victim.c_str(), 0, shadow ? shadow->gr_gid : 0), 0);
    ASSERT_EQ(::chmod(victim.c_str(), 0640), 0);
    for (const std::string& leftover : {victim + ".tmp-a1B2c3", rootOnly + "/ondaline_schedule.json.tmp-a1B2c3"}) {
        write(leftover, "{}");
        fs::last_write_time(leftover, fs::file_time_type::clock::now() - std::chrono::minutes(5));
    }
    const std::string why = "a link owned by nobody, not followed";
    const std::string throughFolder = "is reached through " + settingsDir() + ", " + why;
    // Nor one that a link of ours leads to: root's own folder elsewhere may
    // hold another user's link.
    const std::string ours = test::makeTempFolder("ours");
    const std::string behindOurs = ours + "/sub";
    const std::string system = station_ + "/Misc/System";
    for (const auto& [link, target, problem] :
         {std::tuple{settingsFile(), victim, "is " + why},
          std::tuple{settingsFile(), rootOnly + "/missing.conf", "is " + why},
          std::tuple{settingsDir(), rootOnly, throughFolder},
          std::tuple{system, rootOnly, "is reached through " + system + ", " + why},
          std::tuple{behindOurs, rootOnly, "is reached through " + behindOurs + ", " + why}}) {
        fs::remove_all(station_ + "/Misc");
        fs::create_directories(link == behindOurs ? system : fs::path(link).parent_path().string());
        if (link == behindOurs) fs::create_symlink(behindOurs, settingsDir());
        fs::create_symlink(target, link);
        ASSERT_EQ(::lchown(link.c_str(), 65534, 65534), 0);
        const auto before = contentsOf(rootOnly);

        const SettingsLoad loaded = ImageScheduleConfig::loadReporting();
        EXPECT_EQ(loaded.problem, problem);
        EXPECT_EQ(loaded.saveRefused, link + " is " + why);
        EXPECT_EQ(loaded.config.streamKey, "");  // nothing read
        const SettingsSave saved = loaded.config.save();
        EXPECT_FALSE(saved.written);
        EXPECT_EQ(saved.failure, link + " is " + why);
        EXPECT_EQ(contentsOf(rootOnly), before) << target;
        EXPECT_TRUE(fs::is_symlink(link));
    }

    // Nor is the stream key beside it read through one: it would be saved
    // into a settings file that others may read.
    fs::remove_all(settingsDir());
    fs::create_directories(settingsDir());
    const std::string keyLink = settingsDir() + "/ondaline_key";
    fs::create_symlink(victim, keyLink);
    ASSERT_EQ(::lchown(keyLink.c_str(), 65534, 65534), 0);
    std::string unusable;
    EXPECT_EQ(ImageScheduleConfig::readStreamKeyFile(&unusable), "");
    EXPECT_EQ(unusable, keyLink + " is " + why);
}

// In a station folder two users share through its group, user B's link in
// the settings file's place does not lead user A's program to A's file.
TEST_F(SettingsFileTest, LinkOfAnotherUserOfASharedFolderIsNotFollowed)
{
    ONDALINE_NEEDS(::geteuid() == 0, "changing to the user nobody needs root");
    const uid_t userB = 1001;
    openToNobody(fs::perms::all);
    for (std::string folder = settingsDir(); folder.size() >= station_.size();
         folder = fs::path(folder).parent_path()) {
        ASSERT_EQ(::chown(folder.c_str(), userB, 65534), 0);
        ASSERT_EQ(::chmod(folder.c_str(), 02770), 0);
    }
    const std::string home = test::makeTempFolder("home-of-a");
    write(home + "/notes.txt", "A's notes");
    for (const std::string& path : {home, home + "/notes.txt"}) ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0);
    fs::create_symlink(home + "/notes.txt", settingsFile());
    ASSERT_EQ(::lchown(settingsFile().c_str(), userB, 65534), 0);
    const auto before = contentsOf(home);

    EXPECT_EQ(asNobody([this] {
                  const SettingsLoad loaded = ImageScheduleConfig::loadReporting();
                  return loaded.linkNotFollowed == settingsFile() && !loaded.config.save().written;
              }),
              0);
    EXPECT_EQ(contentsOf(home), before);
}

// The links of the user running the program and of root are followed: the
// save lands where they lead, and they stay links.
TEST_F(SettingsFileTest, OwnAndRootsLinksAreFollowed)
{
    ONDALINE_NEEDS(::geteuid() == 0, "changing to the user nobody needs root");
    openToNobody(fs::perms::all);
    const std::string streamer = test::makeTempFolder("streamer");
    fs::permissions(streamer, fs::perms::all);
    fs::remove(settingsDir());
    fs::create_symlink(streamer, settingsDir());  // root's
    const std::string own = test::makeTempFolder("own");
    const std::string target = own + "/settings.json";
    write(target, "{}");
    for (const std::string& path : {own, target}) ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0);
    fs::create_symlink(fs::relative(target, streamer), settingsFile());
    ASSERT_EQ(::lchown(settingsFile().c_str(), 65534, 65534), 0);

    EXPECT_EQ(asNobody([&] {
                  ImageScheduleConfig config = ImageScheduleConfig::load();
                  config.stationName = "Followed";
                  const SettingsSave saved = config.save();
                  return saved.written && saved.file == target;
              }),
              0);
    EXPECT_NE(read(target).find(R"("stationName":"Followed")"), std::string::npos);
    EXPECT_TRUE(fs::is_symlink(settingsDir()) && fs::is_symlink(settingsFile()));
}

// The old file moved aside (no links here), the new one refused its place,
// and the old one refused its way back: the failure says where it is.
TEST_F(SettingsFileTest, FailureAfterTheMoveNamesWhereTheEarlierFileIs)
{
    platform::fileSystemSeams().refuseLinks = true;
    fs::create_directories(settingsDir());
    ImageScheduleConfig config;
    ASSERT_TRUE(config.save().written);
    write(settingsFile(), edited);
    // A folder appears where the file was: no file can be renamed over it.
    platform::fileSystemSeams().beforeCommit = [this] { fs::create_directories(settingsFile() + "/in-the-way"); };

    const SettingsSave saved = config.save();
    EXPECT_FALSE(saved.written);
    const std::string said = "; the earlier file could not be put back and is kept as ";
    const auto at = saved.failure.find(said);
    ASSERT_NE(at, std::string::npos) << saved.failure;
    EXPECT_EQ(read(saved.failure.substr(at + said.size())), edited);
}

// Another user who owns the station folder, and the folder it is in, swaps
// `Misc` for their link to root's private station, and back, whenever the
// settings file is opened, and then without pause, and the station folder
// itself too: no save, load or key read lands there, nothing is kept aside
// as replaced (it is the same station all along), and no path told is one
// that the other user named.
TEST_F(SettingsFileTest, FoldersSwappedOnTheWayLeadNowhereElse)
{
    ONDALINE_NEEDS(::geteuid() == 0, "changing to the user nobody needs root");
    const std::string rootOnly = test::makeTempFolder("root-only");
    ASSERT_EQ(::chmod(rootOnly.c_str(), 0700), 0);
    const std::string privateSettings = rootOnly + "/Misc/System/Streamer";
    fs::create_directories(privateSettings);
    write(privateSettings + "/ondaline_schedule.json", R"({"stationName":"Private","streamKey":"root-key"})");
    write(privateSettings + "/ondaline_key", "root-key");
    const std::string leftover = privateSettings + "/ondaline_schedule.json.tmp-a1B2c3";
    write(leftover, "{}");
    fs::last_write_time(leftover, fs::file_time_type::clock::now() - std::chrono::minutes(5));
    const auto before = contentsOf(privateSettings);

    const std::string home = test::makeTempFolder("home-of-b");
    station_ = home + "/station";
    StationPath::save(station_);
    openToNobody(fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec | fs::perms::others_read |
                 fs::perms::others_exec);
    for (const std::string& folder : {home, station_}) {
        ASSERT_EQ(::chown(folder.c_str(), 65534, 65534), 0);
        ASSERT_EQ(::chmod(folder.c_str(), 0755), 0);
    }
    write(settingsFile(), R"({"stationName":"Shared"})");
    ASSERT_EQ(::chmod(settingsFile().c_str(), 0644), 0);
    const std::string swapLink = station_ + "/Misc.swap", stationSwap = home + "/station.swap";
    fs::create_symlink(rootOnly + "/Misc", swapLink);
    fs::create_symlink(rootOnly, stationSwap);
    for (const std::string& link : {swapLink, stationSwap}) ASSERT_EQ(::lchown(link.c_str(), 65534, 65534), 0);

    auto startSwapper = [&](bool withoutPause) {
        const pid_t swapper = ::fork();
        if (swapper != 0) return swapper;
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(2);
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);  // after the change of user, which clears it
        const int station = ::open(station_.c_str(), O_PATH | O_DIRECTORY);
        const int above = ::open(home.c_str(), O_PATH | O_DIRECTORY);
        auto swap = [](int folder, const char* name, const char* link) {
            ::renameat2(folder, name, folder, link, RENAME_EXCHANGE);
        };
        if (withoutPause)
            for (;;) swap(station, "Misc", "Misc.swap");
        const int watch = ::inotify_init1(IN_NONBLOCK);
        ::inotify_add_watch(watch, settingsDir().c_str(), IN_OPEN);
        for (bool theStation = false;; theStation = !theStation) {
            char events[4096];
            if (::read(watch, events, sizeof events) > 0) {
                swap(station, "Misc", "Misc.swap");
                ::usleep(2000);
                swap(station, "Misc", "Misc.swap");
            }
            // Out and back in at once, so that most walks see neither.
            for (int twice = 0; twice < 2; ++twice) {
                if (theStation) swap(above, "station", "station.swap");
                else swap(station, "Misc", "Misc.swap");
            }
            ::usleep(50);
        }
    };
    auto putBack = [&] {
        if (fs::is_symlink(station_))
            ::renameat2(AT_FDCWD, stationSwap.c_str(), AT_FDCWD, station_.c_str(), RENAME_EXCHANGE);
        if (fs::is_symlink(station_ + "/Misc"))
            ::renameat2(AT_FDCWD, swapLink.c_str(), AT_FDCWD, (station_ + "/Misc").c_str(), RENAME_EXCHANGE);
    };

    ImageScheduleConfig config = ImageScheduleConfig::load();
    int written = 0, privateReads = 0;
    std::vector<std::string> told;
    for (const auto& [withoutPause, saves, reads] : {std::tuple{false, 50, 1000}, std::tuple{true, 3000, 3000}}) {
        const pid_t swapper = startSwapper(withoutPause);
        ASSERT_GT(swapper, 0);
        for (int save = 0; save < saves; ++save) {
            config.stationName = "Save " + std::to_string(save);
            const SettingsSave saved = config.save();
            written += saved.written ? 1 : 0;
            for (const std::string& path : {saved.file, saved.keptAside})
                if (path.find(".swap") != std::string::npos) told.push_back(path);
        }
        for (int read = 0; read < reads; ++read) {
            privateReads += ImageScheduleConfig::load().stationName == "Private" ? 1 : 0;
            privateReads += ImageScheduleConfig::readStreamKeyFile() == "root-key" ? 1 : 0;
        }
        ::kill(swapper, SIGKILL);
        ::waitpid(swapper, nullptr, 0);
        putBack();
    }

    EXPECT_EQ(privateReads, 0);
    EXPECT_EQ(contentsOf(privateSettings), before);
    EXPECT_TRUE(told.empty()) << told.size() << " paths through the link, such as " << told.front();
    EXPECT_GT(written, 0);
    EXPECT_NE(read(settingsFile()).find(R"("stationName":"Save )"), std::string::npos);
    for (const std::string& name : filesInSettingsDir()) {
        EXPECT_EQ(name.find(".tmp-"), std::string::npos) << name;
        EXPECT_EQ(name.find(".replaced-"), std::string::npos) << name;
    }
}

// A key taken from the key file of a station of one's own: a settings file
// its owner keeps readable by their group stays so and gets no key, which
// is kept apart for its server, as the save says; once only its owner reads
// it, it holds the key. Once another user owns the settings file, a key
// file others may read is theirs: it stays there alone, and the save says so.
TEST_F(SettingsFileTest, KeyFromTheKeyFileIsTheOwnersAloneOrStaysInTheKeyFile)
{
    fs::create_directories(settingsDir());
    ImageScheduleConfig named;
    named.stationName = "Open";
    ASSERT_TRUE(named.save().written);
    ASSERT_EQ(::chmod(settingsFile().c_str(), 0640), 0);
    const std::string keyFile = settingsDir() + "/ondaline_key";
    write(keyFile, "file-key\n");
    ASSERT_EQ(::chmod(keyFile.c_str(), 0640), 0);
    ImageScheduleConfig fromFile = ImageScheduleConfig::load();
    ASSERT_TRUE(fromFile.takeStreamKeyFromFile());
    const SettingsSave apart = fromFile.save();
    ASSERT_TRUE(apart.written);
    const std::string groupReads = "the group " + platform::groupName(::getegid()) + " may read " + settingsFile();
    EXPECT_EQ(apart.secretsNotice,
              "Stream key kept in " + privateSecretsFile() + " — the station folder is shared: " + groupReads);
    EXPECT_EQ(modeOf(settingsFile()), 0640u);
    EXPECT_EQ(read(settingsFile()).find("file-key"), std::string::npos);
    EXPECT_EQ(readPrivateSecrets(settingsFile()).streamKey, (BoundSecret{"file-key", "rtmp://localhost:1935"}));

    ASSERT_EQ(::chmod(settingsFile().c_str(), 0600), 0);
    fromFile.stationName = "Closed";
    const SettingsSave saved = fromFile.save();
    ASSERT_TRUE(saved.written);
    EXPECT_EQ(saved.notOwn, "");
    EXPECT_EQ(saved.secretsNotice, "");
    EXPECT_EQ(modeOf(settingsFile()), 0600u);
    EXPECT_NE(read(settingsFile()).find("file-key"), std::string::npos);

    // The same where the settings file is the operator's own link.
    const std::string real = settingsDir() + "/real.json";
    write(real, R"({"stationName":"Linked"})");
    ASSERT_EQ(::chmod(real.c_str(), 0600), 0);
    fs::remove(settingsFile());
    fs::create_symlink("real.json", settingsFile());
    fromFile = ImageScheduleConfig::load();
    ASSERT_TRUE(fromFile.takeStreamKeyFromFile());
    const SettingsSave linked = fromFile.save();
    ASSERT_TRUE(linked.written);
    EXPECT_EQ(linked.secretsNotice, "");
    EXPECT_NE(read(real).find("file-key"), std::string::npos);
    fs::remove(settingsFile());

    ONDALINE_NEEDS(::geteuid() == 0, "giving the settings file to another user needs root");
    write(settingsFile(), R"({"stationName":"His"})");
    ASSERT_EQ(::chown(settingsFile().c_str(), 65534, 65534), 0);
    fromFile = ImageScheduleConfig::load();
    ASSERT_TRUE(fromFile.takeStreamKeyFromFile());
    const SettingsSave leftOut = fromFile.save();
    ASSERT_TRUE(leftOut.written);
    EXPECT_EQ(leftOut.notOwn, "nobody owns " + settingsFile());
    EXPECT_EQ(leftOut.keyKeptIn, "");
    EXPECT_EQ(leftOut.secretsNotice, "Stream key from the key file " + keyFile +
                                         ", which others may read: theirs, used in this run while you keep none "
                                         "for this station, and kept in no file — the station folder is shared: "
                                         "nobody owns " +
                                         settingsFile());
    EXPECT_EQ(read(settingsFile()).find("file-key"), std::string::npos);
    EXPECT_EQ(fromFile.streamKey, "file-key");
}
