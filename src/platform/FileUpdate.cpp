#include "platform/FileUpdate.h"

#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace Platform {

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr const char *kAclAttribute = "system.posix_acl_access";
constexpr mode_t kAnyWrite = S_IWUSR | S_IWGRP | S_IWOTH;
constexpr mode_t kModeBits = 07777;
constexpr auto kWakeInterval = 10ms;

std::chrono::milliseconds &lockWait()
{
    static std::chrono::milliseconds wait = 2000ms;
    return wait;
}

SyncCall &syncCall()
{
    static SyncCall call = nullptr;
    return call;
}

int syncFile(int fd) { return syncCall() ? syncCall()(fd) : ::fsync(fd); }

// The signal that ends a lock wait. Its handler does nothing and is set
// without SA_RESTART, so it interrupts the blocked flock of the thread it is
// sent to.
int wakeSignal()
{
    static const int signal = [] {
        const int number = SIGRTMAX - 3;
        struct sigaction action {};
        action.sa_handler = +[](int) {};
        sigemptyset(&action.sa_mask);
        ::sigaction(number, &action, nullptr);
        return number;
    }();
    return signal;
}

timespec toTimespec(std::chrono::nanoseconds span)
{
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(span);
    return {time_t(seconds.count()), long((span - seconds).count())};
}

// Signals this thread once `after` has passed, and again every few
// milliseconds, in case the first signal came just before the wait began.
class WakeTimer {
public:
    explicit WakeTimer(std::chrono::milliseconds after)
    {
        sigevent event {};
        event.sigev_notify = SIGEV_THREAD_ID;
        event.sigev_signo = wakeSignal();
        event._sigev_un._tid = ::gettid();
        armed_ = ::timer_create(CLOCK_MONOTONIC, &event, &timer_) == 0;
        const itimerspec when{toTimespec(kWakeInterval), toTimespec(std::max(after, 1ms))};
        armed_ = armed_ && ::timer_settime(timer_, 0, &when, nullptr) == 0;
    }
    ~WakeTimer()
    {
        if (armed_)
            ::timer_delete(timer_);
    }
    WakeTimer(const WakeTimer &) = delete;
    WakeTimer &operator=(const WakeTimer &) = delete;
    bool armed() const { return armed_; }

private:
    timer_t timer_{};
    bool armed_ = false;
};

bool lockWithin(int fd, int operation)
{
    if (::flock(fd, operation | LOCK_NB) == 0)
        return true;
    if (errno != EWOULDBLOCK)
        return false;
    const auto deadline = Clock::now() + lockWait();
    const WakeTimer timer(lockWait());
    if (!timer.armed())
        return false;
    while (::flock(fd, operation) != 0)
        if (errno != EINTR || Clock::now() >= deadline)
            return false;
    return true;
}

// Reads the whole file as it is now, up to its present size.
bool readNow(int fd, QByteArray &bytes)
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
        if (n < 0)
            return false;
        if (n == 0)
            break;
        done += n;
    }
    bytes.resize(done);
    return true;
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

bool writeWhole(int fd, const QByteArray &bytes) { return writeAt0(fd, bytes) == bytes.size() && syncFile(fd) == 0; }

// A new file beside the place, removed again unless it took the place's name.
class Neighbour {
public:
    explicit Neighbour(const Place &place) : folder_(place.folder.get())
    {
        for (int attempt = 0; attempt < 16 && !fd_; ++attempt) {
            name_ = '.' + place.name + '.' + std::to_string(QRandomGenerator::global()->generate());
            fd_ = Fd(::openat(folder_, name_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
            if (!fd_ && errno != EEXIST)
                break;
        }
    }
    ~Neighbour()
    {
        if (fd_ && !placed_)
            ::unlinkat(folder_, name_.c_str(), 0);
    }
    Neighbour(const Neighbour &) = delete;
    Neighbour &operator=(const Neighbour &) = delete;

    explicit operator bool() const { return bool(fd_); }
    int fd() const { return fd_.get(); }

    // Takes the name of the place: over the file there, or only where none is.
    bool takeName(const std::string &name, bool overAFile)
    {
        int result = overAFile ? ::renameat(folder_, name_.c_str(), folder_, name.c_str())
                               : ::renameat2(folder_, name_.c_str(), folder_, name.c_str(), RENAME_NOREPLACE);
        // A file system that cannot refuse to replace: the name was free a moment ago.
        if (result != 0 && !overAFile && errno == EINVAL)
            result = ::renameat(folder_, name_.c_str(), folder_, name.c_str());
        placed_ = result == 0;
        return placed_;
    }

private:
    int folder_;
    std::string name_;
    Fd fd_;
    bool placed_ = false;
};

bool sameMode(int fd, mode_t mode)
{
    struct stat st {};
    return ::fstat(fd, &st) == 0 && (st.st_mode & kModeBits) == (mode & kModeBits);
}

// The ACL of `from` on `to`; a file without one makes sure `to` has none
// either (a folder's default ACL may have given it one).
bool copyAcl(int from, int to)
{
    const ssize_t size = ::fgetxattr(from, kAclAttribute, nullptr, 0);
    if (size < 0) {
        if (errno != ENODATA && errno != ENOTSUP)
            return false;
        return ::fremovexattr(to, kAclAttribute) == 0 || errno == ENODATA || errno == ENOTSUP;
    }
    QByteArray acl(qsizetype(size), '\0');
    const ssize_t got = ::fgetxattr(from, kAclAttribute, acl.data(), size_t(acl.size()));
    return got == size && ::fsetxattr(to, kAclAttribute, acl.constData(), size_t(acl.size()), 0) == 0;
}

// Gives `to` the owner, group, mode and ACL of `from`; false where this user
// may not (only root may give a file away).
bool takeOver(int from, int to)
{
    struct stat old {}, now {};
    if (::fstat(from, &old) != 0 || ::fstat(to, &now) != 0)
        return false;
    if ((old.st_uid != now.st_uid || old.st_gid != now.st_gid) && ::fchown(to, old.st_uid, old.st_gid) != 0)
        return false;
    if (!sameMode(to, old.st_mode) && ::fchmod(to, old.st_mode & kModeBits) != 0)
        return false;
    return copyAcl(from, to);
}

enum class Replacement { Made, Impossible, Failed };

Replacement replaceBeside(const Place &place, const QByteArray &bytes)
{
    Neighbour next(place);
    if (!next || !takeOver(place.file.get(), next.fd()))
        return Replacement::Impossible;
    if (!writeWhole(next.fd(), bytes))
        return Replacement::Failed;
    return next.takeName(place.name, true) ? Replacement::Made : Replacement::Impossible;
}

// Room for the larger of the two contents, so that a full disk refuses the
// rewrite before a byte changes; a file system that cannot reserve room says
// so and the write itself decides.
bool reserveRoom(int fd, qsizetype bytes)
{
    return bytes == 0 || ::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, off_t(bytes)) == 0 || errno == EOPNOTSUPP ||
           errno == ENOSYS;
}

} // namespace

QByteArray readFound(Place &place)
{
    if (place.found != Found::File)
        return {};
    const int fd = place.file.get();
    const bool locked = lockWithin(fd, LOCK_SH); // without it once the wait is over
    QByteArray bytes;
    if (!readNow(fd, bytes))
        bytes.clear();
    if (locked)
        ::flock(fd, LOCK_UN);
    return bytes;
}

Saved saveFound(Place &place, const Edit &edit)
{
    const int fd = place.file.get();
    if (place.found != Found::File || !place.writable || !(place.st.st_mode & kAnyWrite) ||
        !lockWithin(fd, LOCK_EX))
        return Saved::Refused;
    if (!stillInPlace(place))
        return Saved::Moved;
    QByteArray old;
    if (!readNow(fd, old))
        return Saved::Refused;
    const QByteArray bytes = edit(old);
    switch (replaceBeside(place, bytes)) {
    case Replacement::Made:
        return Saved::Yes;
    case Replacement::Failed:
        return Saved::Refused;
    case Replacement::Impossible:
        break;
    }
    return rewriteInPlace(fd, old, bytes) ? Saved::Yes : Saved::Refused;
}

Saved createFound(Place &place, const QByteArray &bytes)
{
    if (place.found != Found::Missing)
        return Saved::Refused;
    Neighbour next(place);
    if (!next || !writeWhole(next.fd(), bytes))
        return Saved::Refused;
    if (next.takeName(place.name, false))
        return Saved::Yes;
    return errno == EEXIST ? Saved::Moved : Saved::Refused;
}

bool folderTakesNewFiles(const Place &place)
{
    return place.folder && ::faccessat(place.folder.get(), ".", W_OK | X_OK, AT_EACCESS) == 0;
}

bool rewriteInPlace(int fd, const QByteArray &old, const QByteArray &bytes)
{
    if (!reserveRoom(fd, std::max(old.size(), bytes.size())))
        return false;
    if (writeAt0(fd, bytes) == bytes.size() && ::ftruncate(fd, off_t(bytes.size())) == 0 && syncFile(fd) == 0)
        return true;
    // However far the failure got, every old byte goes back.
    (void)writeAt0(fd, old);
    (void)::ftruncate(fd, off_t(old.size()));
    (void)syncFile(fd);
    return false;
}

void setSyncCall(SyncCall call) { syncCall() = call; }

void setLockWait(std::chrono::milliseconds wait) { lockWait() = wait; }

} // namespace Platform
