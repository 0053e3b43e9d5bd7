#include "platform/SaveWhole.h"

#include <QFile>
#include <sys/stat.h>

namespace Platform {

namespace {

constexpr mode_t kPermissionBits = 0777;

// The temporary file gains an owner write bit the target may lack; it takes
// the target's bits before it takes the target's place. A file system without
// such bits (a FAT stick) refuses the change, which costs nothing there.
void keepPermissions(QSaveFile &file)
{
    struct stat st {};
    if (::stat(QFile::encodeName(file.fileName()).constData(), &st) == 0)
        (void)::fchmod(file.handle(), st.st_mode & kPermissionBits);
}

} // namespace

bool commitWhole(QSaveFile &file, const QByteArray &bytes)
{
    if (file.write(bytes) == bytes.size() && file.flush()) {
        keepPermissions(file);
        return file.commit();
    }
    file.cancelWriting();
    file.commit(); // refused after the cancel: discards the temporary file
    return false;
}

} // namespace Platform
