#include "platform/file_rights/own_folder.h"

#include "platform/file_descriptor.h"
#include "platform/file_rights/block_device.h"
#include "platform/file_rights/file_access.h"
#include "platform/file_rights/path_walk.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cstdio>
#include <optional>
#include <system_error>

namespace ondaline::platform {

namespace {

// No path is this deep; a walk up that does not end is not judged.
constexpr int kMaxDepth = 4096;

struct FileSystemType {
    unsigned long magic;
    const char* name;
    bool keepsPermissions;  // local, and what its modes and lists say holds
};

// By the kernel's numbers for them. Shares and sticks show owners and modes
// that their server, their mount options or nothing at all decide: a FUSE
// file system may show the operator's own 0600 file while every user reads
// it beneath.
constexpr FileSystemType kFileSystems[] = {
    {0xEF53, "ext4", true},         {0x58465342, "xfs", true},      {0x9123683E, "btrfs", true},
    {0x01021994, "tmpfs", true},    {0x858458F6, "ramfs", true},    {0x794C7630, "overlay", true},
    {0xF2F52010, "f2fs", true},     {0x2FC12FC1, "zfs", true},      {0x3153464A, "jfs", true},
    {0x52654973, "reiserfs", true}, {0xCA451A4E, "bcachefs", true}, {0x3434, "nilfs2", true},
    {0xF15F, "ecryptfs", true},     {0x73717368, "squashfs", true}, {0x65735546, "fuse", false},
    {0x6969, "nfs", false},         {0x517B, "smb", false},         {0xFF534D42, "cifs", false},
    {0xFE534D42, "smb2", false},    {0x01021997, "9p", false},      {0x4D44, "fat", false},
    {0x2011BAB0, "exfat", false},   {0x5346544E, "ntfs", false},    {0x7366746E, "ntfs3", false},
    {0x00C36400, "ceph", false},    {0x786F4256, "vboxsf", false},  {0x6B414653, "afs", false},
};

std::string cannotTell(const std::string& path, int error)
{
    return "who may change " + path + " cannot be told (" + std::generic_category().message(error) + ")";
}

// Why the file system of `fd` is not one whose permissions hold; empty when
// it is.
std::string fileSystemProblem(int fd, const std::string& path)
{
    struct statfs info {};
    if (::fstatfs(fd, &info) != 0) return cannotTell(path, errno);
    const unsigned long magic = static_cast<unsigned long>(info.f_type) & 0xFFFFFFFFul;
    for (const FileSystemType& type : kFileSystems) {
        if (type.magic != magic) continue;
        if (type.keepsPermissions) return {};
        return path + " lies on a " + type.name + " file system";
    }
    char number[16];
    std::snprintf(number, sizeof number, "%lx", magic);
    return path + " lies on a file system unknown to Ondaline (type 0x" + number + ")";
}

std::string whyNotOwnAt(int folder, int file, int images);

// A disk image at most this many deep (an image in an image) is judged.
constexpr int kMaxImages = 4;

// Why the device `device`, which `path` lies on, is not the operator's own;
// empty when it is. A file system in a disk image is as much one's own as
// the image: whoever may change the image decides every owner and mode in it.
std::string deviceProblem(dev_t device, const std::string& path, int images)
{
    const BlockDevice block = blockDeviceOf(device);
    if (!block.unjudged.empty()) return path + " lies on " + block.unjudged + ", which cannot be judged";
    const std::optional<std::string>& image = block.image;
    if (!image) return {};
    const std::string lies = path + " lies on the disk image " + *image;
    if (images >= kMaxImages || !image->starts_with('/') || image->ends_with(" (deleted)"))
        return lies + ", which cannot be judged";
    const auto slash = image->rfind('/');
    const FileDescriptor folder(::open(slash == 0 ? "/" : image->substr(0, slash).c_str(),
                                       O_PATH | O_DIRECTORY | O_CLOEXEC));
    const FileDescriptor file(folder.isOpen()
                                  ? ::openat(folder.get(), image->c_str() + slash + 1, O_PATH | O_NOFOLLOW | O_CLOEXEC)
                                  : -1);
    if (!file.isOpen()) return lies + ", which cannot be judged (" + std::generic_category().message(errno) + ")";
    if (std::string why = whyNotOwnAt(folder.get(), file.get(), images + 1); !why.empty()) return lies + ": " + why;
    return {};
}

// One walk up from a folder: who runs it, and the device last judged (the
// folders on the way mostly share one).
struct Walk {
    uid_t me;
    int images = 0;
    std::optional<dev_t> deviceJudged;
};

// Why the file or folder open at `fd` is not the operator's own; empty
// when it is. `othersMayAdd`: a sticky folder others may write still
// counts, as they may not move what lies in it.
std::string judge(int fd, Walk& walk, bool othersMayAdd)
{
    const std::string path = pathOfDescriptor(fd, "a folder of the station's");
    if (std::string problem = fileSystemProblem(fd, path); !problem.empty()) return problem;
    struct stat info {};
    if (::fstat(fd, &info) != 0) return cannotTell(path, errno);
    if (walk.deviceJudged != info.st_dev) {
        if (std::string problem = deviceProblem(info.st_dev, path, walk.images); !problem.empty()) return problem;
        walk.deviceJudged = info.st_dev;
    }
    const uid_t me = walk.me;
    std::error_code error;
    const std::optional<FileAccess> access = accessOf(fd, &error);
    if (!access) return cannotTell(path, error.value());
    if (access->owner != me && access->owner != 0) return userName(access->owner) + " owns " + path;
    if (othersMayAdd && S_ISDIR(info.st_mode) && (info.st_mode & S_ISVTX)) return {};
    if (const std::string writer = whoElseMay(*access, me, kMayWrite); !writer.empty())
        return writer + " may change " + path;
    return {};
}

std::string whyNotOwnAt(int folder, int file, int images)
{
    Walk walk{.me = ::geteuid(), .images = images, .deviceJudged = std::nullopt};
    if (file >= 0) {
        if (std::string why = judge(file, walk, false); !why.empty()) return why;
    }
    FileDescriptor at(::fcntl(folder, F_DUPFD_CLOEXEC, 0));
    if (!at.isOpen()) return cannotTell("the settings folder", errno);
    for (int depth = 0; depth < kMaxDepth; ++depth) {
        if (std::string why = judge(at.get(), walk, depth > 0); !why.empty()) return why;
        FileDescriptor up(::openat(at.get(), "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
        struct stat here {};
        struct stat above {};
        if (!up.isOpen() || ::fstat(at.get(), &here) != 0 || ::fstat(up.get(), &above) != 0)
            return cannotTell(pathOfDescriptor(at.get(), "a folder of the station's"), errno);
        if (here.st_dev == above.st_dev && here.st_ino == above.st_ino) return {};  // the root folder
        at = std::move(up);
    }
    return cannotTell(pathOfDescriptor(folder, "the settings folder"), ELOOP);
}

}  // namespace

std::string whyNotOwn(int folder, int file) { return whyNotOwnAt(folder, file, 0); }

}  // namespace ondaline::platform
