// Rewriting an open file in place, whole or not at all, for a file that
// cannot be replaced by a new one beside it (an administrator's shared copy
// in a folder that takes no new file).
#pragma once

#include <QByteArray>

namespace Platform {

// Rewrites the open file `fd`, which holds `old`, with `bytes`, whole or not
// at all: the room is reserved first, and a failed write, truncate or sync
// puts every old byte back. False when the file was left as it was.
bool rewriteInPlace(int fd, const QByteArray &old, const QByteArray &bytes);

} // namespace Platform
