#include "platform/SingleInstance.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace Platform {

QString SingleInstance::defaultFolder()
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath();
    return folder;
}

SingleInstance::SingleInstance(const QString &name, const QString &folder)
{
    QString safeName = name;
    safeName.replace(QLatin1Char('/'), QLatin1Char('_'));
    m_path = (folder.isEmpty() ? defaultFolder() : folder) + QLatin1Char('/') + safeName + QStringLiteral(".lock");

    const QByteArray path = QFile::encodeName(m_path);
    m_fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (m_fd < 0)
        return;
    int rc;
    do {
        rc = ::flock(m_fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc == 0) {
        m_state = State::Acquired;
        return;
    }
    m_state = errno == EWOULDBLOCK ? State::Busy : State::Unavailable;
    ::close(m_fd);
    m_fd = -1;
}

SingleInstance::~SingleInstance()
{
    // Closing the descriptor drops the lock; the file stays for the next start.
    if (m_fd >= 0)
        ::close(m_fd);
}

} // namespace Platform
