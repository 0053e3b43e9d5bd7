#include "platform/SaveWhole.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace Platform {

namespace {

constexpr mode_t kPermissionBits = 0777;
constexpr int kMaxLinkDepth = 40; // as the kernel follows
constexpr mode_t kAnyWrite = S_IWUSR | S_IWGRP | S_IWOTH;

// The temporary file gains an owner write bit the target may lack; it takes
// the target's bits before it takes the target's place. A file system without
// such bits (a FAT stick) refuses the change, which costs nothing there.
void keepPermissions(QSaveFile &file)
{
    struct stat st {};
    if (::stat(QFile::encodeName(file.fileName()).constData(), &st) == 0)
        (void)::fchmod(file.handle(), st.st_mode & kPermissionBits);
}

} // namespace

bool commitWhole(QSaveFile &file, const QByteArray &bytes)
{
    if (file.write(bytes) == bytes.size() && file.flush()) {
        keepPermissions(file);
        return file.commit();
    }
    file.cancelWriting();
    file.commit(); // refused after the cancel: discards the temporary file
    return false;
}

bool isReadOnlyFile(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat st {};
    if (::stat(name.constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    return (st.st_mode & kAnyWrite) == 0 || ::access(name.constData(), W_OK) != 0;
}

bool folderRefusesNewFiles(const QString &folder)
{
    if (::access(QFile::encodeName(folder).constData(), W_OK | X_OK) == 0)
        return false;
    return errno == EACCES || errno == EPERM || errno == EROFS;
}

QString replacedFile(const QString &path)
{
    QString file = path;
    for (int depth = 0; depth < kMaxLinkDepth && QFileInfo(file).isSymLink(); ++depth)
        file = QFileInfo(file).symLinkTarget();
    return file;
}

bool canBeReplaced(const QString &path)
{
    const QString file = replacedFile(path);
    const QString folder = QFileInfo(file).absolutePath();
    if (folderRefusesNewFiles(folder) || isReadOnlyFile(file))
        return false;
    struct stat folderStat {}, fileStat {};
    if (::stat(QFile::encodeName(folder).constData(), &folderStat) != 0 || !(folderStat.st_mode & S_ISVTX) ||
        ::stat(QFile::encodeName(file).constData(), &fileStat) != 0)
        return true;
    const uid_t me = ::geteuid();
    return me == 0 || fileStat.st_uid == me || folderStat.st_uid == me;
}

} // namespace Platform
