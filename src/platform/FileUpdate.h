// Reading and changing a file that findFile() found, whole.
//
// A file is changed in one of two ways, and read accordingly:
// - Replaced: a new file beside it, in the same folder, is written, synced,
//   given the old file's owner, group, mode and ACL and renamed over it
//   (Replacement.h). A reader never sees half of it, so reads take no lock.
//   A saver waits for another no longer than 2 s and then goes on with a new
//   file of its own, reading the file again just before the rename so that
//   it keeps what the other saved. No account that can only read the file
//   holds a save up.
// - Rewritten in place, where that new file cannot be given the old one's
//   owner (only root can give a file away) or its folder takes no new file
//   (an administrator's shared copy): under an exclusive flock, waited for
//   no longer than 2 s and refused after that (InPlaceRewrite.h). Such a
//   file, and any file another account may write (which that account may
//   rewrite in place), is read under a shared flock, waited for no longer
//   than 2 s once, after which what is there is read.
// A file over 1 MiB is neither read nor changed. A new file is never
// writable by every account, whatever the umask (NewFileMode.h). A root save
// in a folder of another account (an existing file there, or a new one)
// gives the file to the folder's owner, whose file it then stays. What an
// interrupted save left beside the file is taken up or removed by a later
// save (Leftovers.h).
#pragma once

#include "platform/LockWait.h"
#include "platform/NewFileMode.h"
#include "platform/SaveSteps.h"
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

// When the waits of one change for other savers end: the longest lock wait
// from now.
Deadline lockDeadline();

// The bytes of a found regular file, read whole; nothing for anything else
// or a file over 1 MiB.
QByteArray readFound(Place &place);

// Changes a found regular file that this user may write; a read-only file
// (one without any write bit, root included) is refused.
Saved saveFound(Place &place, const Edit &edit, Deadline deadline);

// Makes the missing file with `bytes`, with the access `access` gives it;
// Moved when a file of that name appeared meanwhile.
Saved createFound(Place &place, const QByteArray &bytes, Deadline deadline,
                  NewFileAccess access = NewFileAccess::Usual);

// May the folder the place lies in take a new file from this user?
bool folderTakesNewFiles(const Place &place);

// Seam for tests: the longest wait for a lock (default 2 s).
void setLockWait(std::chrono::milliseconds wait);

} // namespace Platform
