#include "platform/file_rights/file_access.h"

#include <acl/libacl.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/acl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>

namespace ondaline::platform {

namespace {

std::error_code lastError() { return {errno, std::generic_category()}; }

struct AclFree {
    void operator()(void* object) const { ::acl_free(object); }
};
using Acl = std::unique_ptr<std::remove_pointer_t<acl_t>, AclFree>;

unsigned rightsOf(acl_entry_t entry)
{
    acl_permset_t set = nullptr;
    if (::acl_get_permset(entry, &set) != 0) return 0;
    unsigned rights = 0;
    if (::acl_get_perm(set, ACL_READ) == 1) rights |= kMayRead;
    if (::acl_get_perm(set, ACL_WRITE) == 1) rights |= kMayWrite;
    if (::acl_get_perm(set, ACL_EXECUTE) == 1) rights |= kMaySearch;
    return rights;
}

// The file open at `fd` as a path, for an O_PATH descriptor, which has no
// extended attributes of its own; empty for any other.
std::string pathFor(int fd)
{
    const int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && (flags & O_PATH) != 0 ? "/proc/self/fd/" + std::to_string(fd) : std::string{};
}

// Takes the entries of `acl` into `access`, whose owner, group and mode
// bits are already those of the file.
bool readEntries(acl_t acl, FileAccess& access)
{
    unsigned mask = kMayRead | kMayWrite | kMaySearch;
    unsigned groupEntry = access.groupRights;
    acl_entry_t entry = nullptr;
    for (int which = ACL_FIRST_ENTRY;; which = ACL_NEXT_ENTRY) {
        const int got = ::acl_get_entry(acl, which, &entry);
        if (got == 0) break;
        if (got < 0) return false;
        acl_tag_t tag = ACL_UNDEFINED_TAG;
        if (::acl_get_tag_type(entry, &tag) != 0) return false;
        const unsigned rights = rightsOf(entry);
        switch (tag) {
        case ACL_USER_OBJ:
            access.ownerRights = rights;
            break;
        case ACL_GROUP_OBJ:
            groupEntry = rights;
            break;
        case ACL_OTHER:
            access.othersRights = rights;
            break;
        case ACL_MASK:
            mask = rights;
            break;
        case ACL_USER: {
            const auto* id = static_cast<const uid_t*>(::acl_get_qualifier(entry));
            if (!id) return false;
            access.users.push_back({*id, rights});
            ::acl_free(const_cast<uid_t*>(id));
            break;
        }
        case ACL_GROUP: {
            const auto* id = static_cast<const gid_t*>(::acl_get_qualifier(entry));
            if (!id) return false;
            access.groups.push_back({*id, rights});
            ::acl_free(const_cast<gid_t*>(id));
            break;
        }
        default:
            return false;
        }
    }
    access.groupRights = groupEntry & mask;
    for (auto& user : access.users) user.rights &= mask;
    for (auto& group : access.groups) group.rights &= mask;
    return true;
}

bool setRights(acl_entry_t entry, unsigned rights)
{
    acl_permset_t set = nullptr;
    if (::acl_get_permset(entry, &set) != 0 || ::acl_clear_perms(set) != 0) return false;
    if ((rights & kMayRead) && ::acl_add_perm(set, ACL_READ) != 0) return false;
    if ((rights & kMayWrite) && ::acl_add_perm(set, ACL_WRITE) != 0) return false;
    if ((rights & kMaySearch) && ::acl_add_perm(set, ACL_EXECUTE) != 0) return false;
    return ::acl_set_permset(entry, set) == 0;
}

bool addEntry(Acl& acl, acl_tag_t tag, const void* id, unsigned rights)
{
    acl_t raw = acl.get();
    acl_entry_t entry = nullptr;
    const bool added = ::acl_create_entry(&raw, &entry) == 0;
    if (raw != acl.get()) {
        (void)acl.release();
        acl.reset(raw);
    }
    return added && ::acl_set_tag_type(entry, tag) == 0 && (!id || ::acl_set_qualifier(entry, id) == 0) &&
           setRights(entry, rights);
}

mode_t modeOf(const FileAccess& access)
{
    return static_cast<mode_t>((access.ownerRights << 6) | (access.groupRights << 3) | access.othersRights);
}

bool isMember(const FileReader& reader, gid_t group)
{
    return reader.gid == group || std::find(reader.groups.begin(), reader.groups.end(), group) != reader.groups.end();
}

}  // namespace

FileAccess FileAccess::ofMode(const struct stat& file)
{
    return {.owner = file.st_uid,
            .group = file.st_gid,
            .ownerRights = (file.st_mode >> 6) & 7u,
            .groupRights = (file.st_mode >> 3) & 7u,
            .othersRights = file.st_mode & 7u,
            .users = {},
            .groups = {}};
}

FileAccess FileAccess::ownerOnly(uid_t owner, gid_t group, unsigned ownerRights)
{
    return {.owner = owner,
            .group = group,
            .ownerRights = ownerRights,
            .groupRights = 0,
            .othersRights = 0,
            .users = {},
            .groups = {}};
}

std::optional<FileAccess> accessOf(int fd, std::error_code* error)
{
    struct stat file {};
    if (::fstat(fd, &file) != 0) {
        if (error) *error = lastError();
        return std::nullopt;
    }
    FileAccess access = FileAccess::ofMode(file);
    // A file with no list beyond its mode bits is judged by them alone.
    const std::string path = pathFor(fd);
    const int extended = path.empty() ? ::acl_extended_fd(fd) : ::acl_extended_file(path.c_str());
    if (extended == 0 || (extended < 0 && (errno == ENOTSUP || errno == ENOSYS))) return access;
    const Acl acl(path.empty() ? ::acl_get_fd(fd) : ::acl_get_file(path.c_str(), ACL_TYPE_ACCESS));
    if (!acl) {
        if (errno == ENOTSUP || errno == ENOSYS) return access;
        if (error) *error = lastError();
        return std::nullopt;
    }
    if (!readEntries(acl.get(), access)) {
        if (error) *error = std::make_error_code(std::errc::invalid_argument);
        return std::nullopt;
    }
    return access;
}

std::error_code setAccess(int fd, const FileAccess& access)
{
    const mode_t mode = modeOf(access);
    if (!access.hasNamedEntries()) {
        // The mode bits say it all; a list inherited from the folder goes
        // with a minimal list made of them.
        const Acl minimal(::acl_from_mode(mode));
        if (minimal && ::acl_set_fd(fd, minimal.get()) == 0) return {};
        // A file system without lists, or a share that keeps them
        // read-only: there the mode bits are all that can be given.
        return ::fchmod(fd, mode) == 0 ? std::error_code{} : lastError();
    }
    Acl acl(::acl_init(static_cast<int>(3 + access.users.size() + access.groups.size() + 1)));
    if (!acl) return lastError();
    bool built = addEntry(acl, ACL_USER_OBJ, nullptr, access.ownerRights) &&
                 addEntry(acl, ACL_GROUP_OBJ, nullptr, access.groupRights) &&
                 addEntry(acl, ACL_OTHER, nullptr, access.othersRights);
    for (const auto& user : access.users) built = built && addEntry(acl, ACL_USER, &user.id, user.rights);
    for (const auto& group : access.groups) built = built && addEntry(acl, ACL_GROUP, &group.id, group.rights);
    acl_t raw = acl.get();
    const bool masked = built && ::acl_calc_mask(&raw) == 0;
    if (raw != acl.get()) {
        (void)acl.release();
        acl.reset(raw);
    }
    if (!masked) return std::make_error_code(std::errc::invalid_argument);
    if (::acl_valid(acl.get()) != 0) return std::make_error_code(std::errc::invalid_argument);
    if (::acl_set_fd(fd, acl.get()) != 0) {
        if (errno == ENOTSUP || errno == ENOSYS) return std::make_error_code(std::errc::not_supported);
        return lastError();
    }
    return {};
}

bool grants(const FileAccess& access, const FileReader& reader, unsigned wanted)
{
    auto gives = [wanted](unsigned rights) { return (rights & wanted) == wanted; };
    if (reader.uid == access.owner) return gives(access.ownerRights);
    for (const auto& user : access.users)
        if (user.id == reader.uid) return gives(user.rights);
    bool inAGroup = false;
    if (isMember(reader, access.group)) {
        if (gives(access.groupRights)) return true;
        inAGroup = true;
    }
    for (const auto& group : access.groups) {
        if (!isMember(reader, group.id)) continue;
        if (gives(group.rights)) return true;
        inAGroup = true;
    }
    return !inAGroup && gives(access.othersRights);
}

bool onlyItsOwnerReads(const FileAccess& access)
{
    auto reads = [](unsigned rights) { return (rights & kMayRead) != 0; };
    return !reads(access.groupRights) && !reads(access.othersRights) &&
           std::none_of(access.users.begin(), access.users.end(),
                        [&](const auto& user) { return reads(user.rights); }) &&
           std::none_of(access.groups.begin(), access.groups.end(),
                        [&](const auto& group) { return reads(group.rights); });
}

std::string whoElseMay(const FileAccess& access, uid_t me, AccessRight right)
{
    if (access.othersRights & right) return "every user";
    if (access.groupRights & right) return "the group " + groupName(access.group);
    for (const auto& user : access.users)
        if ((user.rights & right) && user.id != me && user.id != 0) return userName(user.id);
    for (const auto& group : access.groups)
        if (group.rights & right) return "the group " + groupName(group.id);
    return {};
}

FileReader userReader(uid_t uid)
{
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) != 0 || !found)
        return {uid, kNoGroup, {}, userName(uid)};
    int count = 64;
    std::vector<gid_t> groups(static_cast<std::size_t>(count));
    if (::getgrouplist(found->pw_name, found->pw_gid, groups.data(), &count) < 0) {
        groups.resize(static_cast<std::size_t>(count));
        if (::getgrouplist(found->pw_name, found->pw_gid, groups.data(), &count) < 0)
            return {uid, found->pw_gid, {}, found->pw_name};
    }
    groups.resize(static_cast<std::size_t>(count));
    return FileReader{uid, found->pw_gid, std::move(groups), found->pw_name};
}

std::string userName(uid_t uid)
{
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_name)
        return found->pw_name;
    return "user " + std::to_string(uid);
}

std::string groupName(gid_t gid)
{
    std::vector<char> buffer(16384);
    group entry{};
    group* found = nullptr;
    if (::getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->gr_name)
        return found->gr_name;
    return "group " + std::to_string(gid);
}

}  // namespace ondaline::platform
