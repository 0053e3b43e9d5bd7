#include "platform/InPlaceRewrite.h"

#include "platform/FileBytes.h"
#include "platform/SaveSteps.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace Platform {

namespace {

// Room for the larger of the two contents, so that a full disk refuses the
// rewrite before a byte changes; a file system that cannot reserve room says
// so and the write itself decides.
bool reserveRoom(int fd, qsizetype bytes)
{
    return bytes == 0 || ::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, off_t(bytes)) == 0 || errno == EOPNOTSUPP ||
           errno == ENOSYS;
}

} // namespace

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

} // namespace Platform
