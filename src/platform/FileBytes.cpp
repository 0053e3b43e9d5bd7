#include "platform/FileBytes.h"

#include "platform/TrustedFile.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace Platform {

bool readBounded(int fd, QByteArray &bytes)
{
    bytes.resize(qsizetype(MaxFileSize) + 1);
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::pread(fd, bytes.data() + done, size_t(bytes.size() - done), off_t(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            break;
        done += n;
    }
    bytes.resize(done);
    return done <= MaxFileSize;
}

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

bool sameFile(const struct stat &a, const struct stat &b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

bool nameLeadsTo(int folder, const char *name, const struct stat &st)
{
    struct stat now {};
    return ::fstatat(folder, name, &now, AT_SYMLINK_NOFOLLOW) == 0 && sameFile(now, st);
}

Fd openListed(int folder, const char *name, int flags, const std::function<bool(const struct stat &)> &mayOpen,
              struct stat &st)
{
    struct stat listed {};
    if (::fstatat(folder, name, &listed, AT_SYMLINK_NOFOLLOW) != 0 || !mayOpen(listed))
        return Fd();
    Fd fd(::openat(folder, name, flags | SafeOpenFlags));
    if (!fd || ::fstat(fd.get(), &st) != 0 || !sameFile(st, listed) || !mayOpen(st))
        return Fd();
    return fd;
}

} // namespace Platform
