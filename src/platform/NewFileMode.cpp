#include "platform/NewFileMode.h"

#include "platform/PosixAcl.h"

#include <QByteArray>
#include <QFile>

namespace Platform {

namespace {

constexpr mode_t kNewFileMode = 0666;
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

} // namespace

mode_t newFileMode(const Place &place)
{
    const auto acl = Acl::read(place.folder.get(), Acl::Default);
    if (!acl || acl->empty())
        return kNewFileMode & ~currentUmask();
    const auto bits = [&](Acl::Tag tag) { return mode_t(Acl::permOf(*acl, tag).value_or(0)); };
    const mode_t group = Acl::permOf(*acl, Acl::Mask) ? bits(Acl::Mask) : bits(Acl::GroupObj);
    return kNewFileMode & ((bits(Acl::UserObj) << 6) | (group << 3) | bits(Acl::Other));
}

} // namespace Platform
