#include "platform/SaveWhole.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
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

// Writes bytes at the file's start; returns how many reached the file.
qsizetype writeAt0(int fd, const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::pwrite(fd, bytes.constData() + done, size_t(bytes.size() - done), off_t(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += n;
    }
    return done;
}

bool readAll(int fd, QByteArray &bytes)
{
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return false;
    bytes.resize(qsizetype(st.st_size));
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::pread(fd, bytes.data() + done, size_t(bytes.size() - done), off_t(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

bool rewriteOpened(int fd, const QByteArray &bytes)
{
    QByteArray old;
    if (!readAll(fd, old))
        return false;
    // A full disk refuses the room here, before the file changes; a file
    // system that cannot reserve room says so and the write itself decides.
    const off_t room = off_t(std::max(old.size(), bytes.size()));
    if (room > 0 && ::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, room) != 0 && errno != EOPNOTSUPP && errno != ENOSYS)
        return false;
    const qsizetype written = writeAt0(fd, bytes);
    if (written == bytes.size() && ::ftruncate(fd, off_t(bytes.size())) == 0 && ::fsync(fd) == 0)
        return true;
    // Only the bytes the failed write reached changed: put them back.
    (void)writeAt0(fd, old.left(std::min(std::max(written, qsizetype(0)), old.size())));
    (void)::ftruncate(fd, off_t(old.size()));
    (void)::fsync(fd);
    return false;
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

bool isLinkRewrittenInPlace(const QString &path)
{
    if (!QFileInfo(path).isSymLink())
        return false;
    const QString file = replacedFile(path);
    struct stat st {};
    return ::stat(QFile::encodeName(file).constData(), &st) == 0 && S_ISREG(st.st_mode) && !isReadOnlyFile(file)
           && !canBeReplaced(path);
}

bool rewriteInPlace(const QString &path, const QByteArray &bytes)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = rewriteOpened(fd, bytes);
    ::close(fd);
    return ok;
}

} // namespace Platform
