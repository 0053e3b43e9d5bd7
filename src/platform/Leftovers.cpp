#include "platform/Leftovers.h"

#include "platform/FileBytes.h"
#include "platform/TrustedFile.h"

#include <algorithm>
#include <dirent.h>
#include <sys/file.h>
#include <unistd.h>

namespace Platform {

namespace {

// Is `name` one an earlier save may have left beside `target`: ".<target>."
// followed by digits?
bool isLeftoverName(const char *name, const std::string &target)
{
    const std::string prefix = '.' + target + '.';
    const std::string entry(name);
    return entry.size() > prefix.size() && entry.compare(0, prefix.size(), prefix) == 0 &&
           std::all_of(entry.begin() + prefix.size(), entry.end(), [](char c) { return c >= '0' && c <= '9'; });
}

} // namespace

void removeLeftovers(int folder, const std::string &target)
{
    const int listing = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR *dir = listing >= 0 ? ::fdopendir(listing) : nullptr;
    if (!dir) {
        if (listing >= 0)
            ::close(listing);
        return;
    }
    while (const dirent *entry = ::readdir(dir)) {
        if (!isLeftoverName(entry->d_name, target))
            continue;
        const Fd fd(::openat(folder, entry->d_name, O_RDONLY | SafeOpenFlags));
        struct stat st {};
        if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1 ||
            st.st_uid != ::geteuid() || ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0)
            continue;
        if (nameLeadsTo(folder, entry->d_name, st))
            ::unlinkat(folder, entry->d_name, 0);
    }
    ::closedir(dir);
}

} // namespace Platform
