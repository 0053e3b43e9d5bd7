// Reading and changing a file that findFile() found, whole and under a lock.
//
// A read takes a shared flock and a change an exclusive one, so that no read
// sees half a change and no two changes of the same file lose each other's
// keys: a change re-reads the file under its lock and edits what it finds
// there. No lock is waited for longer than 2 s; a read that cannot get its
// lock reads without it, a change that cannot get it is refused.
//
// A change replaces the file through a new file beside it, in the same
// folder, when that new file can be given the old one's owner, group, mode
// and ACL (root can give a file away, an ordinary user cannot). Otherwise it
// rewrites the file in place, and a failed write, truncate or sync puts every
// old byte back.
#pragma once

#include "platform/TrustedFile.h"

#include <QByteArray>

#include <chrono>
#include <functional>

namespace Platform {

// Turns a file's bytes as they are now into its new bytes.
using Edit = std::function<QByteArray(const QByteArray &now)>;

enum class Saved {
    Yes,
    Refused,
    Moved, // another file took the name meanwhile: find it again and start over
};

// The bytes of a found regular file, read whole, up to its size; nothing for
// anything else.
QByteArray readFound(Place &place);

// Changes a found regular file that this user may write; a read-only file
// (one without any write bit, root included) is refused.
Saved saveFound(Place &place, const Edit &edit);

// Makes the missing file with `bytes`; Moved when a file of that name
// appeared meanwhile.
Saved createFound(Place &place, const QByteArray &bytes);

// May the folder the place lies in take a new file from this user?
bool folderTakesNewFiles(const Place &place);

// Rewrites the open file `fd`, which holds `old`, with `bytes`, whole or not
// at all: the room is reserved first, and a failed write, truncate or sync
// puts every old byte back. False when the file was left as it was.
bool rewriteInPlace(int fd, const QByteArray &old, const QByteArray &bytes);

// Seams for tests: the call that syncs a file to disk (nullptr: fsync) and
// the longest wait for a lock (default 2 s).
using SyncCall = int (*)(int fd);
void setSyncCall(SyncCall call);
void setLockWait(std::chrono::milliseconds wait);

} // namespace Platform
