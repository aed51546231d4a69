#pragma once

// What the kernel tells of the block device a file system lies on, as far
// as whose the file system is goes: a loop device's disk image, whose owner
// decides every owner and mode inside it, or why the device cannot be
// judged at all.

#include <sys/types.h>

#include <optional>
#include <string>

namespace ondaline::platform {

struct BlockDevice {
    // The file a loop device reads, or for a partition of one, its disk's;
    // as the kernel names it, newlines and all.
    std::optional<std::string> image;
    // Why what decides the device's contents lies out of reach: a device
    // built on others (device-mapper, md) or served from elsewhere (nbd):
    // "the device dm-0, built on others". Empty where it does not.
    std::string unjudged;
};

// The device at its entry below /sys/dev/block ("/sys/dev/block/7:0");
// nothing for a device without one (tmpfs, overlay, btrfs's own numbers).
BlockDevice blockDeviceAt(const std::string& sysEntry);
BlockDevice blockDeviceOf(dev_t device);

}  // namespace ondaline::platform
