#include "platform/SingleInstance.h"

#include "platform/KnownFolders.h"
#include "platform/Prompter.h"
#include "platform/TrustedFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace Platform {

namespace {

constexpr int kCreateFlags = O_RDWR | O_CREAT | O_EXCL | SafeOpenFlags;

// Is the place's folder one where only this user (and root) may make a file?
bool liesInOwnFolder(const Place &place)
{
    return (place.found == Found::File || place.found == Found::Missing) && place.folderSt.st_uid == ::geteuid() &&
           !place.folderOpen;
}

QString cacheFolder()
{
    const QString cacheHome = userFolder(UserFolder::Cache);
    return QDir::cleanPath(cacheHome + QLatin1Char('/') + QCoreApplication::organizationName() + QLatin1Char('/') +
                           applicationTitle());
}

} // namespace

SingleInstance::SingleInstance(const QString &name, const QString &folder)
{
    QString fileName = name;
    fileName.replace(QLatin1Char('/'), QLatin1Char('_'));
    fileName += QStringLiteral(".lock");
    if (!folder.isEmpty()) {
        lockIn(folder, fileName);
        return;
    }
    const QString runtime = userFolder(UserFolder::Runtime);
    if (!runtime.isEmpty() && lockIn(runtime, fileName))
        return;
    const QString own = cacheFolder();
    makeOwnFolder(own);
    lockIn(own, fileName);
}

// Opens the lock file in `folder` (one of the user's own), replacing one that
// is not the user's, and takes its lock.
bool SingleInstance::lockIn(const QString &folder, const QString &fileName)
{
    m_path = folder + QLatin1Char('/') + fileName;
    const QByteArray name = QFile::encodeName(fileName);
    for (int attempt = 0; attempt < 2 && m_fd < 0; ++attempt) {
        Place place = findFile(m_path, Opening::ForWriting, Trust::UserAlone);
        if (!liesInOwnFolder(place))
            return false;
        if (place.found == Found::File && place.st.st_uid == ::geteuid() && place.writable) {
            m_fd = ::fcntl(place.file.get(), F_DUPFD_CLOEXEC, 0);
            break;
        }
        if (place.found == Found::File)
            ::unlinkat(place.folder.get(), name.constData(), 0);
        m_fd = ::openat(place.folder.get(), name.constData(), kCreateFlags, 0600);
        if (m_fd < 0 && errno != EEXIST)
            return false;
    }
    if (m_fd < 0)
        return false;
    int rc;
    do {
        rc = ::flock(m_fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc == 0) {
        m_state = State::Acquired;
        return true;
    }
    m_state = errno == EWOULDBLOCK ? State::Busy : State::Unavailable;
    ::close(m_fd);
    m_fd = -1;
    return true;
}

SingleInstance::~SingleInstance()
{
    // Closing the descriptor drops the lock; the file stays for the next start.
    if (m_fd >= 0)
        ::close(m_fd);
}

} // namespace Platform
