// A full disk for a while: as long as it lives, no file of this process may
// grow beyond `bytes`, and a write past that fails (EFBIG) part way, as on a
// disk that fills up. It holds for root too, unlike a read-only folder.
// Nothing should print to a redirected output file meanwhile.
//
//   {
//       const TestSupport::FileSizeLimit full(8);
//       save();        // fails after 8 bytes of any file
//   }
#pragma once

#include <sys/resource.h>

#include <csignal>

namespace TestSupport {

class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) : oldSignal_(std::signal(SIGXFSZ, SIG_IGN))
    {
        getrlimit(RLIMIT_FSIZE, &saved_);
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, oldSignal_);
    }
    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;

private:
    rlimit saved_{};
    void (*oldSignal_)(int);
};

} // namespace TestSupport
