#pragma once

// Who may read or change a file: its owner, its group, the users and groups
// its access list names, and everyone else, as the file open at a
// descriptor has them now. The one place that answers it, for the files
// others' settings name and for the folders judged the operator's own.

#include <sys/stat.h>
#include <sys/types.h>

#include <optional>
#include <string>
#include <system_error>
#include <vector>

namespace ondaline::platform {

// A user and a group that own no file: a reader made of them has only
// what every user has, and a group's reader only what its group has. Not
// the user nobody, who owns real files (root-squashed NFS files, daemons').
inline constexpr uid_t kNoOwner = 2147483646;
inline constexpr gid_t kNoGroup = 2147483646;

// Someone who may read files: a user with their groups.
struct FileReader {
    uid_t uid = kNoOwner;
    gid_t gid = kNoGroup;
    std::vector<gid_t> groups;
    std::string who = "nobody";  // for messages: "b", "the group station", "any user"

    bool operator==(const FileReader&) const = default;
};

// What an entry grants: read, write, search (execute), as in the mode bits.
enum AccessRight : unsigned { kMayRead = 4, kMayWrite = 2, kMaySearch = 1 };

// Each entry's rights as they take effect: the access list's mask is
// applied to the named entries and the owning group's.
struct FileAccess {
    template <typename Id>
    struct Entry {
        Id id;
        unsigned rights = 0;
        bool operator==(const Entry&) const = default;
    };

    uid_t owner = 0;
    gid_t group = 0;
    unsigned ownerRights = 0;
    unsigned groupRights = 0;
    unsigned othersRights = 0;
    std::vector<Entry<uid_t>> users;   // named by the access list
    std::vector<Entry<gid_t>> groups;  // named by the access list

    // What the mode bits alone give.
    static FileAccess ofMode(const struct stat& file);
    // Its owner's alone, with the rights `ownerRights`.
    static FileAccess ownerOnly(uid_t owner, gid_t group, unsigned ownerRights);

    bool hasNamedEntries() const { return !users.empty() || !groups.empty(); }
    bool operator==(const FileAccess&) const = default;
};

// The file open at `fd` (an O_PATH descriptor will do), with its access
// list where its file system keeps one. Absent, with the reason, when the
// file or its list cannot be looked at.
std::optional<FileAccess> accessOf(int fd, std::error_code* error = nullptr);

// Gives the file open at `fd` exactly `access`'s entries, its access list
// included: what it inherited from its folder's default list goes. Its
// owner and group are not changed. Where no list can be written (a file
// system without them, a share that keeps them read-only), one without
// named entries gets its mode bits alone; one with them is refused.
[[nodiscard]] std::error_code setAccess(int fd, const FileAccess& access);

// Whether the kernel grants `reader` all of `wanted` on a file of `access`:
// the owner's entry for its owner, else that user's named entry, else the
// entries of the groups they are in (one that grants it is enough; being
// in one that does not keeps them from the others' entry), else the
// others' entry.
bool grants(const FileAccess& access, const FileReader& reader, unsigned wanted);

// Whether no one but its owner may read a file of `access` (root aside).
bool onlyItsOwnerReads(const FileAccess& access);

// Who besides `me` and root has `right` on a file of `access`, for a
// message: "every user", "the group staff", "alice"; empty when no one.
std::string whoElseMay(const FileAccess& access, uid_t me, AccessRight right);

// A user's own rights: their group and every group they are a member of;
// a user the system does not list has only their own.
FileReader userReader(uid_t uid);

// The user's login name, or "user <number>" where there is none; the
// group's name likewise.
std::string userName(uid_t uid);
std::string groupName(gid_t gid);

}  // namespace ondaline::platform
