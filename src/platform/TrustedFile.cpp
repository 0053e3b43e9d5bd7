#include "platform/TrustedFile.h"

#include "platform/Accounts.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <deque>
#include <fcntl.h>
#include <iterator>
#include <linux/magic.h>
#include <optional>
#include <sys/vfs.h>
#include <unistd.h>
#include <vector>

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
constexpr int kLookFlags = O_PATH | O_NOFOLLOW | O_CLOEXEC;

// Filesystems whose files are the kernel's: never a settings file.
constexpr unsigned long kKernelFilesystems[] = {
    PROC_SUPER_MAGIC, SYSFS_MAGIC,         DEBUGFS_MAGIC,      SECURITYFS_MAGIC, CGROUP_SUPER_MAGIC,
    CGROUP2_SUPER_MAGIC, TRACEFS_MAGIC,    BPF_FS_MAGIC,       PSTOREFS_MAGIC,   EFIVARFS_MAGIC,
    DEVPTS_SUPER_MAGIC, SELINUX_MAGIC,     SMACK_MAGIC,        BINFMTFS_MAGIC,   NSFS_MAGIC,
    0x62656570 /* configfs */, 0x65735543 /* fusectl */, 0x19800202 /* mqueue */,
};

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

// A folder of the walk, with its fstat.
struct Folder {
    Fd fd;
    struct stat st {};
};

// An entry passed before the accounts that count were known: judged once the
// walk reaches the folder the path names its file in.
struct Passed {
    Folder folder;
    uid_t owner;
    bool up; // ".."
};

struct Walk {
    Names names;
    Folder folder;
    int steps = 0;
    bool atOwnName = true; // the path's own last name has not been looked at yet
    std::optional<Counted> counted;
    std::vector<Passed> passed;
    Place place;
};

bool openFolder(Folder &folder, int at, const char *name, int flags)
{
    folder.fd = Fd(::openat(at, name, flags | O_CLOEXEC));
    return folder.fd && ::fstat(folder.fd.get(), &folder.st) == 0;
}

bool othersMayWriteFolder(const Folder &folder, const Counted &counted)
{
    return othersMayWrite(folder.fd.get(), folder.st, counted);
}

// Does the folder keep its entries from other accounts? It belongs to an
// account that counts and, where another account may write it, is sticky.
bool holdsEntriesSafely(const Folder &folder, const Counted &counted)
{
    return counted(folder.st.st_uid) && ((folder.st.st_mode & S_ISVTX) || !othersMayWriteFolder(folder, counted));
}

// May the walk pass from `folder` to an entry of `owner`? The entry belongs
// to an account that counts, and the folder keeps its entries safe. ".."
// leads to the folder above, which no entry here can swap.
bool mayPass(const Folder &folder, uid_t owner, bool up, const Counted &counted)
{
    return counted(owner) && (up || holdsEntriesSafely(folder, counted));
}

// Judges the step from the walk's folder to an entry of `owner` now, or once
// the accounts that count are known.
bool pass(Walk &w, uid_t owner, bool up = false)
{
    if (w.counted)
        return mayPass(w.folder, owner, up, *w.counted);
    Folder copy;
    copy.fd = Fd(::fcntl(w.folder.fd.get(), F_DUPFD_CLOEXEC, 0));
    copy.st = w.folder.st;
    if (!copy.fd)
        return false;
    w.passed.push_back({std::move(copy), owner, up});
    return true;
}

// The walk has reached the folder the path names its file in: its owner
// installed the program, and counts from now on, for every step so far too.
bool reachOwnFolder(Walk &w)
{
    w.counted = Counted{::geteuid(), w.folder.st.st_uid};
    for (const Passed &p : w.passed)
        if (!mayPass(p.folder, p.owner, p.up, *w.counted))
            return false;
    w.passed.clear();
    return true;
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
    if (++w.steps > kMaxSteps || !pass(w, st.st_uid))
        return false;
    const std::string target = readLink(link.get());
    if (target.empty())
        return false;
    if (target.front() == '/' && !openFolder(w.folder, AT_FDCWD, "/", O_PATH | O_DIRECTORY))
        return false;
    const Names names = split(target);
    w.names.insert(w.names.begin(), names.begin(), names.end());
    return true;
}

// Nothing stands at the path as named when a name on the way is missing or
// is no folder, before any link of the path's own last name was followed.
void noteMissing(Walk &w, int error) { w.place.absent = (error == ENOENT || error == ENOTDIR) && w.atOwnName; }

// A folder on the way: step into it, or follow it where it is a link.
bool enterFolder(Walk &w, const std::string &name)
{
    Folder entry;
    if (!openFolder(entry, w.folder.fd.get(), name.c_str(), kLookFlags)) {
        noteMissing(w, errno);
        return false;
    }
    if (S_ISLNK(entry.st.st_mode))
        return followLink(w, entry.fd, entry.st);
    if (!S_ISDIR(entry.st.st_mode)) {
        noteMissing(w, ENOTDIR);
        return false;
    }
    if (!pass(w, entry.st.st_uid, name == ".."))
        return false;
    w.folder = std::move(entry);
    return true;
}

bool onKernelFilesystem(int fd)
{
    struct statfs fs {};
    if (::fstatfs(fd, &fs) != 0)
        return true;
    return std::find(std::begin(kKernelFilesystems), std::end(kKernelFilesystems),
                     static_cast<unsigned long>(fs.f_type)) != std::end(kKernelFilesystems);
}

// The place lies in the walk's folder.
void settle(Walk &w, Found found, const std::string &name)
{
    w.place.found = found;
    w.place.folderOpen = othersMayWriteFolder(w.folder, *w.counted);
    w.place.folderSt = w.folder.st;
    w.place.folder = std::move(w.folder.fd);
    w.place.name = name;
}

Fd openFile(const Walk &w, const std::string &name, int access)
{
    return Fd(::openat(w.folder.fd.get(), name.c_str(), access | SafeOpenFlags));
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
    settle(w, Found::File, name);
    // In a folder that others may write, a second name may be another
    // account's hard link to a file it could not read.
    if (w.place.folderOpen && st.st_nlink != 1) {
        w.place = Place();
        return false;
    }
    w.place.writable = writable;
    w.place.st = st;
    w.place.file = std::move(file);
    return false;
}

// May a new file be made in the walk's folder?
bool folderMayHoldNewFile(const Walk &w)
{
    return w.counted && holdsEntriesSafely(w.folder, *w.counted) && !onKernelFilesystem(w.folder.fd.get());
}

// The last name: a link to follow, a file to open, or nothing there yet.
// True while the walk goes on.
bool lookAtName(Walk &w, const std::string &name, Opening opening)
{
    if (!w.counted && !reachOwnFolder(w))
        return false;
    Fd entry(::openat(w.folder.fd.get(), name.c_str(), kLookFlags));
    struct stat st {};
    if (!entry || ::fstat(entry.get(), &st) != 0) {
        const int error = errno;
        noteMissing(w, error);
        if (error == ENOENT && folderMayHoldNewFile(w))
            settle(w, Found::Missing, name);
        return false;
    }
    if (S_ISLNK(st.st_mode)) {
        w.place.throughLink = w.place.throughLink || w.atOwnName;
        w.atOwnName = false;
        return followLink(w, entry, st);
    }
    w.atOwnName = false;
    // A kernel file is refused before it is ever opened; the file opened
    // next is the one looked at here, or the name is looked at again.
    if (!S_ISREG(st.st_mode) || st.st_size > MaxFileSize || !pass(w, st.st_uid) || onKernelFilesystem(entry.get()))
        return false;
    return openRegular(w, name, st, opening);
}

} // namespace

Place findFile(const QString &path, Opening opening)
{
    Walk w;
    const std::string name = QFile::encodeName(QFileInfo(path).absoluteFilePath()).toStdString();
    if (path.isEmpty() || !openFolder(w.folder, AT_FDCWD, "/", O_PATH | O_DIRECTORY))
        return {};
    w.names = split(name);
    while (!w.names.empty()) {
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
