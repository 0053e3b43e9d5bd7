// Who, besides the accounts that count, may write a file or folder.
//
// A settings file is trusted only where nothing on its way could have been
// put there or swapped by an account other than those that count (root, the
// user and, for the file beside the executable, the owner of the program's
// folder, who installed it). What lets another account write is judged as
// the kernel would let it: the other bits; an ACL entry for a user that does
// not count, or for a group, that lets write as its mask leaves it; and the
// group bits, unless the group is plainly the own group of an account that
// counts: that account's primary group, with no member named besides the
// accounts that count and no second group name with the same number. The
// user database is asked only for the accounts that count, by number, never
// read whole; the group database is read only for such a primary group.
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

// May an account that does not count be in the group (by the rule above)?
bool groupHoldsOthers(gid_t group, const Counted &counted);

// The home folder the user database gives the account, empty when it gives
// none.
QString homeOfAccount(uid_t uid);

// Seam for tests: the user and group databases are read from these files (in
// the format of /etc/passwd and /etc/group) in place of the system's; empty
// paths go back to the system's.
void setAccountFiles(const QString &passwdFile, const QString &groupFile);

} // namespace Platform
