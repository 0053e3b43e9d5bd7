#include "platform/FileUpdate.h"

#include "platform/Accounts.h"
#include "platform/PosixAcl.h"

#include <QFile>
#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

namespace Platform {

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr mode_t kAnyWrite = S_IWUSR | S_IWGRP | S_IWOTH;
constexpr mode_t kModeBits = 07777;
constexpr mode_t kPrivate = 0600;
constexpr mode_t kNewFileMode = 0666;
constexpr mode_t kUsualUmask = 022;
// How often a save takes up what a saver that did not wait for it put in place.
constexpr int kRereads = 4;
// The new file that every saver of a file writes: ".<name>" + this.
constexpr const char *kSharedSuffix = ".saving";

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

SaveStepCall &saveStepCall()
{
    static SaveStepCall call = nullptr;
    return call;
}

int syncFile(int fd) { return syncCall() ? syncCall()(fd) : ::fsync(fd); }

void reached(SaveStep step, int fd)
{
    if (saveStepCall())
        saveStepCall()(step, fd);
}

bool sameFile(const struct stat &a, const struct stat &b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// Reads the whole file from its start; false when it cannot be read or is
// larger than any settings file.
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

bool isMember(gid_t gid)
{
    if (gid == ::getegid())
        return true;
    std::vector<gid_t> groups(size_t(std::max(::getgroups(0, nullptr), 0)));
    const int count = ::getgroups(int(groups.size()), groups.data());
    return count >= 0 && std::find(groups.begin(), groups.begin() + count, gid) != groups.begin() + count;
}

// Whose the file is once saved: its owner's, but where root saves a file of
// its own in a folder of another account (left there by an earlier run as
// root), that account's, so that its next run keeps using the file.
uid_t ownerAfterSave(const Place &place)
{
    const uid_t folderOwner = place.folderSt.st_uid;
    return ::geteuid() == 0 && place.st.st_uid == 0 && folderOwner != 0 ? folderOwner : place.st.st_uid;
}

gid_t groupAfterSave(const Place &place, uid_t owner)
{
    return owner == place.st.st_uid ? place.st.st_gid : place.folderSt.st_gid;
}

// Can this user give a new file beside the place its owner and group?
bool mayGiveOver(const Place &place)
{
    const uid_t owner = ownerAfterSave(place);
    return ::geteuid() == 0 || (owner == ::geteuid() && isMember(groupAfterSave(place, owner)));
}

bool savesByRename(const Place &place) { return folderTakesNewFiles(place) && mayGiveOver(place); }

// May the file be rewritten in place by someone: by an account besides its
// owner and root that may write it, or by this user, its owner, who may not
// replace it? Such a file is read and changed under its flock.
bool rewrittenInPlace(const Place &place)
{
    const Counted ownerAndRoot{place.st.st_uid, place.st.st_uid};
    return othersMayWrite(place.file.get(), place.st, ownerAndRoot) ||
           (place.st.st_uid == ::geteuid() && (place.st.st_mode & S_IWUSR) && !savesByRename(place));
}

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

// The new file a save writes beside the place, removed again unless it took
// the place's name. It is the one of the shared name, once no other saver is
// writing that one; else one of its own.
class Replacement {
public:
    Replacement(const Place &place, uid_t owner, Deadline deadline)
        : folder_(place.folder.get()), target_(place.name)
    {
        if (!takeShared(owner, deadline))
            makeOwn(owner);
    }
    ~Replacement()
    {
        if (fd_ && !placed_)
            ::unlinkat(folder_, name_.c_str(), 0);
    }
    Replacement(const Replacement &) = delete;
    Replacement &operator=(const Replacement &) = delete;

    explicit operator bool() const { return bool(fd_); }
    int fd() const { return fd_.get(); }

    bool write(const QByteArray &bytes)
    {
        const int fd = fd_.get();
        return ::ftruncate(fd, 0) == 0 && writeAt0(fd, bytes) == bytes.size() && syncFile(fd) == 0;
    }

    // Takes the place's name: over the file there, or only where none is.
    bool takeName(bool overAFile)
    {
        int result = overAFile ? ::renameat(folder_, name_.c_str(), folder_, target_.c_str())
                               : ::renameat2(folder_, name_.c_str(), folder_, target_.c_str(), RENAME_NOREPLACE);
        // A file system that cannot refuse to replace: the name was free a moment ago.
        if (result != 0 && !overAFile && errno == EINVAL)
            result = ::renameat(folder_, name_.c_str(), folder_, target_.c_str());
        placed_ = result == 0;
        return placed_;
    }

private:
    // The shared name: opened (made where missing) only when it is a file of
    // this user's or the owner's with no other name, and written only once
    // its lock is had and the name still leads to it. A saver that had it
    // before took it into place, so then the name is tried again.
    bool takeShared(uid_t owner, Deadline deadline)
    {
        const std::string shared = '.' + target_ + kSharedSuffix;
        for (;;) {
            Fd fd(::openat(folder_, shared.c_str(), O_RDWR | O_CREAT | SafeOpenFlags, kPrivate));
            struct stat st {}, now {};
            if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1 ||
                (st.st_uid != ::geteuid() && st.st_uid != owner))
                return false;
            HeldLock lock = lockUntil(fd.get(), LOCK_EX, deadline);
            if (!lock)
                return false;
            if (::fstatat(folder_, shared.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 && sameFile(now, st)) {
                // Whatever an interrupted save left in it goes.
                if (!makePrivate(fd.get(), owner))
                    return false;
                lock.keep();
                fd_ = std::move(fd);
                name_ = shared;
                return true;
            }
            lock.release();
            if (Clock::now() >= deadline)
                return false;
        }
    }

    // A name of its own, locked at once so that no later save takes it for
    // a leftover.
    void makeOwn(uid_t owner)
    {
        for (int attempt = 0; attempt < 16 && !fd_; ++attempt) {
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

    int folder_;
    std::string target_;
    std::string name_;
    Fd fd_;
    bool placed_ = false;
};

// Is `name` one an earlier save may have left beside `target`: ".<target>."
// followed by digits?
bool isLeftoverName(const char *name, const std::string &target)
{
    const std::string prefix = '.' + target + '.';
    const std::string entry(name);
    return entry.size() > prefix.size() && entry.compare(0, prefix.size(), prefix) == 0 &&
           std::all_of(entry.begin() + prefix.size(), entry.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Removes what interrupted saves left beside the place: files of its own
// kind of name, this user's, with no other name and no save writing them.
void removeLeftovers(const Place &place)
{
    const int listing = ::openat(place.folder.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR *dir = listing >= 0 ? ::fdopendir(listing) : nullptr;
    if (!dir) {
        if (listing >= 0)
            ::close(listing);
        return;
    }
    const int folder = place.folder.get();
    while (const dirent *entry = ::readdir(dir)) {
        if (!isLeftoverName(entry->d_name, place.name))
            continue;
        const Fd fd(::openat(folder, entry->d_name, O_RDONLY | SafeOpenFlags));
        struct stat st {}, now {};
        if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1 ||
            st.st_uid != ::geteuid() || ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0)
            continue;
        if (::fstatat(folder, entry->d_name, &now, AT_SYMLINK_NOFOLLOW) == 0 && sameFile(now, st))
            ::unlinkat(folder, entry->d_name, 0);
    }
    ::closedir(dir);
}

// The ACL of `from` on `to`; a file without one makes sure `to` has none
// either (a folder's default ACL may have given it one).
bool copyAcl(int from, int to)
{
    const std::optional<QByteArray> acl = Acl::attribute(from, Acl::Access);
    if (!acl)
        return false;
    if (acl->isEmpty())
        return ::fremovexattr(to, Acl::Access) == 0 || errno == ENODATA || errno == ENOTSUP;
    return ::fsetxattr(to, Acl::Access, acl->constData(), size_t(acl->size()), 0) == 0;
}

bool chownIfNeeded(int fd, uid_t owner, gid_t group)
{
    struct stat st {};
    return ::fstat(fd, &st) == 0 && ((st.st_uid == owner && st.st_gid == group) || ::fchown(fd, owner, group) == 0);
}

// Gives the new file the owner, group, ACL and mode it keeps, the ACL before
// the mode, so that it never lets more than it will. False where this user
// may not.
bool giveOver(const Place &place, int to, uid_t owner)
{
    return chownIfNeeded(to, owner, groupAfterSave(place, owner)) && copyAcl(place.file.get(), to) &&
           ::fchmod(to, place.st.st_mode & kModeBits) == 0;
}

enum class Replaced { Made, Impossible, Failed, Moved };

// The file as it is now at the place's name: a regular file of the same
// owner, read whole; false when the name leads elsewhere now.
bool readByName(const Place &place, QByteArray &bytes)
{
    const Fd fd(::openat(place.folder.get(), place.name.c_str(), O_RDONLY | SafeOpenFlags));
    struct stat st {};
    return fd && ::fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == place.st.st_uid &&
           (!place.folderOpen || st.st_nlink == 1) && readBounded(fd.get(), bytes);
}

// Takes up what a saver that did not wait for this one put in place since
// `now` was read, just before the rename, so that what it saved is kept.
Replaced takeUpChanges(const Place &place, Replacement &next, const Edit &edit, QByteArray now)
{
    for (int i = 0; i < kRereads; ++i) {
        QByteArray current;
        if (!readByName(place, current))
            return Replaced::Moved;
        if (current == now)
            return Replaced::Made;
        now = current;
        if (!next.write(edit(now)))
            return Replaced::Failed;
    }
    return Replaced::Made;
}

Replaced replaceByRename(Place &place, const Edit &edit, Deadline deadline)
{
    const uid_t owner = ownerAfterSave(place);
    Replacement next(place, owner, deadline);
    if (!next)
        return Replaced::Impossible;
    reached(SaveStep::Created, next.fd());
    QByteArray now;
    if (!readBounded(place.file.get(), now) || !next.write(edit(now)))
        return Replaced::Failed;
    reached(SaveStep::Written, next.fd());
    if (!giveOver(place, next.fd(), owner))
        return Replaced::Impossible;
    reached(SaveStep::GivenOver, next.fd());
    const Replaced upToDate = takeUpChanges(place, next, edit, now);
    if (upToDate != Replaced::Made)
        return upToDate;
    if (!next.takeName(true))
        return Replaced::Impossible;
    reached(SaveStep::Renamed, next.fd());
    removeLeftovers(place);
    return Replaced::Made;
}

Saved rewriteShared(Place &place, const Edit &edit)
{
    const int fd = place.file.get();
    QByteArray old;
    if (!readBounded(fd, old))
        return Saved::Refused;
    return rewriteInPlace(fd, old, edit(old)) ? Saved::Yes : Saved::Refused;
}

// Room for the larger of the two contents, so that a full disk refuses the
// rewrite before a byte changes; a file system that cannot reserve room says
// so and the write itself decides.
bool reserveRoom(int fd, qsizetype bytes)
{
    return bytes == 0 || ::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, off_t(bytes)) == 0 || errno == EOPNOTSUPP ||
           errno == ENOSYS;
}

// This process's umask, which a plain new file would have been made with.
mode_t currentUmask()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : status.readAll().split('\n'))
            if (line.startsWith("Umask:"))
                return mode_t(line.mid(6).trimmed().toUInt(nullptr, 8)) & 0777;
    }
    return kUsualUmask;
}

// The mode a plain new file in the place's folder would have had: as its
// default ACL gives it, else as the umask leaves it.
mode_t newFileMode(const Place &place)
{
    const auto acl = Acl::read(place.folder.get(), Acl::Default);
    if (!acl || acl->empty())
        return kNewFileMode & ~currentUmask();
    const auto bits = [&](Acl::Tag tag) { return mode_t(Acl::permOf(*acl, tag).value_or(0)); };
    const mode_t group = Acl::permOf(*acl, Acl::Mask) ? bits(Acl::Mask) : bits(Acl::GroupObj);
    return kNewFileMode & ((bits(Acl::UserObj) << 6) | (group << 3) | bits(Acl::Other));
}

// A new file's owner and group: the maker's (the folder's group in a setgid
// folder), or, where root makes it in a folder of another account, that
// account's and the folder's group.
bool giveNew(const Place &place, int fd, uid_t owner)
{
    const bool setgid = place.folderSt.st_mode & S_ISGID;
    const gid_t group = setgid || owner != ::geteuid() ? place.folderSt.st_gid : ::getegid();
    return chownIfNeeded(fd, owner, group) && ::fchmod(fd, newFileMode(place)) == 0;
}

} // namespace

Deadline lockDeadline() { return Clock::now() + lockWait(); }

QByteArray readFound(Place &place)
{
    if (place.found != Found::File)
        return {};
    HeldLock lock; // without it once the wait is over
    if (rewrittenInPlace(place))
        lock = lockUntil(place.file.get(), LOCK_SH, lockDeadline());
    QByteArray bytes;
    if (!readBounded(place.file.get(), bytes))
        bytes.clear();
    return bytes;
}

Saved saveFound(Place &place, const Edit &edit, Deadline deadline)
{
    if (place.found != Found::File || !place.writable || !(place.st.st_mode & kAnyWrite))
        return Saved::Refused;
    const int fd = place.file.get();
    const bool byRename = savesByRename(place);
    HeldLock lock;
    if (!byRename || rewrittenInPlace(place)) {
        lock = lockUntil(fd, LOCK_EX, deadline);
        if (!lock && !byRename)
            return Saved::Refused;
    }
    if (!stillInPlace(place))
        return Saved::Moved;
    if (byRename) {
        switch (replaceByRename(place, edit, deadline)) {
        case Replaced::Made:
            return Saved::Yes;
        case Replaced::Failed:
            return Saved::Refused;
        case Replaced::Moved:
            return Saved::Moved;
        case Replaced::Impossible:
            break;
        }
        if (!lock && !(lock = lockUntil(fd, LOCK_EX, deadline)))
            return Saved::Refused;
    }
    return rewriteShared(place, edit);
}

Saved createFound(Place &place, const QByteArray &bytes, Deadline deadline)
{
    if (place.found != Found::Missing)
        return Saved::Refused;
    const uid_t folderOwner = place.folderSt.st_uid;
    const uid_t owner = ::geteuid() == 0 && folderOwner != 0 ? folderOwner : ::geteuid();
    Replacement next(place, owner, deadline);
    if (!next)
        return Saved::Refused;
    reached(SaveStep::Created, next.fd());
    if (!next.write(bytes))
        return Saved::Refused;
    reached(SaveStep::Written, next.fd());
    if (!giveNew(place, next.fd(), owner))
        return Saved::Refused;
    reached(SaveStep::GivenOver, next.fd());
    if (!next.takeName(false))
        return errno == EEXIST ? Saved::Moved : Saved::Refused;
    reached(SaveStep::Renamed, next.fd());
    removeLeftovers(place);
    return Saved::Yes;
}

bool folderTakesNewFiles(const Place &place)
{
    return place.folder && ::faccessat(place.folder.get(), ".", W_OK | X_OK, AT_EACCESS) == 0;
}

bool rewriteInPlace(int fd, const QByteArray &old, const QByteArray &bytes)
{
    if (!reserveRoom(fd, std::max(old.size(), bytes.size())))
        return false;
    // A shorter file is written out to the old length with line breaks, which
    // change no key, so that a program killed before the cut leaves a whole file.
    const QByteArray padded = bytes + QByteArray(std::max<qsizetype>(old.size() - bytes.size(), 0), '\n');
    if (writeAt0(fd, padded) == padded.size()) {
        reached(SaveStep::Rewritten, fd);
        if (::ftruncate(fd, off_t(bytes.size())) == 0 && syncFile(fd) == 0)
            return true;
    }
    // However far the failure got, every old byte goes back.
    (void)writeAt0(fd, old);
    (void)::ftruncate(fd, off_t(old.size()));
    (void)syncFile(fd);
    return false;
}

void setSyncCall(SyncCall call) { syncCall() = call; }

void setLockWait(std::chrono::milliseconds wait) { lockWait() = wait; }

void setSaveStepCall(SaveStepCall call) { saveStepCall() = call; }

} // namespace Platform
