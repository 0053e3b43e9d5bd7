#include "platform/KnownFolders.h"

#include "platform/Accounts.h"
#include "platform/TrustedFile.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <array>
#include <optional>
#include <unistd.h>

namespace Platform {

namespace {

std::array<std::optional<QString>, KnownFolderCount> &overrides()
{
    static std::array<std::optional<QString>, KnownFolderCount> table;
    return table;
}

// Each of the user's folders: where the environment names it, and its name
// under a home of root's own.
struct UserFolderRow {
    UserFolder folder;
    QStandardPaths::StandardLocation location;
    const char *inHome;
};
constexpr UserFolderRow kUserFolders[] = {
    {UserFolder::Config, QStandardPaths::GenericConfigLocation, ".config"},
    {UserFolder::Data, QStandardPaths::GenericDataLocation, ".local/share"},
    {UserFolder::Cache, QStandardPaths::GenericCacheLocation, ".cache"},
    {UserFolder::Documents, QStandardPaths::DocumentsLocation, "Documents"},
    {UserFolder::PublicShare, QStandardPaths::PublicShareLocation, "Public"},
};

const UserFolderRow *rowOf(UserFolder folder)
{
    for (const UserFolderRow &row : kUserFolders)
        if (row.folder == folder)
            return &row;
    return nullptr;
}

QString fromEnvironment(UserFolder folder)
{
    if (folder == UserFolder::Runtime) {
        const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
        return QDir::isAbsolutePath(runtime) ? QDir::cleanPath(runtime) : QString();
    }
    return QStandardPaths::writableLocation(rowOf(folder)->location);
}

// Is this a run as root whose home or user folders are another account's?
bool rootOutsideItsOwnHome()
{
    if (::geteuid() != 0)
        return false;
    if (!isOwnFolder(QDir::homePath()))
        return true;
    for (const UserFolder folder : {UserFolder::Config, UserFolder::Data, UserFolder::Cache, UserFolder::Documents,
                                    UserFolder::PublicShare, UserFolder::Runtime}) {
        const QString path = fromEnvironment(folder);
        if (!path.isEmpty() && !isOwnFolder(path))
            return true;
    }
    return false;
}

QString rootsOwnHome()
{
    const QString home = homeOfAccount(0);
    return QDir::isAbsolutePath(home) ? QDir::cleanPath(home) : QStringLiteral("/root");
}

QString systemFolder(int index)
{
    switch (static_cast<KnownFolder>(index)) {
    case KnownFolder::UserAppData:
        return userFolder(UserFolder::Data);
    case KnownFolder::UserDocuments:
        return userFolder(UserFolder::Documents);
    case KnownFolder::CommonAppData:
        return QStringLiteral("/var/lib");
    case KnownFolder::CommonDocuments:
        return userFolder(UserFolder::PublicShare);
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

QString userFolder(UserFolder folder)
{
    if (!rootOutsideItsOwnHome())
        return fromEnvironment(folder);
    const UserFolderRow *row = rowOf(folder);
    return row ? rootsOwnHome() + QLatin1Char('/') + QLatin1String(row->inHome) : QString();
}

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
    return isUserKnownFolder(index) && makeOwnFolder(path);
}

bool mayKeepFilesIn(const QString &path)
{
    if (::geteuid() != 0)
        return true;
    // Walked name by name as the kernel resolves it: a ".." after a link
    // leads above the link's target, not back beside the link.
    return isOwnFolder(QDir::isAbsolutePath(path) ? path : QDir::currentPath() + QLatin1Char('/') + path);
}

void setKnownFolderOverride(int index, const QString &path)
{
    if (index >= 0 && index < KnownFolderCount)
        overrides()[index] = path;
}

void clearKnownFolderOverrides() { overrides().fill(std::nullopt); }

} // namespace Platform
