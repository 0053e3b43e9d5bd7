#include "platform/Accounts.h"

#include "platform/PosixAcl.h"

#include <QFile>

#include <cerrno>
#include <cstdio>
#include <functional>
#include <grp.h>
#include <optional>
#include <pwd.h>
#include <string>
#include <vector>

namespace Platform {

namespace {

struct AccountFiles {
    QByteArray passwd;
    QByteArray group;
};

AccountFiles &accountFiles()
{
    static AccountFiles files;
    return files;
}

constexpr size_t kEntryBuffer = 16384;
constexpr size_t kLargestGroupBuffer = size_t(1) << 24;

// An account as the passwd database has it: its id and primary group.
struct User {
    uid_t uid;
    gid_t gid;
};

class File {
public:
    explicit File(const QByteArray &path) : file_(std::fopen(path.constData(), "re")) {}
    ~File()
    {
        if (file_)
            std::fclose(file_);
    }
    File(const File &) = delete;
    File &operator=(const File &) = delete;
    FILE *get() const { return file_; }

private:
    FILE *file_;
};

// Calls `each` for every account until it returns false; false when the
// database could not be read.
bool forEachUser(const std::function<bool(const passwd &)> &each)
{
    std::vector<char> buffer(kEntryBuffer);
    passwd entry {};
    passwd *found = nullptr;
    const QByteArray &path = accountFiles().passwd;
    if (!path.isEmpty()) {
        const File file(path);
        if (!file.get())
            return false;
        while (::fgetpwent_r(file.get(), &entry, buffer.data(), buffer.size(), &found) == 0 && found)
            if (!each(entry))
                break;
        return true;
    }
    ::setpwent();
    while (::getpwent_r(&entry, buffer.data(), buffer.size(), &found) == 0 && found)
        if (!each(entry))
            break;
    ::endpwent();
    return true;
}

std::optional<User> userNamed(const char *name)
{
    std::optional<User> user;
    if (accountFiles().passwd.isEmpty()) {
        std::vector<char> buffer(kEntryBuffer);
        passwd entry {};
        passwd *found = nullptr;
        if (::getpwnam_r(name, &entry, buffer.data(), buffer.size(), &found) == 0 && found)
            user = User{found->pw_uid, found->pw_gid};
        return user;
    }
    forEachUser([&](const passwd &entry) {
        if (std::string(entry.pw_name) != name)
            return true;
        user = User{entry.pw_uid, entry.pw_gid};
        return false;
    });
    return user;
}

std::vector<std::string> namesOf(const group &entry)
{
    std::vector<std::string> members;
    for (char **member = entry.gr_mem; member && *member; ++member)
        members.emplace_back(*member);
    return members;
}

// The names of the group's members, or nothing where the group is unknown.
std::optional<std::vector<std::string>> membersOf(gid_t gid)
{
    group entry {};
    group *found = nullptr;
    const QByteArray &path = accountFiles().group;
    if (!path.isEmpty()) {
        std::vector<char> buffer(kEntryBuffer);
        const File file(path);
        while (file.get() && ::fgetgrent_r(file.get(), &entry, buffer.data(), buffer.size(), &found) == 0 && found)
            if (found->gr_gid == gid)
                return namesOf(*found);
        return std::nullopt;
    }
    // A large group's members need a larger buffer.
    for (size_t size = kEntryBuffer; size <= kLargestGroupBuffer; size *= 4) {
        std::vector<char> buffer(size);
        const int error = ::getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &found);
        if (error == 0 && found)
            return namesOf(*found);
        if (error != ERANGE)
            break;
    }
    return std::nullopt;
}

bool letsWrite(uint16_t perm, uint16_t mask) { return (perm & mask & Acl::Write) != 0; }

// Whom the ACL lets write besides the owner and the other bits.
bool aclLetsOthersWrite(const std::vector<Acl::Entry> &acl, gid_t owningGroup, const Counted &counted)
{
    const uint16_t mask = Acl::permOf(acl, Acl::Mask).value_or(7);
    for (const Acl::Entry &e : acl) {
        if (!letsWrite(e.perm, mask))
            continue;
        if ((e.tag == Acl::User && !counted(uid_t(e.id))) ||
            (e.tag == Acl::GroupObj && groupHoldsOthers(owningGroup, counted)) ||
            (e.tag == Acl::Group && groupHoldsOthers(gid_t(e.id), counted)))
            return true;
    }
    return false;
}

} // namespace

bool groupHoldsOthers(gid_t gid, const Counted &counted)
{
    const auto members = membersOf(gid);
    if (!members)
        return true;
    for (const std::string &name : *members) {
        const auto user = userNamed(name.c_str());
        if (!user || !counted(user->uid))
            return true;
    }
    bool others = false;
    const bool read = forEachUser([&](const passwd &entry) {
        others = entry.pw_gid == gid && !counted(entry.pw_uid);
        return !others;
    });
    return others || !read;
}

bool othersMayWrite(int fd, const struct stat &st, const Counted &counted)
{
    if (st.st_mode & S_IWOTH)
        return true;
    // With an ACL the group bits are its mask: without them, no entry lets write.
    if (!(st.st_mode & S_IWGRP))
        return false;
    const auto acl = Acl::read(fd, Acl::Access);
    if (!acl)
        return true;
    if (acl->empty())
        return groupHoldsOthers(st.st_gid, counted);
    return aclLetsOthersWrite(*acl, st.st_gid, counted);
}

void setAccountFiles(const QString &passwdFile, const QString &groupFile)
{
    accountFiles() = {QFile::encodeName(passwdFile), QFile::encodeName(groupFile)};
}

} // namespace Platform
