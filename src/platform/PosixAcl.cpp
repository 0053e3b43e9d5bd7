#include "platform/PosixAcl.h"

#include <QByteArray>

#include <cerrno>
#include <string>
#include <sys/xattr.h>

namespace Platform::Acl {

namespace {

constexpr uint32_t kVersion = 2;
constexpr int kHeaderSize = 4;
constexpr int kEntrySize = 8;

uint32_t littleEndian(const QByteArray &bytes, int at, int size)
{
    uint32_t value = 0;
    for (int i = size - 1; i >= 0; --i)
        value = (value << 8) | uint8_t(bytes[at + i]);
    return value;
}

} // namespace

std::optional<QByteArray> attribute(int fd, const char *name)
{
    const std::string viaProc = "/proc/self/fd/" + std::to_string(fd);
    for (int attempt = 0; attempt < 4; ++attempt) {
        ssize_t size = ::fgetxattr(fd, name, nullptr, 0);
        const bool throughProc = size < 0 && errno == EBADF;
        if (throughProc)
            size = ::getxattr(viaProc.c_str(), name, nullptr, 0);
        if (size < 0)
            return errno == ENODATA || errno == ENOTSUP ? std::optional<QByteArray>(QByteArray()) : std::nullopt;
        QByteArray bytes(qsizetype(size), '\0');
        const ssize_t got = throughProc ? ::getxattr(viaProc.c_str(), name, bytes.data(), size_t(size))
                                        : ::fgetxattr(fd, name, bytes.data(), size_t(size));
        if (got >= 0) {
            bytes.resize(qsizetype(got));
            return bytes;
        }
        if (errno != ERANGE) // grew meanwhile: ask again
            return std::nullopt;
    }
    return std::nullopt;
}

std::optional<std::vector<Entry>> read(int fd, const char *name)
{
    const auto bytes = attribute(fd, name);
    if (!bytes)
        return std::nullopt;
    std::vector<Entry> entries;
    if (bytes->isEmpty())
        return entries;
    if (bytes->size() < kHeaderSize || (bytes->size() - kHeaderSize) % kEntrySize != 0 ||
        littleEndian(*bytes, 0, 4) != kVersion)
        return std::nullopt;
    for (int at = kHeaderSize; at < bytes->size(); at += kEntrySize)
        entries.push_back({uint16_t(littleEndian(*bytes, at, 2)), uint16_t(littleEndian(*bytes, at + 2, 2)),
                           littleEndian(*bytes, at + 4, 4)});
    return entries;
}

std::optional<uint16_t> permOf(const std::vector<Entry> &acl, Tag tag)
{
    for (const Entry &e : acl)
        if (e.tag == tag)
            return e.perm;
    return std::nullopt;
}

} // namespace Platform::Acl
