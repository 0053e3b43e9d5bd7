// The mode a new settings file is given once it is whole.
#pragma once

#include "platform/TrustedFile.h"

#include <sys/types.h>

namespace Platform {

// The mode a plain new file in the place's folder would have had: as its
// default ACL gives it, else as the umask leaves it.
mode_t newFileMode(const Place &place);

} // namespace Platform
