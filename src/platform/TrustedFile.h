// Finding a file by name the way it may be trusted, once.
//
// findFile() walks the path one name at a time through folder descriptors,
// follows symbolic links itself (at most 40) and opens the file it ends at,
// so that what it judges is what the caller then reads and writes: the open
// descriptor, its fstat, and the folder it lies in. Nothing that another
// account could have put there or swapped is used (Accounts.h says how
// another account's write is judged). The accounts that count are root and
// the user, and, where the trust says so, the owner of the folder the path
// names its file in (who installed the program there):
// - every folder walked, every link followed and the file itself belongs to
//   an account that counts;
// - a folder that another account may write is passed only when it is sticky
//   (as /tmp), where no other account may swap an entry that is not its own;
// - in such a folder, a file with more than one name (a hard link another
//   account may have made to a file it could not read) is not used;
// - only a regular file on an ordinary filesystem is a file: a device, pipe,
//   socket or folder is never opened for reading or writing (it is looked at
//   through O_PATH only), so nothing hangs and no device sees an open; a file
//   of /proc, /sys or another kernel filesystem is none either, nor is a
//   regular file larger than any ini file this program reads (1 MiB).
// What is refused says why (Refusal).
//
// isOwnFolder() and makeOwnFolder() walk to a folder by the same rules, with
// root and the user alone counting.
#pragma once

#include <QString>

#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <utility>

namespace Platform {

// A file descriptor that closes itself.
class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    Fd(Fd &&other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Fd &operator=(Fd &&other) noexcept
    {
        reset(std::exchange(other.fd_, -1));
        return *this;
    }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    ~Fd() { reset(); }

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    void reset(int fd = -1);

private:
    int fd_ = -1;
};

// The largest settings file read or written.
inline constexpr off_t MaxFileSize = 1 << 20;

// How a file found or made beside one is opened (with its access mode): never
// through a link, never waiting on a device, never as a controlling terminal.
inline constexpr int SafeOpenFlags = O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;

// Whose folders, links and files count besides root and the user.
enum class Trust {
    WithFolderOwner, // the owner of the folder the path names its file in
    UserAlone,       // no one: the user's own files
};

// Why a name led to nothing that may be used.
enum class Refusal {
    None,
    Unreachable,  // a folder on the way cannot be looked into, a link cannot be read
    LeadsNowhere, // a link leads to a missing folder, to itself, or through too many links
    OthersFolder, // a folder on the way belongs to another account
    OthersLink,   // a link on the way belongs to another account
    OthersFile,   // the file belongs to another account
    OpenFolder,   // another account may write a folder on the way, which is not sticky
    SecondName,   // in a folder others may write, the file has another name too
    NotAFile,     // a device, pipe, socket or folder
    TooLarge,     // larger than any settings file
    KernelFile,   // a file of a kernel filesystem
    OpenToAll,    // every account may write the file (judged by the settings file's store)
};

enum class Found {
    File,     // a regular file that may be used, open in `file`
    Missing,  // no file of that name (yet) in a folder that may hold one
    Unusable, // a folder, link or file not passed or used by the rules
              // above, no regular file, a link loop, a missing folder on the way
};

// Where a name led.
struct Place {
    Found found = Found::Unusable;
    // Nothing stands at the path as named: its last name or one of its
    // folders is missing (a link whose target is missing does not count).
    bool absent = false;
    Refusal refusal = Refusal::None; // Unusable: why
    bool throughLink = false; // the last name is a symbolic link, followed
    bool writable = false;    // File: opened for writing as well as reading
    Fd folder;                // File, Missing: the folder it lies in (O_PATH)
    struct stat folderSt {};  // File, Missing: fstat of `folder`
    bool folderOpen = false;  // File, Missing: another account may write `folder` (it is sticky)
    std::string name;         // its name in that folder
    Fd file;                  // File
    struct stat st {};        // File: fstat of `file`
};

enum class Opening { ForReading, ForWriting };

// ForWriting opens the file for reading and writing where this user may,
// else for reading only (`writable` says which).
Place findFile(const QString &path, Opening opening, Trust trust = Trust::WithFolderOwner);

// The same name still leads to the open file: no other file has taken its
// place in its folder since it was opened.
bool stillInPlace(const Place &place);

// Is the folder at `path` the user's own: reached through folders and links
// of root's and the user's alone, none of which another account may change,
// and theirs, without any other account that may write it? A missing folder
// is judged by the nearest folder above it that exists, where it would be
// made.
bool isOwnFolder(const QString &path);

// Makes the folder at `path` with every missing folder above it, for the user
// alone (0700), walking to it by findFile()'s rules with root and the user
// alone counting: no folder or link of another account's is entered or
// followed. True when the folder is there and may hold the user's files.
bool makeOwnFolder(const QString &path);

} // namespace Platform
