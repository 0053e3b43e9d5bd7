#include "platform/TrustedFile.h"

#include <QFile>

#include <cerrno>
#include <climits>
#include <deque>
#include <fcntl.h>
#include <unistd.h>

namespace Platform {

void Fd::reset(int fd)
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = fd;
}

namespace {

// Links followed, and files that changed between being looked at and opened,
// before the walk gives up: as many links as the kernel follows.
constexpr int kMaxSteps = 40;
constexpr off_t kMaxFileSize = 1 << 20;
constexpr int kLookFlags = O_PATH | O_NOFOLLOW | O_CLOEXEC;
constexpr int kOpenFlags = O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;

using Names = std::deque<std::string>;

Names split(const std::string &path)
{
    Names names;
    size_t start = 0;
    while (start < path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos)
            end = path.size();
        if (end > start)
            names.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return names;
}

struct Walk {
    Names names;
    Fd folder;
    int steps = 0;
    bool atOwnName = true; // the path's own last name has not been looked at yet
    Place place;
};

Fd openFolder(const char *path) { return Fd(::open(path, O_PATH | O_DIRECTORY | O_CLOEXEC)); }

// May an entry that `owner` owns in `folder` be used? In a folder that others
// may write, only in a sticky one, and only the user's own entry or the
// folder owner's (or, for a file, root's): anyone else's may have been
// planted there, and in a folder that is not sticky anyone may swap anything.
bool mayUse(int folder, uid_t owner, bool rootCounts)
{
    struct stat st {};
    if (::fstat(folder, &st) != 0)
        return false;
    if (!(st.st_mode & S_IWOTH))
        return true;
    if (!(st.st_mode & S_ISVTX))
        return false;
    return owner == ::geteuid() || owner == st.st_uid || (rootCounts && owner == 0);
}

std::string readLink(int link)
{
    std::string target(256, '\0');
    for (;;) {
        const ssize_t n = ::readlinkat(link, "", target.data(), target.size());
        if (n <= 0)
            return {};
        if (size_t(n) < target.size()) {
            target.resize(size_t(n));
            return target;
        }
        if (target.size() >= PATH_MAX)
            return {};
        target.resize(target.size() * 2);
    }
}

// Goes on at the link's target, when the link may be followed at all.
bool followLink(Walk &w, const Fd &link, const struct stat &st)
{
    if (++w.steps > kMaxSteps || !mayUse(w.folder.get(), st.st_uid, false))
        return false;
    const std::string target = readLink(link.get());
    if (target.empty())
        return false;
    if (target.front() == '/')
        w.folder = openFolder("/");
    const Names names = split(target);
    w.names.insert(w.names.begin(), names.begin(), names.end());
    return bool(w.folder);
}

// Nothing stands at the path as named when a name on the way is missing or
// is no folder, before any link of the path's own last name was followed.
void noteMissing(Walk &w, int error) { w.place.absent = (error == ENOENT || error == ENOTDIR) && w.atOwnName; }

// A folder on the way: step into it, or follow it where it is a link.
bool enterFolder(Walk &w, const std::string &name)
{
    Fd entry(::openat(w.folder.get(), name.c_str(), kLookFlags));
    struct stat st {};
    if (!entry || ::fstat(entry.get(), &st) != 0) {
        noteMissing(w, errno);
        return false;
    }
    if (S_ISLNK(st.st_mode))
        return followLink(w, entry, st);
    if (!S_ISDIR(st.st_mode)) {
        noteMissing(w, ENOTDIR);
        return false;
    }
    w.folder = std::move(entry);
    return true;
}

Fd openFile(const Walk &w, const std::string &name, int access)
{
    return Fd(::openat(w.folder.get(), name.c_str(), access | kOpenFlags));
}

// Opens the regular file looked at as `seen`; true when another file took its
// place meanwhile and the name must be looked at again.
bool openRegular(Walk &w, const std::string &name, const struct stat &seen, Opening opening)
{
    Fd file;
    if (opening == Opening::ForWriting)
        file = openFile(w, name, O_RDWR);
    const bool writable = bool(file);
    if (!file)
        file = openFile(w, name, O_RDONLY);
    struct stat st {};
    if (!file || ::fstat(file.get(), &st) != 0)
        return false;
    if (st.st_dev != seen.st_dev || st.st_ino != seen.st_ino) {
        w.names.push_front(name);
        return ++w.steps <= kMaxSteps;
    }
    w.place.found = Found::File;
    w.place.writable = writable;
    w.place.st = st;
    w.place.file = std::move(file);
    w.place.folder = std::move(w.folder);
    w.place.name = name;
    return false;
}

// The last name: a link to follow, a file to open, or nothing there yet.
// True while the walk goes on.
bool lookAtName(Walk &w, const std::string &name, Opening opening)
{
    Fd entry(::openat(w.folder.get(), name.c_str(), kLookFlags));
    struct stat st {};
    if (!entry || ::fstat(entry.get(), &st) != 0) {
        const int error = errno;
        noteMissing(w, error);
        if (error == ENOENT && mayUse(w.folder.get(), ::geteuid(), false)) {
            w.place.found = Found::Missing;
            w.place.folder = std::move(w.folder);
            w.place.name = name;
        }
        return false;
    }
    if (S_ISLNK(st.st_mode)) {
        w.place.throughLink = w.place.throughLink || w.atOwnName;
        w.atOwnName = false;
        return followLink(w, entry, st);
    }
    w.atOwnName = false;
    if (!S_ISREG(st.st_mode) || st.st_size > kMaxFileSize || !mayUse(w.folder.get(), st.st_uid, true))
        return false;
    return openRegular(w, name, st, opening);
}

} // namespace

Place findFile(const QString &path, Opening opening)
{
    Walk w;
    const std::string name = QFile::encodeName(path).toStdString();
    if (name.empty())
        return {};
    w.names = split(name);
    w.folder = openFolder(name.front() == '/' ? "/" : ".");
    while (w.folder && !w.names.empty()) {
        const std::string next = w.names.front();
        w.names.pop_front();
        if (next == ".")
            continue;
        const bool goesOn = w.names.empty() ? lookAtName(w, next, opening) : enterFolder(w, next);
        if (!goesOn)
            break;
    }
    return std::move(w.place);
}

bool stillInPlace(const Place &place)
{
    struct stat now {}, open {};
    return place.found == Found::File &&
           ::fstatat(place.folder.get(), place.name.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 &&
           ::fstat(place.file.get(), &open) == 0 && open.st_nlink > 0 && now.st_dev == open.st_dev &&
           now.st_ino == open.st_ino;
}

} // namespace Platform
