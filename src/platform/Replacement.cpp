#include "platform/Replacement.h"

#include "platform/FileBytes.h"
#include "platform/SaveSteps.h"

#include <QRandomGenerator>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace Platform {

namespace {

constexpr mode_t kPrivate = 0600;
// The new file that every saver of a file writes: ".<name>" + this.
constexpr const char *kSharedSuffix = ".saving";
constexpr int kOwnNameAttempts = 16;

// Narrows a new file beside the place to its maker and the file's owner
// alone, whatever the folder's default ACL gave it: with an ACL, the mode's
// group bits are its mask.
bool makePrivate(int fd, uid_t owner)
{
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return false;
    if (::geteuid() == 0 && st.st_uid != owner && ::fchown(fd, owner, gid_t(-1)) != 0)
        return false;
    return ::fchmod(fd, kPrivate) == 0 && ::ftruncate(fd, 0) == 0;
}

} // namespace

Replacement::Replacement(const Place &place, uid_t owner, Deadline deadline)
    : folder_(place.folder.get()), target_(place.name)
{
    if (!takeShared(owner, deadline))
        makeOwn(owner);
}

Replacement::~Replacement()
{
    if (fd_ && !placed_)
        ::unlinkat(folder_, name_.c_str(), 0);
}

bool Replacement::write(const QByteArray &bytes)
{
    const int fd = fd_.get();
    return ::ftruncate(fd, 0) == 0 && writeAt0(fd, bytes) == bytes.size() && syncFile(fd) == 0;
}

bool Replacement::takeName(bool overAFile)
{
    int result = overAFile ? ::renameat(folder_, name_.c_str(), folder_, target_.c_str())
                           : ::renameat2(folder_, name_.c_str(), folder_, target_.c_str(), RENAME_NOREPLACE);
    // A file system that cannot refuse to replace: the name was free a moment ago.
    if (result != 0 && !overAFile && errno == EINVAL)
        result = ::renameat(folder_, name_.c_str(), folder_, target_.c_str());
    placed_ = result == 0;
    return placed_;
}

// The shared name: opened (made where missing) only when it is a file of
// this user's or the owner's with no other name, and written only once its
// lock is had and the name still leads to it. A saver that had it before
// took it into place, so then the name is tried again.
bool Replacement::takeShared(uid_t owner, Deadline deadline)
{
    const std::string shared = '.' + target_ + kSharedSuffix;
    for (;;) {
        Fd fd(::openat(folder_, shared.c_str(), O_RDWR | O_CREAT | SafeOpenFlags, kPrivate));
        struct stat st {};
        if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1 ||
            (st.st_uid != ::geteuid() && st.st_uid != owner))
            return false;
        HeldLock lock = lockUntil(fd.get(), LOCK_EX, deadline);
        if (!lock)
            return false;
        if (nameLeadsTo(folder_, shared.c_str(), st)) {
            // Whatever an interrupted save left in it goes.
            if (!makePrivate(fd.get(), owner))
                return false;
            lock.keep();
            fd_ = std::move(fd);
            name_ = shared;
            return true;
        }
        lock.release();
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
    }
}

// A name of its own, locked at once so that no later save takes it for a
// leftover.
void Replacement::makeOwn(uid_t owner)
{
    for (int attempt = 0; attempt < kOwnNameAttempts && !fd_; ++attempt) {
        name_ = '.' + target_ + '.' + std::to_string(QRandomGenerator::global()->generate());
        fd_ = Fd(::openat(folder_, name_.c_str(), O_RDWR | O_CREAT | O_EXCL | SafeOpenFlags, kPrivate));
        if (!fd_ && errno != EEXIST)
            return;
    }
    if (fd_ && (::flock(fd_.get(), LOCK_EX | LOCK_NB) != 0 || !makePrivate(fd_.get(), owner))) {
        ::unlinkat(folder_, name_.c_str(), 0);
        fd_.reset();
    }
}

} // namespace Platform
