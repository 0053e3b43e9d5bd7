#include "platform/LockWait.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <functional>
#include <sys/file.h>
#include <thread>

namespace Platform {

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// How long a waiter sleeps between two tries.
constexpr auto kRetryInterval = 5ms;

enum class Try {
    Had,
    Held,     // held by another: worth trying again
    Hopeless, // not to be had by waiting
};

// Tries until the lock is had, waiting is hopeless or the deadline passes.
bool tryUntil(Deadline deadline, const std::function<Try()> &attempt)
{
    for (;;) {
        const Try result = attempt();
        if (result != Try::Held)
            return result == Try::Had;
        const auto left = deadline - Clock::now();
        if (left <= Clock::duration::zero())
            return false;
        std::this_thread::sleep_for(std::min<Clock::duration>(left, kRetryInterval));
    }
}

struct flock wholeFile(short type)
{
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    return lock; // from the start to the end, however the file grows
}

// What holds the file's write lock back: a writer, readers alone, or nothing
// any more.
Try writeLockHolder(int fd)
{
    struct flock lock = wholeFile(F_WRLCK);
    if (::fcntl(fd, F_OFD_GETLK, &lock) != 0)
        return Try::Hopeless;
    return lock.l_type == F_RDLCK ? Try::Hopeless : Try::Held;
}

} // namespace

HeldLock &HeldLock::operator=(HeldLock &&other) noexcept
{
    release();
    fd_ = std::exchange(other.fd_, -1);
    return *this;
}

void HeldLock::release()
{
    if (fd_ >= 0)
        ::flock(fd_, LOCK_UN);
    fd_ = -1;
}

HeldLock lockUntil(int fd, int operation, Deadline deadline)
{
    const bool had = tryUntil(deadline, [&] {
        if (::flock(fd, operation | LOCK_NB) == 0)
            return Try::Had;
        return errno == EWOULDBLOCK || errno == EINTR ? Try::Held : Try::Hopeless;
    });
    return had ? HeldLock(fd) : HeldLock();
}

bool writeLockUntil(int fd, Deadline deadline)
{
    return tryUntil(deadline, [&] {
        struct flock lock = wholeFile(F_WRLCK);
        if (::fcntl(fd, F_OFD_SETLK, &lock) == 0)
            return Try::Had;
        if (errno == EINTR)
            return Try::Held;
        return errno == EAGAIN || errno == EACCES ? writeLockHolder(fd) : Try::Hopeless;
    });
}

} // namespace Platform
