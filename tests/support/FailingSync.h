// A disk that refuses to sync for a while (as a network share that reports
// its quota only then): as long as it lives, every sync of a settings file
// fails with EIO, after the bytes were written.
//
//   {
//       const TestSupport::FailingSync failing;
//       save();        // every write lands, then the sync fails
//   }
#pragma once

#include "platform/FileUpdate.h"

#include <cerrno>

namespace TestSupport {

class FailingSync {
public:
    explicit FailingSync(bool failing = true)
    {
        if (failing)
            Platform::setSyncCall(+[](int) {
                errno = EIO;
                return -1;
            });
    }
    ~FailingSync() { Platform::setSyncCall(nullptr); }
    FailingSync(const FailingSync &) = delete;
    FailingSync &operator=(const FailingSync &) = delete;
};

} // namespace TestSupport
