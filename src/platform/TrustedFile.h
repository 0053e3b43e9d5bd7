// Finding a file by name the way it may be trusted, once.
//
// findFile() walks the path one name at a time through folder descriptors,
// follows symbolic links itself (at most 40) and opens the file it ends at,
// so that what it judges is what the caller then reads and writes: the open
// descriptor, its fstat, and the folder it lies in. Nothing that another
// account could have put there or swapped is used (Accounts.h says which
// accounts count: root, the user and the owner of the folder the path names
// its file in, who installed the program):
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
Place findFile(const QString &path, Opening opening);

// The same name still leads to the open file: no other file has taken its
// place in its folder since it was opened.
bool stillInPlace(const Place &place);

} // namespace Platform
