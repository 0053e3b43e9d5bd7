#include "platform/Accounts.h"

#include "platform/PosixAcl.h"

#include <QFile>

#include <algorithm>
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
constexpr size_t kLargestEntryBuffer = size_t(1) << 24;

// An account as the user database has it.
struct User {
    gid_t gid;
    std::string name;
    std::string home;
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

User userOf(const passwd &entry) { return {entry.pw_gid, entry.pw_name, entry.pw_dir}; }

// The account with the number `uid`, asked for by number alone.
std::optional<User> userWithId(uid_t uid)
{
    passwd entry {};
    passwd *found = nullptr;
    const QByteArray &path = accountFiles().passwd;
    if (!path.isEmpty()) {
        std::vector<char> buffer(kEntryBuffer);
        const File file(path);
        while (file.get() && ::fgetpwent_r(file.get(), &entry, buffer.data(), buffer.size(), &found) == 0 && found)
            if (found->pw_uid == uid)
                return userOf(*found);
        return std::nullopt;
    }
    for (size_t size = kEntryBuffer; size <= kLargestEntryBuffer; size *= 4) {
        std::vector<char> buffer(size);
        const int error = ::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found);
        if (error == 0 && found)
            return userOf(*found);
        if (error != ERANGE)
            break;
    }
    return std::nullopt;
}

// Calls `each` for every entry of the group database; false when the
// database could not be read to its end.
bool forEachGroup(const std::function<void(const group &)> &each)
{
    group entry {};
    group *found = nullptr;
    const QByteArray &path = accountFiles().group;
    if (!path.isEmpty()) {
        std::vector<char> buffer(kEntryBuffer);
        const File file(path);
        if (!file.get())
            return false;
        while (::fgetgrent_r(file.get(), &entry, buffer.data(), buffer.size(), &found) == 0 && found)
            each(*found);
        return true;
    }
    // A large group's members need a larger buffer; the entry is read again.
    std::vector<char> buffer(kEntryBuffer);
    ::setgrent();
    int error = 0;
    for (;;) {
        error = ::getgrent_r(&entry, buffer.data(), buffer.size(), &found);
        if (error == ERANGE && buffer.size() < kLargestEntryBuffer) {
            buffer.resize(buffer.size() * 4);
            continue;
        }
        if (error != 0 || !found)
            break;
        each(*found);
    }
    ::endgrent();
    return error == 0 || error == ENOENT;
}

std::vector<std::string> namesOfCounted(const Counted &counted)
{
    std::vector<std::string> names;
    for (const uid_t uid : {uid_t(0), counted.user, counted.installer})
        if (const auto user = userWithId(uid))
            names.push_back(user->name);
    return names;
}

bool isPrimaryGroupOfCounted(gid_t gid, const Counted &counted)
{
    for (const uid_t uid : {uid_t(0), counted.user, counted.installer}) {
        const auto user = userWithId(uid);
        if (user && user->gid == gid)
            return true;
    }
    return false;
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
    // Any group but an account's own may hold anyone: no database is read.
    if (!isPrimaryGroupOfCounted(gid, counted))
        return true;
    const std::vector<std::string> own = namesOfCounted(counted);
    int names = 0;
    bool others = false;
    const bool read = forEachGroup([&](const group &entry) {
        if (entry.gr_gid != gid)
            return;
        ++names;
        for (char **member = entry.gr_mem; member && *member; ++member)
            others = others || std::find(own.begin(), own.end(), std::string(*member)) == own.end();
    });
    return !read || others || names != 1;
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

QString homeOfAccount(uid_t uid)
{
    const auto user = userWithId(uid);
    return user ? QFile::decodeName(QByteArray::fromStdString(user->home)) : QString();
}

void setAccountFiles(const QString &passwdFile, const QString &groupFile)
{
    accountFiles() = {QFile::encodeName(passwdFile), QFile::encodeName(groupFile)};
}

} // namespace Platform
