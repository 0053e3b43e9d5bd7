// A file's POSIX ACL as the kernel keeps it in its extended attributes
// ("system.posix_acl_access", and a folder's "system.posix_acl_default"):
// a version word, then per entry its tag, permission bits and user or group.
#pragma once

#include <QByteArray>

#include <cstdint>
#include <optional>
#include <vector>

namespace Platform::Acl {

inline constexpr const char *Access = "system.posix_acl_access";
inline constexpr const char *Default = "system.posix_acl_default";

enum Tag : uint16_t {
    UserObj = 0x01,
    User = 0x02,
    GroupObj = 0x04,
    Group = 0x08,
    Mask = 0x10,
    Other = 0x20,
};
inline constexpr uint16_t Write = 2;

struct Entry {
    uint16_t tag;
    uint16_t perm;
    uint32_t id;
};

// The stored bytes of the ACL `name` of the file open as `fd`, through the
// descriptor, or, for an O_PATH descriptor (which takes no attribute calls),
// through its /proc name: empty when it has none, nothing when it cannot be
// read.
std::optional<QByteArray> attribute(int fd, const char *name);

// The entries of the ACL `attribute` of the file open as `fd` (which may be
// an O_PATH descriptor): empty when it has none, nothing when it cannot be
// read.
std::optional<std::vector<Entry>> read(int fd, const char *attribute);

// The permission bits of the first entry with `tag`, if there is one.
std::optional<uint16_t> permOf(const std::vector<Entry> &acl, Tag tag);

} // namespace Platform::Acl
