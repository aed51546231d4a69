#include "platform/file_rights/block_device.h"
#include "platform/file_rights/files.h"
#include "platform/file_rights/named_file.h"
#include "platform/file_rights/own_folder.h"
#include "support/needs.h"
#include "support/run_folder.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <sys/fsuid.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <thread>
#include <tuple>
#include <vector>

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

// Whose rights root reads a settings file's named files with, from the way
// to it: another user's folder gives theirs; a group that may write gives
// only that group's, and root's group or anyone's write gives nobody's; in
// a sticky folder anyone may write, only the next thing's owner counts.
TEST(NamedFiles, ReadersAreThoseWhoMayChangeTheWay)
{
    auto entry = [](uid_t owner, gid_t group, mode_t mode) {
        struct stat info {};
        info.st_uid = owner;
        info.st_gid = group;
        info.st_mode = mode;
        return info;
    };
    auto who = [](const std::vector<struct stat>& way) {
        const auto reader = othersWhoMayChange(way);
        return reader ? reader->who : "";
    };
    const uid_t me = ::geteuid(), b = 65534;
    const gid_t shared = 65534;
    const struct stat root = entry(0, 0, S_IFDIR | 0755), tmp = entry(0, 0, S_IFDIR | 01777);
    const struct stat file = entry(me, 0, S_IFREG | 0644);
    EXPECT_EQ(who({root, entry(me, 0, S_IFDIR | 0755), file}), "");
    EXPECT_EQ(who({root, tmp, entry(me, 0, S_IFDIR | 0755), file}), "");
    EXPECT_EQ(who({root, tmp, entry(b, shared, S_IFDIR | 0755), file}), "nobody");
    EXPECT_EQ(who({root, entry(b, shared, S_IFDIR | 0755), entry(me, 0, S_IFDIR | 0700), file}), "nobody");
    EXPECT_EQ(who({root, entry(me, shared, S_IFDIR | 02775), file}), "the group nogroup");
    EXPECT_EQ(who({root, entry(b, shared, S_IFDIR | 02775), file}), "the group nogroup");
    EXPECT_EQ(who({root, entry(me, 0, S_IFDIR | 0775), file}), "any user");
    EXPECT_EQ(who({root, entry(me, 0, S_IFDIR | 0757), file}), "any user");
    EXPECT_EQ(who({root, entry(me, shared, S_IFDIR | 0775), entry(me, 42, S_IFREG | 0664)}), "other users");
}

// A link of another user is not followed, and a file those rights do not
// reach is refused, each saying why.
TEST_F(FilesTest, NamedFilesFollowNoOtherUsersLinkAndReadWithTheirRights)
{
    const std::string song = write("song.txt", "Root only");
    ASSERT_EQ(::chmod(song.c_str(), 0600), 0);
    EXPECT_EQ(readNamedFile(song, {}).contents, "Root only");
    ONDALINE_NEEDS(::geteuid() == 0, "giving a link to the user nobody needs root");
    fs::create_symlink(song, path("link.txt"));
    ASSERT_EQ(::lchown(path("link.txt").c_str(), 65534, 65534), 0);
    const FileRead link = readNamedFile(path("link.txt"), {});
    EXPECT_EQ(link.problem, FileProblem::refused);
    EXPECT_EQ(link.reason(), "a link owned by nobody, not followed");

    const NamedFileRules asNobody{.readAs = FileReader{}, .folder = {}};
    const FileRead refused = readNamedFile(song, asNobody);
    EXPECT_EQ(refused.problem, FileProblem::refused);
    EXPECT_EQ(refused.reason(), "nobody may change the station's settings and could not read it");
    ASSERT_EQ(::chmod(song.c_str(), 0644), 0);
    EXPECT_EQ(readNamedFile(song, asNobody).problem, FileProblem::refused);  // our run folder is our own
}

// Reading with another's rights leaves the thread and the process as they
// were: groups, file-system user and group, the dumpable flag and the
// parent-death signal, for one read and for reads on two threads at once
// (the song is read on the main thread, the crawler on the render thread).
TEST_F(FilesTest, ReadingWithAnothersRightsLeavesNothingBehind)
{
    ONDALINE_NEEDS(::geteuid() == 0, "taking another user's rights needs root");
    const std::string song = write("song.txt", "Song");
    const NamedFileRules asAGroup{.readAs = FileReader{.uid = kNoOwner, .gid = 42, .groups = {42}, .who = "a group"},
                                  .folder = {}};
    const std::vector<gid_t> ours{0, 7, 29};
    ASSERT_EQ(::setgroups(ours.size(), ours.data()), 0);
    ASSERT_EQ(::prctl(PR_SET_PDEATHSIG, SIGUSR2), 0);
    auto state = [] {
        std::vector<gid_t> groups(static_cast<std::size_t>(::getgroups(0, nullptr)));
        ::getgroups(static_cast<int>(groups.size()), groups.data());
        int deathSignal = 0;
        ::prctl(PR_GET_PDEATHSIG, &deathSignal);
        return std::tuple{groups, ::setfsuid(static_cast<uid_t>(-1)), ::setfsgid(static_cast<gid_t>(-1)),
                          ::prctl(PR_GET_DUMPABLE), deathSignal};
    };
    const auto before = state();
    EXPECT_EQ(std::get<3>(before), 1);

    EXPECT_EQ(readNamedFile(song, asAGroup).problem, FileProblem::refused);  // our run folder is our own
    EXPECT_EQ(state(), before);
    auto reader = [&] {
        for (int read = 0; read < 2000; ++read) (void)readNamedFile(song, asAGroup);
    };
    std::thread crawler(reader);
    reader();
    crawler.join();
    EXPECT_EQ(state(), before);
    ASSERT_EQ(::prctl(PR_SET_PDEATHSIG, 0), 0);
}

// A folder is the operator's own only where no one else can change it or
// any folder on its way, judged on what is held open; a sticky folder on the
// way (as /tmp) counts, the settings folder itself being one does not.
TEST_F(FilesTest, AFolderIsOwnOnlyWhereNoOneElseMayChangeTheWay)
{
    const std::string way = path("a/b/c");
    fs::create_directories(way);
    fs::permissions(path("a"), fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    fs::permissions(path("a/b"), fs::perms::owner_all);
    const std::string file = write("a/b/c/f", "settings");
    auto judged = [&](const std::string& at, bool withFile = false) {
        const FileDescriptor folder(::open(at.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        const FileDescriptor held(withFile ? ::open(file.c_str(), O_PATH | O_CLOEXEC) : -1);
        return whyNotOwn(folder.get(), held.get());
    };
    EXPECT_EQ(judged(way, true), "");

    fs::permissions(file, fs::perms::group_write, fs::perm_options::add);
    EXPECT_EQ(judged(way, true), "the group " + groupName(::getegid()) + " may change " + file);
    fs::permissions(path("a"), fs::perms::all | fs::perms::sticky_bit);
    EXPECT_EQ(judged(way), "");
    fs::permissions(way, fs::perms::all | fs::perms::sticky_bit);
    EXPECT_EQ(judged(way), "every user may change " + way);
    fs::permissions(way, fs::perms::owner_all);
    fs::permissions(path("a"), fs::perms::owner_all);
    ASSERT_EQ(std::system(("setfacl -m u:64999:rwx " + path("a/b")).c_str()), 0);
    EXPECT_EQ(judged(way), "user 64999 may change " + path("a/b"));
    ASSERT_EQ(std::system(("setfacl -m u:64999:r-x " + path("a/b")).c_str()), 0);
    EXPECT_EQ(judged(way), "");
    ASSERT_EQ(std::system(("setfacl -m g:65534:rwx " + path("a/b")).c_str()), 0);
    EXPECT_EQ(judged(way), "the group " + groupName(65534) + " may change " + path("a/b"));
}

// What others own, or what a file system's mount decides, is never one's
// own: a folder another user owns, a sticky folder of theirs (a tmpfs
// mounted for them), and a FAT or exFAT stick where this kernel mounts one.
TEST_F(FilesTest, AFolderOthersOwnOrAStickDecidesIsNotOwn)
{
    ONDALINE_NEEDS(::geteuid() == 0, "giving folders to another user and mounting need root");
    auto judged = [](const std::string& at) {
        const FileDescriptor folder(::open(at.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        return whyNotOwn(folder.get());
    };
    fs::create_directories(path("theirs/mine"));
    ASSERT_EQ(::chown(path("theirs").c_str(), 65534, 65534), 0);
    EXPECT_EQ(judged(path("theirs/mine")), "nobody owns " + path("theirs"));

    struct Mount {
        std::string at;
        bool mounted;
        ~Mount()
        {
            if (mounted) ::umount2(at.c_str(), MNT_DETACH);
        }
    };
    fs::create_directories(path("sticky"));
    const Mount sticky{path("sticky"),
                       std::system(("mount -t tmpfs -o mode=1777,uid=65534 tmpfs " + path("sticky")).c_str()) == 0};
    ASSERT_TRUE(sticky.mounted);
    fs::create_directories(path("sticky/station"));
    EXPECT_EQ(judged(path("sticky/station")), "nobody owns " + path("sticky"));

    const std::string kernel = readRegularFile("/proc/filesystems").contents.value_or("");
    for (const auto& [type, name] : {std::pair{"vfat", "fat"}, std::pair{"exfat", "exfat"}}) {
        if (kernel.find(std::string("\t") + type + "\n") == std::string::npos) {
            std::cout << "note: this kernel mounts no " << type << "\n";
            continue;
        }
        const std::string image = path(std::string(type) + ".img"), at = path(type);
        ASSERT_EQ(std::system(("truncate -s 16M " + image + " && mkfs." + type + " " + image + " >/dev/null").c_str()),
                  0);
        fs::create_directories(at);
        const Mount stick{at, std::system(("mount -o loop " + image + " " + at).c_str()) == 0};
        ASSERT_TRUE(stick.mounted) << type;
        EXPECT_EQ(judged(at), at + " lies on a " + name + " file system");
    }
}

// What the kernel tells of a block device, as its own folders would: a
// loop device's image (a partition's is its disk's) named whole, newline
// and all; a device built on others, or served from elsewhere, cannot be
// judged; this machine's own disks and memory devices need no judging.
// The kernel here has no device-mapper, md or nbd: their entries are made.
TEST_F(FilesTest, ABlockDeviceIsJudgedByWhatTheKernelTellsOfIt)
{
    const std::string sys = path("sys");
    auto device = [&](const std::string& at, const std::string& number) {
        fs::create_directories(sys + "/devices/" + at);
        fs::create_directories(sys + "/dev/block");
        fs::create_symlink(sys + "/devices/" + at, sys + "/dev/block/" + number);
        return sys + "/dev/block/" + number;
    };
    const std::string loop = device("virtual/block/loop0", "7:0");
    fs::create_directories(sys + "/devices/virtual/block/loop0/loop");
    write("sys/devices/virtual/block/loop0/loop/backing_file", "/im\nages/disk.img\n");
    const std::string partition = device("virtual/block/loop0/loop0p1", "259:0");
    write("sys/devices/virtual/block/loop0/loop0p1/partition", "1\n");
    const std::string mapped = device("virtual/block/dm-0", "253:0");
    fs::create_directories(sys + "/devices/virtual/block/dm-0/slaves/vda1");
    const std::string served = device("virtual/block/nbd0", "43:0");
    const std::string disk = device("pci0000:00/virtio1/block/vda", "254:0");
    const std::string memory = device("virtual/block/zram0", "252:0");

    EXPECT_EQ(blockDeviceAt(loop).image, "/im\nages/disk.img");
    EXPECT_EQ(blockDeviceAt(partition).image, "/im\nages/disk.img");
    EXPECT_EQ(blockDeviceAt(mapped).unjudged, "the device dm-0, built on others");
    EXPECT_EQ(blockDeviceAt(served).unjudged, "the device nbd0, served from elsewhere");
    for (const std::string& own : {disk, memory, sys + "/dev/block/0:42"}) {
        EXPECT_EQ(blockDeviceAt(own).image, std::nullopt) << own;
        EXPECT_EQ(blockDeviceAt(own).unjudged, "") << own;
    }
}
