#include "platform/AclCopy.h"

#include "platform/PosixAcl.h"

#include <cerrno>
#include <sys/xattr.h>

namespace Platform {

bool copyAcl(int from, int to)
{
    const std::optional<QByteArray> acl = Acl::attribute(from, Acl::Access);
    if (!acl)
        return false;
    if (acl->isEmpty())
        return dropAcl(to);
    return ::fsetxattr(to, Acl::Access, acl->constData(), size_t(acl->size()), 0) == 0;
}

bool dropAcl(int fd) { return ::fremovexattr(fd, Acl::Access) == 0 || errno == ENODATA || errno == ENOTSUP; }

} // namespace Platform
