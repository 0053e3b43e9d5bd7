// Replacing a file whole: the bytes go to a temporary file beside the target,
// which takes the target's place only when every byte reached the disk.
#pragma once

#include <QByteArray>
#include <QSaveFile>
#include <QString>

namespace Platform {

// Writes the bytes into the opened save file and commits it. On failure the
// temporary file is discarded, the target stays as it was, the file's
// errorString() says why, and the result is false. A replaced target keeps
// its permission bits.
// QSaveFile::commit() alone misses a write that fails part way through its
// final flush (a full disk, a file size limit): it would put the truncated
// file in place of the good one.
bool commitWhole(QSaveFile &file, const QByteArray &bytes);

// True for an existing file that this user may not write: one its permissions
// or a read-only file system forbid, and one without any write bit, which
// counts as read-only for root too (root passes every access check). False
// for a missing path and for anything that is no file.
bool isReadOnlyFile(const QString &path);

// True when the folder refuses this user a new file (no write or search
// permission, or a read-only file system), so no save can replace a file in
// it. A missing folder does not count: a save there fails and says so.
bool folderRefusesNewFiles(const QString &folder);

// The file that a save to `path` replaces: `path` itself or, for a symbolic
// link, the file at the end of its chain of links (which may not exist yet).
// A save writes through a link, and the link stays a link.
QString replacedFile(const QString &path);

// True when a save to `path` can replace the file it names whole: that file
// is not read-only, its folder takes a new file from this user, and the new
// file may then take the old one's place (in a sticky folder, as shared
// folders are, only the file's owner, the folder's owner and root may).
bool canBeReplaced(const QString &path);

// True for a symbolic link that leads to an existing file this user may
// write but whose place no new file may take (its folder refuses new files,
// or is sticky and not the user's): an administrator's shared copy. A save
// through such a link rewrites that file in place (rewriteInPlace).
bool isLinkRewrittenInPlace(const QString &path);

// Rewrites the existing file at `path` with `bytes` in place, whole or not at
// all: the room is reserved before a byte changes, and a write that fails part
// way puts the old bytes back. False when the file was left as it was.
bool rewriteInPlace(const QString &path, const QByteArray &bytes);

} // namespace Platform
