#include "platform/FileUpdate.h"

#include "platform/AclCopy.h"
#include "platform/Accounts.h"
#include "platform/FileBytes.h"
#include "platform/InPlaceRewrite.h"
#include "platform/Leftovers.h"
#include "platform/NewFileMode.h"
#include "platform/Replacement.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#include <vector>

namespace Platform {

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr mode_t kAnyWrite = S_IWUSR | S_IWGRP | S_IWOTH;
constexpr mode_t kModeBits = 07777;
// How often a save takes up what a saver that did not wait for it put in place.
constexpr int kRereads = 4;

std::chrono::milliseconds &lockWait()
{
    static std::chrono::milliseconds wait = 2000ms;
    return wait;
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

// A new file's owner and group: the maker's (the folder's group in a setgid
// folder), or, where root makes it in a folder of another account, that
// account's and the folder's group; and its mode. One of its owner's alone
// keeps no ACL the folder's default ACL gave it.
bool giveNew(const Place &place, int fd, uid_t owner, NewFileAccess access)
{
    const bool setgid = place.folderSt.st_mode & S_ISGID;
    const gid_t group = setgid || owner != ::geteuid() ? place.folderSt.st_gid : ::getegid();
    return chownIfNeeded(fd, owner, group) && (access != NewFileAccess::OwnerOnly || dropAcl(fd)) &&
           ::fchmod(fd, newFileMode(place, access)) == 0;
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
    removeLeftovers(place.folder.get(), place.name);
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

Saved createFound(Place &place, const QByteArray &bytes, Deadline deadline, NewFileAccess access)
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
    if (!giveNew(place, next.fd(), owner, access))
        return Saved::Refused;
    reached(SaveStep::GivenOver, next.fd());
    if (!next.takeName(false))
        return errno == EEXIST ? Saved::Moved : Saved::Refused;
    reached(SaveStep::Renamed, next.fd());
    removeLeftovers(place.folder.get(), place.name);
    return Saved::Yes;
}

bool folderTakesNewFiles(const Place &place)
{
    return place.folder && ::faccessat(place.folder.get(), ".", W_OK | X_OK, AT_EACCESS) == 0;
}

void setLockWait(std::chrono::milliseconds wait) { lockWait() = wait; }

} // namespace Platform
