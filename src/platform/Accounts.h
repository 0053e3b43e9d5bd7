// Who, besides the accounts that count, may write a file or folder.
//
// The settings file is trusted only where nothing on its way could have been
// put there or swapped by an account other than root, the user and the owner
// of the program's folder (who installed it). What lets another account write
// is judged as the kernel would let it: the other bits; the group bits, where
// the group holds another account (a member named in the group database, or
// an account whose primary group it is); and an ACL entry for a user or group
// that lets write, as its mask leaves it.
#pragma once

#include <QString>

#include <sys/stat.h>
#include <sys/types.h>

namespace Platform {

// The accounts that count: root, `user` and `installer`.
struct Counted {
    uid_t user;
    uid_t installer;
    bool operator()(uid_t uid) const { return uid == 0 || uid == user || uid == installer; }
};

// May an account that does not count write the file or folder open as `fd`,
// whose fstat is `st`? A group or an account the databases do not know, and
// an ACL that cannot be read, are taken as another account's.
bool othersMayWrite(int fd, const struct stat &st, const Counted &counted);

// Does the group hold an account that does not count?
bool groupHoldsOthers(gid_t group, const Counted &counted);

// Seam for tests: the user and group databases are read from these files (in
// the format of /etc/passwd and /etc/group) in place of the system's; empty
// paths go back to the system's.
void setAccountFiles(const QString &passwdFile, const QString &groupFile);

} // namespace Platform
