// Who else may write through a group: a group counts as the user's own only
// where it plainly is (an account's primary group, no other member, no
// second name for its number), judged without reading the user database
// whole.
#include "platform/Accounts.h"
#include "platform/TrustedFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Reading the user database whole is what a check must never do: these take
// the C library's place in this program and count each call.
int wholeDatabaseReads = 0;

} // namespace

extern "C" {
void setpwent() { ++wholeDatabaseReads; }
int getpwent_r(passwd *, char *, size_t, passwd **result)
{
    ++wholeDatabaseReads;
    *result = nullptr;
    return ENOENT;
}
}

namespace {

constexpr uid_t kNobody = 65534;
constexpr uid_t kAdmin = 4203;
constexpr uid_t kStranger = 5555; // no account of the user database

constexpr const char *kPasswd = "root:x:0:0:root:/root:/bin/sh\n"
                                "daemon:x:1:1:daemon:/usr/sbin:/usr/sbin/nologin\n"
                                "admin:x:4203:4203:administrator:/home/admin:/bin/sh\n"
                                "nobody:x:65534:65534:nobody:/nonexistent:/usr/sbin/nologin\n";

// The databases of one case, in force while it lives.
class Databases {
public:
    explicit Databases(const char *groups)
    {
        write(QStringLiteral("passwd"), kPasswd);
        write(QStringLiteral("group"), groups);
        Platform::setAccountFiles(dir_.filePath(QStringLiteral("passwd")), dir_.filePath(QStringLiteral("group")));
    }
    ~Databases() { Platform::setAccountFiles({}, {}); }
    Databases(const Databases &) = delete;
    Databases &operator=(const Databases &) = delete;

private:
    void write(const QString &name, const char *text)
    {
        QFile f(dir_.filePath(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
    }
    QTemporaryDir dir_;
};

TEST(GroupWrite, AGroupIsAnAccountsOwnOnlyWherePlainlySo)
{
    struct Row {
        const char *what;
        const char *groups;
        gid_t gid;
        Platform::Counted counted;
        bool holdsOthers;
    };
    const Row rows[] = {
        {"the user's private group", "nogroup:x:65534:\n", kNobody, {kNobody, kNobody}, false},
        {"the user's private group, naming him", "nogroup:x:65534:nobody\n", kNobody, {kNobody, kNobody}, false},
        {"the installer's private group", "admin:x:4203:\n", kAdmin, {kNobody, kAdmin}, false},
        {"root's group", "root:x:0:\n", 0, {kNobody, kNobody}, false},
        {"the user's group with another member", "nogroup:x:65534:daemon\n", kNobody, {kNobody, kNobody}, true},
        {"a second name for the user's group, holding a colleague", "nogroup:x:65534:\ncrew:x:65534:daemon\n",
         kNobody, {kNobody, kNobody}, true},
        {"a second name for the user's group, holding no one", "nogroup:x:65534:\ncrew:x:65534:\n", kNobody,
         {kNobody, kNobody}, true},
        {"a colleague's private group", "daemon:x:1:\n", 1, {kNobody, kNobody}, true},
        {"a group that is no account's primary group, without members", "users:x:100:\n", 100, {kNobody, kNobody},
         true},
        {"the user's group missing from the group database", "users:x:100:\n", kNobody, {kNobody, kNobody}, true},
        {"the group of an account the user database does not know", "stranger:x:5555:\n", kStranger,
         {kStranger, kStranger}, true},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        const Databases databases(row.groups);
        EXPECT_EQ(Platform::groupHoldsOthers(row.gid, row.counted), row.holdsOthers);
    }
}

// The user's own folder, writable by his group: its file is used while the
// group is his alone; a second name for the group that holds a colleague
// lets the colleague swap the file, and it is refused.
TEST(GroupWrite, AFolderOfTheUsersGroupHoldsHisFileOnlyWhileTheGroupIsHisAlone)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to make a folder of another account";
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString folder = dir.filePath(QStringLiteral("program"));
    const QString file = folder + QStringLiteral("/vantoro.ini");
    ASSERT_TRUE(QDir().mkpath(folder));
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
    for (const QString &path : {folder, file})
        ASSERT_EQ(::chown(QFile::encodeName(path).constData(), kNobody, kNobody), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), 0775), 0);
    struct Row {
        const char *what;
        const char *groups;
        Platform::Found found;
        Platform::Refusal refusal;
    };
    const Row rows[] = {
        {"his private group", "nogroup:x:65534:\n", Platform::Found::File, Platform::Refusal::None},
        {"a second name for it, holding a colleague", "nogroup:x:65534:\ncrew:x:65534:daemon\n",
         Platform::Found::Unusable, Platform::Refusal::OpenFolder},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        const Databases databases(row.groups);
        const Platform::Place place = Platform::findFile(file, Platform::Opening::ForReading);
        EXPECT_EQ(place.found, row.found);
        EXPECT_EQ(place.refusal, row.refusal);
    }
}

// With the system's databases: a folder writable by the group of an account
// that counts is judged by that account and its group alone.
TEST(GroupWrite, NoCheckReadsTheWholeUserDatabase)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QByteArray path = QFile::encodeName(dir.path());
    ASSERT_EQ(::chmod(path.constData(), 0775), 0);
    const int fd = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    struct stat st {};
    ASSERT_EQ(::fstat(fd, &st), 0);
    wholeDatabaseReads = 0;
    for (const gid_t gid : {st.st_gid, gid_t(0), gid_t(kNobody), gid_t(100)}) {
        st.st_gid = gid;
        (void)Platform::othersMayWrite(fd, st, {::geteuid(), ::geteuid()});
    }
    ::close(fd);
    EXPECT_EQ(wholeDatabaseReads, 0);
}

} // namespace
