#include "platform/TrustedFile.h"

#include "platform/Accounts.h"

#include <QDir>
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

// What an entry passed on the way is: it names the refusal when it may not be.
enum class Entry { Folder, Link, File };

// An entry passed before the accounts that count were known: judged once the
// walk reaches the folder the path names its file in.
struct Passed {
    Folder folder;
    uid_t owner;
    Entry entry;
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

// Ends the walk with `refusal`.
bool refuse(Walk &w, Refusal refusal)
{
    w.place.refusal = refusal;
    return false;
}

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
Refusal entriesSafety(const Folder &folder, const Counted &counted)
{
    if (!counted(folder.st.st_uid))
        return Refusal::OthersFolder;
    if (!(folder.st.st_mode & S_ISVTX) && othersMayWriteFolder(folder, counted))
        return Refusal::OpenFolder;
    return Refusal::None;
}

Refusal ownedBy(Entry entry)
{
    switch (entry) {
    case Entry::Folder:
        return Refusal::OthersFolder;
    case Entry::Link:
        return Refusal::OthersLink;
    case Entry::File:
        break;
    }
    return Refusal::OthersFile;
}

// May the walk pass from `folder` to an entry of `owner`? The entry belongs
// to an account that counts, and the folder keeps its entries safe. ".."
// leads to the folder above, which no entry here can swap.
Refusal judgePass(const Folder &folder, uid_t owner, Entry entry, bool up, const Counted &counted)
{
    if (!counted(owner))
        return ownedBy(entry);
    return up ? Refusal::None : entriesSafety(folder, counted);
}

// Judges the step from the walk's folder to an entry of `owner` now, or once
// the accounts that count are known.
bool pass(Walk &w, uid_t owner, Entry entry, bool up = false)
{
    if (w.counted) {
        const Refusal refusal = judgePass(w.folder, owner, entry, up, *w.counted);
        return refusal == Refusal::None || refuse(w, refusal);
    }
    Folder copy;
    copy.fd = Fd(::fcntl(w.folder.fd.get(), F_DUPFD_CLOEXEC, 0));
    copy.st = w.folder.st;
    if (!copy.fd)
        return refuse(w, Refusal::Unreachable);
    w.passed.push_back({std::move(copy), owner, entry, up});
    return true;
}

// The walk has reached the folder the path names its file in: its owner
// installed the program, and counts from now on, for every step so far too.
bool reachOwnFolder(Walk &w)
{
    w.counted = Counted{::geteuid(), w.folder.st.st_uid};
    for (const Passed &p : w.passed) {
        const Refusal refusal = judgePass(p.folder, p.owner, p.entry, p.up, *w.counted);
        if (refusal != Refusal::None)
            return refuse(w, refusal);
    }
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
    if (++w.steps > kMaxSteps)
        return refuse(w, Refusal::LeadsNowhere);
    if (!pass(w, st.st_uid, Entry::Link))
        return false;
    const std::string target = readLink(link.get());
    if (target.empty())
        return refuse(w, Refusal::Unreachable);
    if (target.front() == '/' && !openFolder(w.folder, AT_FDCWD, "/", O_PATH | O_DIRECTORY))
        return refuse(w, Refusal::Unreachable);
    const Names names = split(target);
    w.names.insert(w.names.begin(), names.begin(), names.end());
    return true;
}

// Nothing stands at the path as named when a name on the way is missing or
// is no folder, before any link of the path's own last name was followed.
bool missing(Walk &w, int error)
{
    const bool gone = error == ENOENT || error == ENOTDIR;
    w.place.absent = gone && w.atOwnName;
    return refuse(w, gone ? Refusal::LeadsNowhere : Refusal::Unreachable);
}

// A folder on the way: step into it, or follow it where it is a link.
bool enterFolder(Walk &w, const std::string &name)
{
    Folder entry;
    if (!openFolder(entry, w.folder.fd.get(), name.c_str(), kLookFlags))
        return missing(w, errno);
    if (S_ISLNK(entry.st.st_mode))
        return followLink(w, entry.fd, entry.st);
    if (!S_ISDIR(entry.st.st_mode))
        return missing(w, ENOTDIR);
    if (!pass(w, entry.st.st_uid, Entry::Folder, name == ".."))
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
        return refuse(w, Refusal::Unreachable);
    if (st.st_dev != seen.st_dev || st.st_ino != seen.st_ino) {
        w.names.push_front(name);
        return ++w.steps <= kMaxSteps || refuse(w, Refusal::LeadsNowhere);
    }
    settle(w, Found::File, name);
    // In a folder that others may write, a second name may be another
    // account's hard link to a file it could not read.
    if (w.place.folderOpen && st.st_nlink != 1) {
        w.place = Place();
        return refuse(w, Refusal::SecondName);
    }
    w.place.writable = writable;
    w.place.st = st;
    w.place.file = std::move(file);
    return false;
}

// May a new file be made in the walk's folder? None when it may not.
Refusal newFileRefusal(const Walk &w)
{
    const Refusal refusal = entriesSafety(w.folder, *w.counted);
    if (refusal != Refusal::None)
        return refusal;
    return onKernelFilesystem(w.folder.fd.get()) ? Refusal::KernelFile : Refusal::None;
}

// Why the regular file looked at as `st` may not be used, if it may not.
Refusal fileRefusal(Walk &w, const Fd &entry, const struct stat &st)
{
    if (!S_ISREG(st.st_mode))
        return Refusal::NotAFile;
    if (st.st_size > MaxFileSize)
        return Refusal::TooLarge;
    if (!pass(w, st.st_uid, Entry::File))
        return w.place.refusal;
    return onKernelFilesystem(entry.get()) ? Refusal::KernelFile : Refusal::None;
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
        missing(w, error);
        if (error != ENOENT)
            return false;
        const Refusal refusal = newFileRefusal(w);
        if (refusal != Refusal::None)
            return refuse(w, refusal);
        settle(w, Found::Missing, name);
        w.place.refusal = Refusal::None;
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
    const Refusal refusal = fileRefusal(w, entry, st);
    if (refusal != Refusal::None)
        return refuse(w, refusal);
    return openRegular(w, name, st, opening);
}

// A walk from "/" along `path`, with the accounts that count known at once
// where the trust names no folder owner.
bool startWalk(Walk &w, const QString &path, Trust trust)
{
    if (trust == Trust::UserAlone)
        w.counted = Counted{::geteuid(), ::geteuid()};
    if (path.isEmpty() || !QDir::isAbsolutePath(path) ||
        !openFolder(w.folder, AT_FDCWD, "/", O_PATH | O_DIRECTORY))
        return refuse(w, Refusal::Unreachable);
    w.names = split(QFile::encodeName(path).toStdString());
    return true;
}

// Walks the folders of `path`, root's and the user's alone counting; where
// `make`, a missing folder is made for the user alone in a folder that keeps
// its entries safe. Ends at the folder, or, where one is missing and none is
// made, at the nearest one above it (`absent` then says so).
bool walkFolders(Walk &w, const QString &path, bool make)
{
    if (!startWalk(w, path, Trust::UserAlone))
        return false;
    while (!w.names.empty()) {
        const std::string next = w.names.front();
        if (next == ".") {
            w.names.pop_front();
            continue;
        }
        Folder entry;
        if (!openFolder(entry, w.folder.fd.get(), next.c_str(), kLookFlags) && errno == ENOENT) {
            if (!make) {
                w.place.absent = true;
                return true;
            }
            if (++w.steps > kMaxSteps || entriesSafety(w.folder, *w.counted) != Refusal::None ||
                (::mkdirat(w.folder.fd.get(), next.c_str(), 0700) != 0 && errno != EEXIST))
                return false;
            continue; // looked at again, made by us or by someone meanwhile
        }
        w.names.pop_front();
        if (!enterFolder(w, next))
            return false;
    }
    return true;
}

} // namespace

Place findFile(const QString &path, Opening opening, Trust trust)
{
    Walk w;
    if (path.isEmpty() || !startWalk(w, QFileInfo(path).absoluteFilePath(), trust))
        return std::move(w.place);
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

bool isOwnFolder(const QString &path)
{
    Walk w;
    // Where a name on the way is missing or no folder, the folder reached is
    // where it would be made.
    if (!walkFolders(w, path, false) && !w.place.absent)
        return false;
    return (*w.counted)(w.folder.st.st_uid) && !othersMayWriteFolder(w.folder, *w.counted);
}

bool makeOwnFolder(const QString &path)
{
    Walk w;
    return walkFolders(w, path, true) && entriesSafety(w.folder, *w.counted) == Refusal::None;
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
