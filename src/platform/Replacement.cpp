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
// How often the shared name is tried again when another saver took it meanwhile.
constexpr int kSharedAttempts = 8;
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

// The shared name: whoever holds the write lock of the file there may write,
// rename or remove it, once the name still leads to it. A file found standing
// there is opened only when the folder shows a regular file of this user's or
// the owner's with no other name; its lock is waited for, as long as a saver
// holds it, and then it is removed (no saver writes it any more: an
// interrupted save left it), so that the new file is made afresh, which no
// other program has open.
bool Replacement::takeShared(uid_t owner, Deadline deadline)
{
    const std::string shared = '.' + target_ + kSharedSuffix;
    const auto mayTakeUp = [owner](const struct stat &st) {
        return S_ISREG(st.st_mode) && st.st_nlink == 1 && (st.st_uid == ::geteuid() || st.st_uid == owner);
    };
    for (int attempt = 0; attempt < kSharedAttempts; ++attempt) {
        struct stat st {};
        Fd fd(::openat(folder_, shared.c_str(), O_RDWR | O_CREAT | O_EXCL | SafeOpenFlags, kPrivate));
        const bool made = bool(fd);
        if (!made && errno == EEXIST)
            fd = openListed(folder_, shared.c_str(), O_RDWR, mayTakeUp, st);
        // A file just made is locked at once or left to whoever was quicker.
        if (!fd || ::fstat(fd.get(), &st) != 0 || !writeLockUntil(fd.get(), made ? Deadline() : deadline))
            return false;
        if (!nameLeadsTo(folder_, shared.c_str(), st))
            continue; // a saver that had it took it into place
        if (!made) {
            ::unlinkat(folder_, shared.c_str(), 0);
            continue;
        }
        if (!makePrivate(fd.get(), owner)) {
            ::unlinkat(folder_, shared.c_str(), 0);
            return false;
        }
        fd_ = std::move(fd);
        name_ = shared;
        return true;
    }
    return false;
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
