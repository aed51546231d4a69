#include "platform/file_rights/block_device.h"

#include <sys/sysmacros.h>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace ondaline::platform {

namespace {

namespace fs = std::filesystem;

// Devices of this machine's own memory and files: a loop device's image is
// judged, the others hold what the kernel put there.
constexpr const char* kLocalVirtual[] = {"loop", "zram", "ram"};

std::optional<std::string> wholeFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (text.ends_with('\n')) text.pop_back();  // the kernel's own line end
    return text;
}

bool hasEntries(const fs::path& folder)
{
    std::error_code error;
    return fs::is_directory(folder, error) && !fs::is_empty(folder, error);
}

}  // namespace

BlockDevice blockDeviceAt(const std::string& sysEntry)
{
    std::error_code error;
    const fs::path device = fs::canonical(sysEntry, error);
    if (error) return {};
    // A partition's disk is the folder it lies in.
    const fs::path disk = fs::exists(device / "partition", error) ? device.parent_path() : device;
    BlockDevice found;
    found.image = wholeFile(disk / "loop" / "backing_file");
    if (found.image) return found;
    const std::string name = disk.filename();
    if (hasEntries(disk / "slaves")) {
        found.unjudged = "the device " + name + ", built on others";
        return found;
    }
    const bool isVirtual = disk.parent_path().filename() == "block" &&
                           disk.parent_path().parent_path().filename() == "virtual";
    bool local = false;
    for (const char* kind : kLocalVirtual) local = local || name.starts_with(kind);
    if (isVirtual && !local) found.unjudged = "the device " + name + ", served from elsewhere";
    return found;
}

BlockDevice blockDeviceOf(dev_t device)
{
    return blockDeviceAt("/sys/dev/block/" + std::to_string(major(device)) + ":" + std::to_string(minor(device)));
}

}  // namespace ondaline::platform
