#include "platform/KnownFolders.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <array>
#include <optional>

namespace Platform {

namespace {

std::array<std::optional<QString>, KnownFolderCount> &overrides()
{
    static std::array<std::optional<QString>, KnownFolderCount> table;
    return table;
}

QString systemFolder(int index)
{
    switch (static_cast<KnownFolder>(index)) {
    case KnownFolder::UserAppData:
        return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    case KnownFolder::UserDocuments:
        return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    case KnownFolder::CommonAppData:
        return QStringLiteral("/var/lib");
    case KnownFolder::CommonDocuments:
        return QStandardPaths::writableLocation(QStandardPaths::PublicShareLocation);
    }
    return {};
}

QString withoutTrailingSeparator(QString path)
{
    path = QDir::fromNativeSeparators(path);
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    return path;
}

// The current user's own folders, which a new account may lack.
bool isUserKnownFolder(int index)
{
    switch (static_cast<KnownFolder>(index)) {
    case KnownFolder::UserAppData:
    case KnownFolder::UserDocuments:
    case KnownFolder::CommonDocuments: // the user's public share folder here
        return true;
    case KnownFolder::CommonAppData:
        return false;
    }
    return false;
}

} // namespace

QString knownFolderPath(int index)
{
    if (index < 0 || index >= KnownFolderCount)
        return {};
    const auto &o = overrides()[index];
    return withoutTrailingSeparator(o ? *o : systemFolder(index));
}

bool ensureKnownFolder(int index)
{
    const QString path = knownFolderPath(index);
    if (path.isEmpty())
        return false;
    if (QFileInfo(path).isDir())
        return true;
    return isUserKnownFolder(index) && ensureOwnerOnlyFolder(path);
}

bool ensureOwnerOnlyFolder(const QString &path)
{
    if (QFileInfo(path).isDir())
        return true;
    // The missing levels, outermost first: each is made owner-only, which
    // QDir::mkpath cannot do.
    QStringList missing;
    for (QString level = QDir::cleanPath(path); !QFileInfo::exists(level); level = QFileInfo(level).path()) {
        missing.prepend(level);
        if (QFileInfo(level).path() == level)
            break;
    }
    const auto ownerOnly = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
    for (const QString &level : missing)
        if (!QDir().mkdir(level, ownerOnly))
            return false;
    return QFileInfo(path).isDir();
}

void setKnownFolderOverride(int index, const QString &path)
{
    if (index >= 0 && index < KnownFolderCount)
        overrides()[index] = path;
}

void clearKnownFolderOverrides() { overrides().fill(std::nullopt); }

} // namespace Platform
