#include "platform/Leftovers.h"

#include "platform/FileBytes.h"

#include <algorithm>
#include <cstring>
#include <dirent.h>
#include <sys/file.h>
#include <unistd.h>

namespace Platform {

namespace {

// How far one save looks: the folder's entries read, and the leftover names
// among them looked at.
constexpr int kEntriesRead = 16384;
constexpr int kNamesLookedAt = 16;

// Is `name` one an earlier save may have left: `prefix` (".<target>.")
// followed by digits?
bool isLeftoverName(const char *name, const std::string &prefix)
{
    const size_t length = std::strlen(name);
    return length > prefix.size() && prefix.compare(0, prefix.size(), name, prefix.size()) == 0 &&
           std::all_of(name + prefix.size(), name + length, [](char c) { return c >= '0' && c <= '9'; });
}

// A regular file of this user's with no other name.
bool isOwnFile(const struct stat &st)
{
    return S_ISREG(st.st_mode) && st.st_nlink == 1 && st.st_uid == ::geteuid();
}

// Removes the file `name` when it is this user's and no save is writing it
// (a save holds the lock of the file it writes from its making on).
void removeIfLeftover(int folder, const char *name)
{
    struct stat st {};
    const Fd fd = openListed(folder, name, O_RDONLY, isOwnFile, st);
    if (!fd || ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0)
        return;
    if (nameLeadsTo(folder, name, st))
        ::unlinkat(folder, name, 0);
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
    const std::string prefix = '.' + target + '.';
    int namesLookedAt = 0;
    for (int read = 0; read < kEntriesRead && namesLookedAt < kNamesLookedAt; ++read) {
        const dirent *entry = ::readdir(dir);
        if (!entry)
            break;
        if (!isLeftoverName(entry->d_name, prefix))
            continue;
        ++namesLookedAt;
        removeIfLeftover(folder, entry->d_name);
    }
    ::closedir(dir);
}

} // namespace Platform
