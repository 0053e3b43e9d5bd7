#include "platform/NewFileMode.h"

#include "platform/PosixAcl.h"

#include <QByteArray>
#include <QFile>

namespace Platform {

namespace {

constexpr mode_t kNewFileMode = 0666;
constexpr mode_t kOwnerOnlyMode = 0600;
constexpr mode_t kUsualUmask = 022;

// This process's umask, read without setting it (umask() can only be read by
// changing it, which other threads would see).
mode_t currentUmask()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : status.readAll().split('\n'))
            if (line.startsWith("Umask:"))
                return mode_t(line.mid(6).trimmed().toUInt(nullptr, 8)) & 0777;
    }
    return kUsualUmask;
}

// The mode a plain new file in the place's folder would have had: as its
// default ACL gives it, else as the umask leaves it.
mode_t plainNewFileMode(const Place &place)
{
    const auto acl = Acl::read(place.folder.get(), Acl::Default);
    if (!acl || acl->empty())
        return kNewFileMode & ~currentUmask();
    const auto bits = [&](Acl::Tag tag) { return mode_t(Acl::permOf(*acl, tag).value_or(0)); };
    const mode_t group = Acl::permOf(*acl, Acl::Mask) ? bits(Acl::Mask) : bits(Acl::GroupObj);
    return kNewFileMode & ((bits(Acl::UserObj) << 6) | (group << 3) | bits(Acl::Other));
}

} // namespace

mode_t newFileMode(const Place &place, NewFileAccess access)
{
    if (access == NewFileAccess::OwnerOnly)
        return kOwnerOnlyMode & ~currentUmask();
    // A file every account may write is no settings file: no umask makes one.
    return plainNewFileMode(place) & ~mode_t(S_IWOTH);
}

} // namespace Platform
