// A POSIX access ACL as the kernel keeps it in a file's
// "system.posix_acl_access" attribute, built and read here without a library
// or the acl tools: a little-endian version word (2), then per entry its tag,
// its permission bits and its user or group id. Entries go in the order the
// kernel wants: by tag, then by id.
//
//   TestSupport::setAcl(path, {{AclUserObj, 6}, {AclUser, 6, 1}, {AclGroupObj, 4},
//                              {AclMask, 6}, {AclOther, 4}});   // as setfacl -m u:daemon:rw
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

#include <cstdint>
#include <initializer_list>
#include <sys/xattr.h>

namespace TestSupport {

enum AclTag : uint16_t {
    AclUserObj = 0x01,
    AclUser = 0x02,
    AclGroupObj = 0x04,
    AclGroup = 0x08,
    AclMask = 0x10,
    AclOther = 0x20,
};

struct AclEntry {
    uint16_t tag;
    uint16_t perm; // 4 read, 2 write, 1 execute
    uint32_t id = 0xFFFFFFFF; // none, for the owner's, group's, mask and other entries
};

inline constexpr const char *AclAttribute = "system.posix_acl_access";

inline void appendLittleEndian(QByteArray &bytes, uint32_t value, int size)
{
    for (int i = 0; i < size; ++i)
        bytes += char((value >> (8 * i)) & 0xFF);
}

inline QByteArray aclValue(std::initializer_list<AclEntry> entries)
{
    QByteArray bytes;
    appendLittleEndian(bytes, 2, 4);
    for (const AclEntry &e : entries) {
        appendLittleEndian(bytes, e.tag, 2);
        appendLittleEndian(bytes, e.perm, 2);
        appendLittleEndian(bytes, e.id, 4);
    }
    return bytes;
}

// Sets the ACL (which also sets the mode's bits from it); false when refused.
inline bool setAcl(const QString &path, std::initializer_list<AclEntry> entries)
{
    const QByteArray value = aclValue(entries);
    return ::setxattr(QFile::encodeName(path).constData(), AclAttribute, value.constData(), size_t(value.size()), 0) ==
           0;
}

// The ACL attribute as stored; empty when the file has none.
inline QByteArray aclOf(const QString &path)
{
    QByteArray value(256, '\0');
    const ssize_t n = ::lgetxattr(QFile::encodeName(path).constData(), AclAttribute, value.data(), size_t(value.size()));
    return n > 0 ? value.left(n) : QByteArray();
}

} // namespace TestSupport
