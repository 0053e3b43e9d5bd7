// The mode a new settings file is given once it is whole.
#pragma once

#include "platform/TrustedFile.h"

#include <sys/types.h>

namespace Platform {

enum class NewFileAccess {
    // As a plain new file in its folder would have it (the folder's default
    // ACL, else the umask), but never writable by every account.
    Usual,
    // Its owner's alone (a per-user copy), as far as the umask leaves it.
    OwnerOnly,
};

// The mode of a new file beside the place.
mode_t newFileMode(const Place &place, NewFileAccess access);

} // namespace Platform
