// Replacing a file whole through QSaveFile (reports, the monitor data file):
// the bytes go to a temporary file beside the target, which takes the
// target's place only when every byte reached the disk.
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

} // namespace Platform
