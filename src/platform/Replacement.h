// The new file a save writes beside the file it replaces, in the same
// folder: private (0600) to its maker and the file's owner from its making,
// removed again unless it takes the file's name.
//
// Savers of one file keep out of each other's way through a new file of one
// shared name (".<name>.saving"): whoever holds its write lock writes it, and
// a saver waits for that lock no longer than its deadline, then goes on with
// a file of a name of its own (".<name>.<number>"). A reader, of any account,
// holds no saver up: it can take no write lock, and a file an interrupted
// save left at the shared name is replaced by a new one, whoever has it open.
#pragma once

#include "platform/LockWait.h"
#include "platform/TrustedFile.h"

#include <QByteArray>

#include <string>
#include <sys/types.h>

namespace Platform {

class Replacement {
public:
    // A new file beside the place, given to `owner` (who may be another
    // account only where root makes it).
    Replacement(const Place &place, uid_t owner, Deadline deadline);
    ~Replacement();
    Replacement(const Replacement &) = delete;
    Replacement &operator=(const Replacement &) = delete;

    explicit operator bool() const { return bool(fd_); }
    int fd() const { return fd_.get(); }

    // Its bytes, whole and synced.
    bool write(const QByteArray &bytes);
    // Takes the place's name: over the file there, or only where none is.
    bool takeName(bool overAFile);

private:
    bool takeShared(uid_t owner, Deadline deadline);
    void makeOwn(uid_t owner);

    int folder_;
    std::string target_;
    std::string name_;
    Fd fd_;
    bool placed_ = false;
};

} // namespace Platform
