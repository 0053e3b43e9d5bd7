// A settings file, or a file beside it, through its descriptor: its bytes
// from its start, and whether its name still leads to it.
#pragma once

#include "platform/TrustedFile.h"

#include <QByteArray>

#include <functional>
#include <sys/stat.h>

namespace Platform {

// Reads the whole file; false when it cannot be read or is larger than any
// settings file (TrustedFile.h's MaxFileSize).
bool readBounded(int fd, QByteArray &bytes);

// Writes `bytes` at the file's start; returns how many reached the file.
qsizetype writeAt0(int fd, const QByteArray &bytes);

bool sameFile(const struct stat &a, const struct stat &b);

// Does `name` in the folder `folder` still lead to the file whose fstat is
// `st` (itself, not through a link)?
bool nameLeadsTo(int folder, const char *name, const struct stat &st);

// Opens `name` in `folder` (with `flags` and SafeOpenFlags) only when the
// folder lists it as a file that `mayOpen` accepts, so that no other file is
// ever opened, and only that file; `st` is its fstat. Nothing otherwise.
Fd openListed(int folder, const char *name, int flags, const std::function<bool(const struct stat &)> &mayOpen,
              struct stat &st);

} // namespace Platform
