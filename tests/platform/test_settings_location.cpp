// Where the settings file lives: beside the executable while that file can be
// written (through a link, where the link leads), else a per-user copy under
// the config home, for an ordinary user and for root, with the earlier file
// left as it was; once made, the copy stays the settings file. What another
// account planted, and what is no regular file, is never followed, read or
// written.
#include "platform/SettingsFile.h"
#include "support/AccountFiles.h"
#include "support/AclValue.h"
#include "support/AsNobody.h"
#include "support/FreshHome.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <functional>
#include <iostream>
#include <map>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

namespace S = Platform::Settings;

constexpr const char *kBesideVariable = "VANTORO_TEST_SETTINGS_BESIDE";
constexpr const char *kSavedVariable = "VANTORO_TEST_SETTINGS_SAVED";
constexpr const char *kResultMark = "@@result ";
constexpr const char *kPlantedLines = "\n[Defaults]\nCustomPath=/srv/planted\n";

// What a session saw: the refusal's text (empty when the save went through)
// and the port and address read back afterwards, as std::string so that a
// failure prints them readably.
struct Outcome {
    std::string refused;
    std::string comport;
    int address = 0;
    std::string line() const { return refused + '|' + comport + '|' + std::to_string(address); }
};

void useProgramNames()
{
    QCoreApplication::setOrganizationName(QStringLiteral("Stelvanor"));
    QCoreApplication::setApplicationName(QStringLiteral("Vantoro"));
}

// What a session saves: the port and the address.
struct Saved {
    std::string comport;
    int address;
};
const Saved kFirst{"Com7", 23};
const Saved kSecond{"Com8", 24};

// As the start-up window's Connect does: saves the port and the address, then
// reads them back as the next start would.
Outcome saveThenRead(const QString &beside, const Saved &saved)
{
    useProgramNames();
    S::setFilePath(beside);
    Outcome outcome;
    try {
        Platform::IniFile file = S::open();
        S::write(file, S::Comport, QString::fromStdString(saved.comport));
        S::write(file, S::Address, saved.address);
    } catch (const std::runtime_error &e) {
        outcome.refused = e.what();
    }
    const Platform::IniFile file = S::open();
    outcome.comport = S::read(file, S::Comport).toStdString();
    outcome.address = S::read(file, S::Address);
    S::setFilePath({});
    return outcome;
}

// The session of the ordinary user, run by the table below.
TEST(SettingsLocationChild, SavesAndReadsBack)
{
    const QString beside = qEnvironmentVariable(kBesideVariable);
    if (beside.isEmpty())
        GTEST_SKIP() << "runs as the child of SettingsLocation.WhichFileHoldsTheSavedPortAndAddress";
    const QStringList saved = qEnvironmentVariable(kSavedVariable).split(QLatin1Char('|'));
    ASSERT_EQ(saved.size(), 2);
    TestSupport::useParentsAccountFiles();
    std::cout << kResultMark << saveThenRead(beside, {saved[0].toStdString(), saved[1].toInt()}).line() << std::endl;
}

// The file at `path` as it stands, read by the test: the program's own
// reading (which root does, here) would not count the saver's folders.
class RawStore : public Platform::IniStore {
public:
    explicit RawStore(QString path) : m_path(std::move(path)) {}
    QByteArray read() const override
    {
        QFile f(m_path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    void change(const std::function<QByteArray(const QByteArray &)> &) override { ADD_FAILURE() << "only read"; }
    QString path() const override { return m_path; }

private:
    QString m_path;
};

Platform::IniFile rawIni(const QString &path) { return Platform::IniFile(std::make_shared<RawStore>(path)); }

enum class Holder { Beside, UserCopy, Neither };

// Where the file a link beside the executable leads to lies: a folder of its
// own, which the user may write, may not write, or may write but which is
// sticky (as /tmp), so that only a file's owner may replace it.
enum class Shared { NoLink, Writable, ReadOnly, Sticky };

struct Case {
    const char *what;
    bool asRoot;
    bool folderWritable; // by the user who saves
    const char *earlier; // the file beside the executable before (or the link's target); nullptr: none
    bool earlierWritable;
    bool configWritable;
    Holder holder;
    Shared shared = Shared::NoLink; // else the file beside is a link to the earlier file in the shared folder
    // After the first save the program folder and its file become the
    // user's; a second save follows.
    bool thenWritable = false;
};

constexpr const char *kMissing = "(no file)";

std::string contents(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll().toStdString() : kMissing;
}

mode_t modeOf(const QString &path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 07777 : 0;
}

bool setMode(const QString &path, mode_t mode) { return ::chmod(QFile::encodeName(path).constData(), mode) == 0; }

// Saves and reads back as `account`, or as root in this process (nullptr),
// with `config` as the config home.
Outcome session(const TestSupport::Account *account, const QString &beside, const QString &config,
                const QString &rootHome, const Saved &saved)
{
    if (!account) {
        const TestSupport::FreshHome home(rootHome);
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config));
        return saveThenRead(beside, saved);
    }
    const auto child = TestSupport::runTestAs(
        *account, QStringLiteral("SettingsLocationChild.SavesAndReadsBack"),
        {{QString::fromUtf8(kBesideVariable), beside},
         {QString::fromUtf8(kSavedVariable),
          QString::fromStdString(saved.comport) + QLatin1Char('|') + QString::number(saved.address)},
         {QStringLiteral("XDG_CONFIG_HOME"), config},
         // Settings lines in the saver's own environment, as /proc/self/environ shows it.
         {QStringLiteral("VANTORO_TEST_PLANTED"), QString::fromUtf8(kPlantedLines)}});
    EXPECT_EQ(child.exitCode, 0) << child.output.toStdString();
    Outcome outcome;
    for (const QString &line : child.output.split(QLatin1Char('\n'))) {
        if (!line.startsWith(QLatin1String(kResultMark)))
            continue;
        const QStringList parts = line.mid(int(qstrlen(kResultMark))).split(QLatin1Char('|'));
        if (parts.size() == 3)
            outcome = {parts[0].toStdString(), parts[1].toStdString(), parts[2].toInt()};
    }
    return outcome;
}

// One case's folders: the executable's folder, the config home and the
// folder a link leads to, the saving user owning what is writable to it.
class Layout {
public:
    QTemporaryDir dir;
    QString program() const { return dir.filePath(QStringLiteral("program")); }
    QString config() const { return dir.filePath(QStringLiteral("config")); }
    QString shared() const { return dir.filePath(QStringLiteral("shared")); }
    QString beside() const { return program() + QStringLiteral("/vantoro.ini"); }
    QString target() const { return shared() + QStringLiteral("/vantoro.ini"); }
    QString userCopy() const { return config() + QStringLiteral("/Stelvanor/Vantoro/vantoro.ini"); }
    // Where the earlier file lies: beside the executable, or where its link leads.
    QString earlierFile(const Case &c) const { return c.shared == Shared::NoLink ? beside() : target(); }

    void prepare(const Case &c)
    {
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(QDir().mkpath(program()) && QDir().mkpath(config()) && QDir().mkpath(shared()));
        ASSERT_TRUE(setMode(dir.path(), 0755));
        if (c.earlier) {
            QFile f(earlierFile(c));
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(c.earlier);
        }
        if (c.shared != Shared::NoLink) {
            // Relative, as a link an administrator makes beside an installed program.
            ASSERT_TRUE(QFile::link(QStringLiteral("../shared/vantoro.ini"), beside()));
        }
        ASSERT_TRUE(grant(c, program(), c.folderWritable, 0755, 0755));
        if (c.earlier && c.shared == Shared::NoLink) {
            ASSERT_TRUE(grant(c, beside(), c.earlierWritable, 0644, 0444));
        }
        if (c.earlier && c.shared != Shared::NoLink) {
            // An administrator's copy: root's, and writable by the team where it may be written.
            ASSERT_EQ(::chown(QFile::encodeName(target()).constData(), 0, TestSupport::TeamGroupId), 0);
            ASSERT_TRUE(setMode(target(), c.earlierWritable ? 0664 : 0444));
        }
        if (c.shared == Shared::Writable) {
            ASSERT_TRUE(grant(c, shared(), true, 0755, 0755));
        }
        ASSERT_TRUE(setMode(shared(), c.shared == Shared::Sticky ? 01777 : 0755));
        if (c.asRoot && !c.configWritable) {
            // Root may write any folder: a file stands where the copy's folder should go.
            QFile blocker(config() + QStringLiteral("/Stelvanor"));
            ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
        }
        ASSERT_TRUE(grant(c, config(), c.configWritable, 0755, 0755));
    }

    // The program folder and the file beside it become the user's to write.
    void makeProgramWritable(const Case &c)
    {
        ASSERT_TRUE(grant(c, program(), true, 0755, 0755));
        if (c.earlier) {
            ASSERT_TRUE(grant(c, earlierFile(c), true, 0644, 0644));
        }
    }

    // The user is a member of the team that may write the administrator's copy.
    Outcome run(const Case &c, const Saved &saved) const
    {
        static constexpr TestSupport::Account kTechnician{TestSupport::NobodyId, TestSupport::NobodyId,
                                                          int(TestSupport::TeamGroupId)};
        return session(c.asRoot ? nullptr : &kTechnician, beside(), config(), dir.filePath("root"), saved);
    }

private:
    // What root keeps is read-only to nobody; root itself is held back by mode bits only.
    static bool grant(const Case &c, const QString &path, bool writable, mode_t writableMode, mode_t readOnlyMode)
    {
        const mode_t mode = writable ? writableMode : readOnlyMode;
        return !c.asRoot && writable ? TestSupport::giveToNobody(path, mode) : setMode(path, mode);
    }
};

// The file a save to `holder` wrote, read as the next start reads it.
void expectHeld(const Platform::IniFile &held, const Saved &saved, const Case &c)
{
    EXPECT_EQ(S::read(held, S::Comport).toStdString(), saved.comport);
    EXPECT_EQ(S::read(held, S::Address), saved.address);
    // The rest of the earlier file went along.
    EXPECT_EQ(S::read(held, S::CustomPath).toStdString(), c.earlier ? "/srv/meters" : "");
}

TEST(SettingsLocation, WhichFileHoldsTheSavedPortAndAddress)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to build folders for another user";
    const char *kEarlier = "; by hand\n[Defaults]\nCustomPath=/srv/meters\n\n[Settings]\nAddress=5\n";
    using Sh = Shared;
    const Case cases[] = {
        {"writable folder", false, true, kEarlier, true, true, Holder::Beside},
        {"writable folder, no file yet", false, true, nullptr, true, true, Holder::Beside},
        {"read-only folder, no file", false, false, nullptr, false, true, Holder::UserCopy},
        // The file could be rewritten in place, but not replaced whole.
        {"read-only folder, writable file", false, false, kEarlier, true, true, Holder::UserCopy},
        {"read-only folder, read-only file", false, false, kEarlier, false, true, Holder::UserCopy},
        {"read-only file in a writable folder", false, true, kEarlier, false, true, Holder::UserCopy},
        {"read-only file, root", true, true, kEarlier, false, true, Holder::UserCopy},
        {"per-user folder unwritable too", false, false, kEarlier, false, false, Holder::Neither},
        {"per-user folder unwritable too, root", true, true, kEarlier, false, false, Holder::Neither},
        // A link: the folder and mode of the file it leads to decide; a save writes through it.
        {"link to a writable file in a writable folder", false, true, kEarlier, true, true, Holder::Beside,
         Sh::Writable},
        {"link in a read-only folder to a writable file", false, false, kEarlier, true, true, Holder::Beside,
         Sh::Writable},
        {"link in a read-only folder to a writable file not made yet", false, false, nullptr, true, true,
         Holder::Beside, Sh::Writable},
        // An administrator's shared copy: rewritten in place, as no new file may take its place.
        {"link to a writable file in a read-only folder", false, true, kEarlier, true, true, Holder::Beside,
         Sh::ReadOnly},
        {"link to a read-only file in a writable folder", false, true, kEarlier, false, true, Holder::UserCopy,
         Sh::Writable},
        {"link to another user's writable file in a sticky folder", false, true, kEarlier, true, true,
         Holder::Beside, Sh::Sticky},
        // Once made, the per-user copy holds the latest settings.
        {"per-user copy in use, then the file beside becomes writable", false, false, kEarlier, false, true,
         Holder::UserCopy, Sh::NoLink, true},
        {"per-user copy in use, then a link's target becomes writable", false, false, kEarlier, false, true,
         Holder::UserCopy, Sh::Writable, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Layout world;
        world.prepare(c);
        const mode_t earlierMode = modeOf(world.beside());
        const Outcome outcome = world.run(c, kFirst);

        const bool refused = c.holder == Holder::Neither;
        EXPECT_EQ(outcome.refused, refused ? "Unable to write to " + world.userCopy().toStdString() : "");
        // Read back as the next start would: what was saved, or the earlier file.
        EXPECT_EQ(outcome.comport, refused ? "" : kFirst.comport);
        EXPECT_EQ(outcome.address, refused ? 5 : kFirst.address);

        if (!refused) {
            expectHeld(rawIni(c.holder == Holder::Beside ? world.beside() : world.userCopy()), kFirst, c);
        }
        if (c.thenWritable) {
            world.makeProgramWritable(c);
            const Outcome second = world.run(c, kSecond);
            EXPECT_EQ(second.line(), "|" + kSecond.comport + "|" + std::to_string(kSecond.address));
            expectHeld(rawIni(world.userCopy()), kSecond, c);
        }
        if (c.holder != Holder::Beside) {
            EXPECT_EQ(contents(world.beside()), c.earlier ? c.earlier : kMissing);
            if (!c.thenWritable) {
                EXPECT_EQ(modeOf(world.beside()), earlierMode);
            }
            EXPECT_EQ(QDir(world.program()).entryList(QDir::Files),
                      c.earlier || c.shared != Shared::NoLink ? QStringList{"vantoro.ini"} : QStringList{})
                << "no file left behind";
        }
        if (c.holder != Holder::UserCopy) {
            EXPECT_FALSE(QFileInfo::exists(world.userCopy()));
        }
        if (c.shared != Shared::NoLink) {
            EXPECT_TRUE(QFileInfo(world.beside()).isSymLink()) << "the link was replaced by a file";
            EXPECT_EQ(QDir(world.shared()).entryList(QDir::Files | QDir::Hidden),
                      c.earlier || c.holder == Holder::Beside ? QStringList{"vantoro.ini"} : QStringList{})
                << "no file left behind where the link leads";
        }
    }
}

// ---------------------------------------------------------------------------
// Nothing another account could have planted, and nothing that is no regular
// file, is followed, read or written: the per-user copy takes its place and
// starts from the defaults. A file that is written keeps its owner, group,
// mode and ACL. Each row runs as the account that saves.

constexpr uid_t kRoot = 0;
constexpr uid_t kNobody = TestSupport::NobodyId;
constexpr gid_t kNogroup = TestSupport::NobodyId;
constexpr uid_t kDaemon = TestSupport::Daemon.uid;
constexpr gid_t kUsers = TestSupport::UsersGroupId;
constexpr gid_t kTeam = TestSupport::TeamGroupId;
constexpr uid_t kAdmin = TestSupport::AdminId;
constexpr TestSupport::Account kNobodyInTeam{kNobody, kNogroup, int(kTeam)};
constexpr const char *kEarlierFile = "; by hand\n[Defaults]\nCustomPath=/srv/meters\n\n[Settings]\nAddress=5\n";
constexpr const char *kPlanted = "[Defaults]\nCustomPath=/srv/planted\n[Settings]\nAddress=9\n";
constexpr const char *kProfile = "export PATH=\"$HOME/bin:$PATH\"\n";
constexpr const char *kPrivate = "[Defaults]\nCustomPath=/home/tech/private\n";

// An entry as lstat shows it (type and mode, owner and group, device), with its ACL.
std::string attributesOf(const QString &path)
{
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return "(missing)";
    char text[96];
    std::snprintf(text, sizeof text, "%06o %u:%u device %lx acl ", unsigned(st.st_mode), unsigned(st.st_uid),
                  unsigned(st.st_gid), static_cast<unsigned long>(st.st_rdev));
    return text + TestSupport::aclOf(path).toHex().toStdString();
}

// A regular file's bytes, a link's target; nothing else is opened.
std::string bytesOf(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat st {};
    if (::lstat(name.constData(), &st) != 0)
        return {};
    if (S_ISLNK(st.st_mode)) {
        char target[PATH_MAX];
        const ssize_t n = ::readlink(name.constData(), target, sizeof target);
        return "-> " + std::string(target, size_t(std::max<ssize_t>(n, 0)));
    }
    return S_ISREG(st.st_mode) ? contents(path) : std::string();
}

ino_t inodeOf(const QString &path)
{
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_ino : 0;
}

using Snapshot = std::map<std::string, std::string>;

// Every entry under `root` but those under `skipped`, and the `extra` paths.
Snapshot snapshotOf(const QString &root, const QString &skipped, const QStringList &extra = {})
{
    QStringList paths = extra;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (skipped.isEmpty() || !path.startsWith(skipped))
            paths << path;
    }
    Snapshot shot;
    for (const QString &path : paths)
        shot[path.toStdString()] =
            attributesOf(path) + " inode " + std::to_string(inodeOf(path)) + " | " + bytesOf(path);
    return shot;
}

// A row's folders, files, links and special files, each with its owner.
class World {
public:
    QTemporaryDir dir;
    QString held;        // where the save must land; empty: the per-user copy
    QStringList watched; // outside the world, and to stay as they are

    QString at(const QString &relative) const { return dir.filePath(relative); }
    QString beside() const { return at(QStringLiteral("program/vantoro.ini")); }
    QString config() const { return at(QStringLiteral("config")); }
    QString userCopy() const { return at(QStringLiteral("config/Stelvanor/Vantoro/vantoro.ini")); }

    // The world and the config home of the account that saves (root for nullptr).
    void prepare(const TestSupport::Account *saver)
    {
        ASSERT_TRUE(dir.isValid());
        ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
        folder("config", saver ? saver->uid : kRoot, saver ? saver->gid : kRoot, 0755);
    }
    void folder(const char *name, uid_t uid, gid_t gid, mode_t mode)
    {
        EXPECT_TRUE(QDir().mkpath(at(name))) << name;
        own(name, uid, gid, mode);
    }
    void file(const char *name, const char *bytes, uid_t uid, gid_t gid, mode_t mode)
    {
        QFile f(at(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly)) << name;
        f.write(bytes);
        f.close();
        own(name, uid, gid, mode);
    }
    void link(const char *name, const char *target, uid_t uid)
    {
        const QByteArray path = QFile::encodeName(at(name));
        EXPECT_EQ(::symlink(target, path.constData()), 0) << name;
        EXPECT_EQ(::lchown(path.constData(), uid, uid), 0) << name;
    }
    // A character device of our own that works as /dev/null, or a pipe.
    void node(const char *name, mode_t type)
    {
        const dev_t device = type == S_IFCHR ? makedev(1, 3) : 0;
        EXPECT_EQ(::mknod(QFile::encodeName(at(name)).constData(), type | 0666, device), 0) << name;
    }
    void socket(const char *name)
    {
        sockaddr_un address {};
        address.sun_family = AF_UNIX;
        const QByteArray path = QFile::encodeName(at(name));
        ASSERT_LT(size_t(path.size()), sizeof address.sun_path);
        std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
        const int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
        EXPECT_EQ(::bind(s, reinterpret_cast<const sockaddr *>(&address), sizeof address), 0) << name;
        ::close(s);
    }
    void hardLink(const char *name, const char *existing)
    {
        // Root may make it whatever fs.protected_hardlinks says, as anyone may where it is 0.
        EXPECT_EQ(::link(QFile::encodeName(at(existing)).constData(), QFile::encodeName(at(name)).constData()), 0)
            << name;
    }
    void acl(const char *name, std::initializer_list<TestSupport::AclEntry> entries)
    {
        EXPECT_TRUE(TestSupport::setAcl(at(name), entries)) << name;
    }

    void own(const char *name, uid_t uid, gid_t gid, mode_t mode)
    {
        const QByteArray path = QFile::encodeName(at(name));
        EXPECT_EQ(::chown(path.constData(), uid, gid), 0) << name;
        EXPECT_EQ(::chmod(path.constData(), mode), 0) << name;
    }
};

struct Planting {
    const char *what;
    const TestSupport::Account *saver; // nullptr: root
    std::function<void(World &)> arrange;
    const char *carried; // the CustomPath read back: the earlier file's, or "" for the defaults
};

// The technician's own files in their home folder.
void technicianHome(World &w)
{
    w.folder("home", kNobody, kNogroup, 0755);
    w.file("home/.profile", kProfile, kNobody, kNogroup, 0644);
    w.file("home/vantoro.ini", kEarlierFile, kNobody, kNogroup, 0644);
}

// The program's folder as root keeps it, with the file beside it a link to `target`.
std::function<void(World &)> rootsLinkTo(const char *target, std::function<void(World &)> more = {})
{
    return [=](World &w) {
        w.folder("program", kRoot, kRoot, 0755);
        w.folder("dev", kRoot, kRoot, 0755);
        if (more)
            more(w);
        w.link("program/vantoro.ini", target, kRoot);
    };
}

TEST(SettingsLocation, NothingPlantedAndNothingButARegularFileIsFollowedReadOrWritten)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to plant files as other accounts and to save as them";
    const TestSupport::AccountFiles accounts;
    const TestSupport::Account *nobody = &TestSupport::Nobody;
    const Planting rows[] = {
        // In a sticky folder that others may write, as /tmp or a team's tools folder.
        {"another account's link in a sticky folder", nobody,
         [](World &w) {
             w.folder("program", kRoot, kRoot, 01777);
             technicianHome(w);
             w.link("program/vantoro.ini", "../home/.profile", kDaemon);
         },
         ""},
        {"the user's own link in a sticky folder", nobody,
         [](World &w) {
             w.folder("program", kRoot, kRoot, 01777);
             technicianHome(w);
             w.link("program/vantoro.ini", "../home/vantoro.ini", kNobody);
             w.held = w.at("home/vantoro.ini");
         },
         "/srv/meters"},
        {"a link of the sticky folder's owner", nobody,
         [](World &w) {
             w.folder("program", kDaemon, kDaemon, 01777);
             technicianHome(w);
             w.link("program/vantoro.ini", "../home/vantoro.ini", kDaemon);
             w.held = w.at("home/vantoro.ini");
         },
         "/srv/meters"},
        {"another account's file in a sticky folder", nobody,
         [](World &w) {
             w.folder("program", kRoot, kRoot, 01777);
             w.file("program/vantoro.ini", kPlanted, kDaemon, kDaemon, 0666);
         },
         ""},
        // In a folder that others may write and that is not sticky, anyone may swap anything.
        {"the user's own link in a folder anyone may write", nobody,
         [](World &w) {
             w.folder("program", kRoot, kRoot, 0777);
             technicianHome(w);
             w.link("program/vantoro.ini", "../home/vantoro.ini", kNobody);
         },
         ""},
        {"the user's own file in a folder anyone may write", nobody,
         [](World &w) {
             w.folder("program", kRoot, kRoot, 0777);
             w.file("program/vantoro.ini", kEarlierFile, kNobody, kNogroup, 0644);
         },
         ""},
        // No regular file: never opened for reading or writing, never replaced, no hang.
        {"a link to a device node, root", nullptr,
         rootsLinkTo("../dev/null", [](World &w) { w.node("dev/null", S_IFCHR); }), ""},
        {"a link to a pipe, root", nullptr, rootsLinkTo("../dev/pipe", [](World &w) { w.node("dev/pipe", S_IFIFO); }),
         ""},
        {"a pipe in its place", nobody,
         [](World &w) {
             w.folder("program", kNobody, kNogroup, 0755);
             w.node("program/vantoro.ini", S_IFIFO);
         },
         ""},
        {"a link to a socket, root", nullptr,
         rootsLinkTo("../dev/socket", [](World &w) { w.socket("dev/socket"); }), ""},
        {"a link to a folder, root", nullptr,
         rootsLinkTo("../dev/folder", [](World &w) { w.folder("dev/folder", kRoot, kRoot, 0755); }), ""},
        {"a link into a missing folder, root", nullptr, rootsLinkTo("../nowhere/vantoro.ini"), ""},
        {"a link loop, root", nullptr,
         rootsLinkTo("loop-a",
                     [](World &w) {
                         w.link("program/loop-a", "loop-b", kRoot);
                         w.link("program/loop-b", "loop-a", kRoot);
                     }),
         ""},
        {"a link to /dev/zero, root", nullptr,
         rootsLinkTo("/dev/zero", [](World &w) { w.watched << QStringLiteral("/dev/zero"); }), ""},
        // A dangling link whose folder may be written is written through: the file is made there.
        {"a dangling link into a writable folder, root", nullptr,
         rootsLinkTo("../shared/vantoro.ini",
                     [](World &w) {
                         w.folder("shared", kRoot, kRoot, 0755);
                         w.held = w.at("shared/vantoro.ini");
                     }),
         ""},
        // What is written keeps its owner, group, mode and ACL.
        {"a user's file with an ACL, saved by root", nullptr,
         [](World &w) {
             w.folder("program", kNobody, kNogroup, 0755);
             w.file("program/vantoro.ini", kEarlierFile, kNobody, kNogroup, 0640);
             w.acl("program/vantoro.ini", {{TestSupport::AclUserObj, 6},
                                           {TestSupport::AclUser, 4, kDaemon},
                                           {TestSupport::AclGroupObj, 4},
                                           {TestSupport::AclMask, 4},
                                           {TestSupport::AclOther, 0}});
             w.held = w.beside();
         },
         "/srv/meters"},
        // A folder the team may write: any member may swap what is in it, unless it is sticky.
        {"a colleague's link in the team's folder", &kNobodyInTeam,
         [](World &w) {
             w.folder("program", kRoot, kTeam, 02775);
             technicianHome(w);
             w.link("program/vantoro.ini", "../home/.profile", kDaemon);
         },
         ""},
        {"a colleague's file in the team's folder", &kNobodyInTeam,
         [](World &w) {
             w.folder("program", kRoot, kTeam, 02775);
             w.file("program/vantoro.ini", kPlanted, kDaemon, kTeam, 0664);
         },
         ""},
        {"the technician's own file in the team's folder", &kNobodyInTeam,
         [](World &w) {
             w.folder("program", kRoot, kTeam, 02775);
             w.file("program/vantoro.ini", kEarlierFile, kNobody, kTeam, 0664);
         },
         ""},
        {"the technician's own file in the team's sticky folder", &kNobodyInTeam,
         [](World &w) {
             w.folder("program", kRoot, kTeam, 03775);
             w.file("program/vantoro.ini", kEarlierFile, kNobody, kTeam, 0664);
             w.held = w.beside();
         },
         "/srv/meters"},
        // An administrator's folder that an ACL opens to a colleague or a team.
        {"a colleague's file in a folder an ACL lets him write", nobody,
         [](World &w) {
             w.folder("program", kAdmin, kAdmin, 0755);
             w.acl("program", {{TestSupport::AclUserObj, 7},
                               {TestSupport::AclUser, 7, kDaemon},
                               {TestSupport::AclGroupObj, 5},
                               {TestSupport::AclMask, 7},
                               {TestSupport::AclOther, 5}});
             w.file("program/vantoro.ini", kPlanted, kDaemon, kDaemon, 0644);
         },
         ""},
        {"the technician's own link in a folder an ACL lets the team write", nobody,
         [](World &w) {
             w.folder("program", kAdmin, kAdmin, 0755);
             w.acl("program", {{TestSupport::AclUserObj, 7},
                               {TestSupport::AclGroupObj, 5},
                               {TestSupport::AclGroup, 7, kTeam},
                               {TestSupport::AclMask, 7},
                               {TestSupport::AclOther, 5}});
             technicianHome(w);
             w.link("program/vantoro.ini", "../home/vantoro.ini", kNobody);
         },
         ""},
        // The mask leaves the colleague no write: the administrator's file is the seed.
        {"an ACL whose mask takes the colleague's write away", nobody,
         [](World &w) {
             w.folder("program", kAdmin, kAdmin, 0755);
             w.acl("program", {{TestSupport::AclUserObj, 7},
                               {TestSupport::AclUser, 7, kDaemon},
                               {TestSupport::AclGroupObj, 5},
                               {TestSupport::AclMask, 5},
                               {TestSupport::AclOther, 5}});
             w.file("program/vantoro.ini", kEarlierFile, kAdmin, kAdmin, 0644);
         },
         "/srv/meters"},
        // The administrator's link leads through a sticky folder to a folder a colleague made there first.
        {"a colleague's folder on the way to the administrator's link, with a link in it", nobody,
         [](World &w) {
             w.folder("program", kAdmin, kAdmin, 0755);
             w.folder("shared", kRoot, kRoot, 01777);
             w.folder("shared/team", kDaemon, kDaemon, 0755);
             technicianHome(w);
             w.link("shared/team/vantoro.ini", "../../home/.profile", kDaemon);
             w.link("program/vantoro.ini", "../shared/team/vantoro.ini", kAdmin);
         },
         ""},
        {"a colleague's folder on the way to the administrator's link, with a file in it", nobody,
         [](World &w) {
             w.folder("program", kAdmin, kAdmin, 0755);
             w.folder("shared", kRoot, kRoot, 01777);
             w.folder("shared/team", kDaemon, kDaemon, 0755);
             w.file("shared/team/vantoro.ini", kPlanted, kDaemon, kDaemon, 0644);
             w.link("program/vantoro.ini", "../shared/team/vantoro.ini", kAdmin);
         },
         ""},
        // The technician's own file, but through a second name another account made.
        {"a hard link to the technician's private file in a sticky folder", nobody,
         [](World &w) {
             w.folder("program", kRoot, kRoot, 01777);
             technicianHome(w);
             w.file("home/private.ini", kPrivate, kNobody, kNogroup, 0600);
             w.hardLink("program/vantoro.ini", "home/private.ini");
         },
         ""},
        // The kernel's files are no settings files, though they count as regular files.
        {"a link to the saver's own environment in /proc", nobody, rootsLinkTo("/proc/self/environ"), ""},
        {"a link to a file in /proc that the saver may write", nobody, rootsLinkTo("/proc/self/comm"), ""},
        // An administrator's copy for a team, in a folder only root may write: rewritten in place.
        {"a group's shared file with an ACL, saved by a member through his link", &TestSupport::NobodyInUsers,
         [](World &w) {
             w.folder("program", kNobody, kNogroup, 0755);
             w.folder("shared", kRoot, kRoot, 0755);
             w.file("shared/vantoro.ini", kEarlierFile, kRoot, kUsers, 0664);
             w.acl("shared/vantoro.ini", {{TestSupport::AclUserObj, 6},
                                          {TestSupport::AclUser, 6, kDaemon},
                                          {TestSupport::AclGroupObj, 6},
                                          {TestSupport::AclMask, 6},
                                          {TestSupport::AclOther, 4}});
             w.link("program/vantoro.ini", "../shared/vantoro.ini", kNobody);
             w.held = w.at("shared/vantoro.ini");
         },
         "/srv/meters"},
        // Every account may write it: no settings file, and not what the copy starts from.
        {"the technician's own file that every account may write", nobody,
         [](World &w) {
             w.folder("program", kNobody, kNogroup, 0755);
             w.file("program/vantoro.ini", kEarlierFile, kNobody, kNogroup, 0666);
         },
         ""},
        {"the technician's own link to a file every account may write", nobody,
         [](World &w) {
             w.folder("program", kNobody, kNogroup, 0755);
             technicianHome(w);
             w.own("home/vantoro.ini", kNobody, kNogroup, 0666);
             w.link("program/vantoro.ini", "../home/vantoro.ini", kNobody);
         },
         ""},
    };
    for (const Planting &row : rows) {
        SCOPED_TRACE(row.what);
        World w;
        w.prepare(row.saver);
        row.arrange(w);
        Snapshot before = snapshotOf(w.dir.path(), w.config(), w.watched);
        const std::string heldBefore = before.count(w.held.toStdString()) ? attributesOf(w.held) : std::string();

        const Outcome outcome = session(row.saver, w.beside(), w.config(), w.at(QStringLiteral("root")), kFirst);
        EXPECT_EQ(outcome.line(), "|" + kFirst.comport + "|" + std::to_string(kFirst.address));

        const Platform::IniFile holder = rawIni(w.held.isEmpty() ? w.userCopy() : w.held);
        EXPECT_EQ(S::read(holder, S::Comport).toStdString(), kFirst.comport);
        EXPECT_EQ(S::read(holder, S::Address), kFirst.address);
        EXPECT_EQ(S::read(holder, S::CustomPath).toStdString(), row.carried) << "what the copy started from";
        Snapshot after = snapshotOf(w.dir.path(), w.config(), w.watched);
        if (!w.held.isEmpty()) {
            if (!heldBefore.empty()) {
                EXPECT_EQ(attributesOf(w.held), heldBefore) << "owner, group, mode and ACL kept";
            }
            before.erase(w.held.toStdString());
            after.erase(w.held.toStdString());
            EXPECT_FALSE(QFileInfo::exists(w.userCopy()));
        }
        EXPECT_EQ(after, before) << "nothing else was touched";
    }
}

// ---------------------------------------------------------------------------
// The per-user copy counts root and the user alone: a folder, link or file of
// anyone else's on its way is neither followed nor used, wherever the config
// home lies, and a save there is refused with nothing changed. A run as root
// with the technician's home keeps its copy in its own home instead.

constexpr const char *kRootsFile = "; Stands in for /opt/vantoro/vantoro.ini\n[Defaults]\nComport=COM1\n";

struct CopyRow {
    const char *what;
    const TestSupport::Account *saver; // nullptr: root
    std::function<void(World &)> arrange;
    bool rootWithTechniciansHome = false; // HOME is home/, no config home is named
};

TEST(SettingsLocation, ThePerUserCopyIsJudgedAgainstRootAndTheUserAlone)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to plant folders and links as other accounts";
    const TestSupport::Account *nobody = &TestSupport::Nobody;
    const auto sharedConfigHome = [](World &w) { w.own("config", kRoot, kRoot, 01777); };
    // An installed copy: its own file may be written by no one, root included.
    const auto program = [](World &w) {
        w.folder("program", kRoot, kRoot, 0755);
        w.file("program/vantoro.ini", kEarlierFile, kRoot, kRoot, 0444);
    };
    const auto rootsFile = [](World &w) {
        w.folder("etc", kRoot, kRoot, 0755);
        w.file("etc/vantoro.ini", kRootsFile, kRoot, kRoot, 0644);
    };
    // The per-user folder under `configHome`, its maker folder `maker`'s, and
    // itself and its settings file, a link to `target`, `owner`'s.
    const auto perUserFolder = [](World &w, const std::string &configHome, uid_t maker, uid_t owner,
                                  const char *target) {
        const std::string folder = configHome + "/Stelvanor";
        w.folder(folder.c_str(), maker, maker, 0755);
        w.folder((folder + "/Vantoro").c_str(), owner, owner, 0755);
        w.link((folder + "/Vantoro/vantoro.ini").c_str(), target, owner);
    };
    const CopyRow rows[] = {
        {"a colleague made the per-user folder first in a shared config home, with a link to the technician's "
         "profile",
         nobody,
         [&](World &w) {
             program(w);
             sharedConfigHome(w);
             technicianHome(w);
             perUserFolder(w, "config", kDaemon, kDaemon, "../../../home/.profile");
         }},
        {"a colleague's maker folder in a shared config home is a link into the technician's home", nobody,
         [&](World &w) {
             program(w);
             sharedConfigHome(w);
             technicianHome(w);
             w.folder("home/private", kNobody, kNogroup, 0700);
             w.link("config/Stelvanor", "../home/private", kDaemon);
         }},
        {"root's per-user folder made by the technician, with his link to a root file", nullptr,
         [&](World &w) {
             program(w);
             rootsFile(w);
             perUserFolder(w, "config", kRoot, kNobody, "../../../etc/vantoro.ini");
         }},
        {"root with the technician's home, whose per-user folder links to a root file", nullptr,
         [&](World &w) {
             program(w);
             rootsFile(w);
             technicianHome(w);
             w.folder("home/.config", kNobody, kNogroup, 0755);
             perUserFolder(w, "home/.config", kNobody, kNobody, "../../../../etc/vantoro.ini");
         },
         true},
    };
    for (const CopyRow &row : rows) {
        SCOPED_TRACE(row.what);
        World w;
        w.prepare(row.saver);
        row.arrange(w);
        const QString rootsHome = w.at(QStringLiteral("roothome"));
        const Snapshot before = snapshotOf(w.dir.path(), rootsHome);

        Outcome outcome;
        if (row.rootWithTechniciansHome) {
            const TestSupport::AccountFiles accounts(rootsHome);
            const TestSupport::FreshHome home(w.at(QStringLiteral("home")));
            outcome = saveThenRead(w.beside(), kFirst);
        } else {
            outcome = session(row.saver, w.beside(), w.config(), w.at(QStringLiteral("root")), kFirst);
        }

        EXPECT_EQ(snapshotOf(w.dir.path(), rootsHome), before) << "nothing on the way was touched";
        if (row.rootWithTechniciansHome) {
            EXPECT_EQ(outcome.line(), "|" + kFirst.comport + "|" + std::to_string(kFirst.address));
            const QString copy = rootsHome + QStringLiteral("/.config/Stelvanor/Vantoro/vantoro.ini");
            EXPECT_EQ(S::read(rawIni(copy), S::Comport).toStdString(), kFirst.comport) << "root's copy in its own home";
            EXPECT_EQ(QFileInfo(rootsHome + QStringLiteral("/.config")).ownerId(), kRoot);
        } else {
            EXPECT_EQ(outcome.line(), "Unable to write to " + w.userCopy().toStdString() + "||1");
        }
    }
}

constexpr const char *kSwapWorldVariable = "VANTORO_TEST_SWAP_WORLD";
constexpr int kSwappedSaves = 100;

// Run as daemon by the test below: swaps the link it planted between its own
// file and the technician's until told to stop.
TEST(SettingsLocationChild, SwapsTheLink)
{
    const QByteArray world = qgetenv(kSwapWorldVariable);
    if (world.isEmpty())
        GTEST_SKIP() << "runs as a child of SettingsLocation.ALinkSwappedWhileSavesRunNeverLeadsToTheUsersFile";
    const QByteArray next = world + "/program/.next", link = world + "/program/vantoro.ini", stop = world + "/stop";
    const char *targets[] = {"../home/.profile", "../daemon/daemon.ini"};
    for (unsigned i = 0; ::access(stop.constData(), F_OK) != 0; ++i) {
        ::unlink(next.constData());
        ASSERT_EQ(::symlink(targets[i % 2], next.constData()), 0);
        ASSERT_EQ(::rename(next.constData(), link.constData()), 0);
    }
}

// Run as nobody: saves again and again, each time with a config home of its
// own, so that each save looks at the link anew.
TEST(SettingsLocationChild, SavesWhileTheLinkIsSwapped)
{
    const QString world = qEnvironmentVariable(kSwapWorldVariable);
    if (world.isEmpty())
        GTEST_SKIP() << "runs as a child of SettingsLocation.ALinkSwappedWhileSavesRunNeverLeadsToTheUsersFile";
    const QString beside = world + QStringLiteral("/program/vantoro.ini");
    for (int i = 0; i < kSwappedSaves; ++i) {
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(world + QStringLiteral("/config/") + QString::number(i)));
        const Saved saved{"Com" + std::to_string(i + 1), i + 1};
        EXPECT_EQ(saveThenRead(beside, saved).line(), "|" + saved.comport + "|" + std::to_string(saved.address)) << i;
        EXPECT_TRUE(QFileInfo::exists(S::userCopyPathFor(beside))) << i;
    }
}

TEST(SettingsLocation, ALinkSwappedWhileSavesRunNeverLeadsToTheUsersFile)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to run the technician and another account side by side";
    World w;
    w.prepare(&TestSupport::Nobody);
    w.folder("program", kRoot, kRoot, 01777);
    technicianHome(w);
    w.folder("daemon", kDaemon, kDaemon, 0755);
    w.file("daemon/daemon.ini", kPlanted, kDaemon, kDaemon, 0666);
    w.link("program/vantoro.ini", "../daemon/daemon.ini", kDaemon);
    const auto filesAtStake = [&w] {
        return snapshotOf(w.at(QStringLiteral("home")), {}, {w.at(QStringLiteral("daemon/daemon.ini"))});
    };
    const Snapshot before = filesAtStake();

    const TestSupport::EnvironmentChanges world{{QString::fromUtf8(kSwapWorldVariable), w.dir.path()}};
    auto swapper = TestSupport::startTestAs(TestSupport::Daemon, QStringLiteral("SettingsLocationChild.SwapsTheLink"),
                                            world);
    // The saves begin once the link is being swapped.
    QElapsedTimer clock;
    clock.start();
    while (bytesOf(w.beside()) != "-> ../home/.profile" && clock.elapsed() < 20000)
        QThread::msleep(1);
    const auto saver = TestSupport::runTestAs(TestSupport::Nobody,
                                              QStringLiteral("SettingsLocationChild.SavesWhileTheLinkIsSwapped"), world);
    QFile(w.at(QStringLiteral("stop"))).open(QIODevice::WriteOnly);
    const auto swapped = TestSupport::finishChild(*swapper);

    EXPECT_EQ(saver.exitCode, 0) << saver.output.toStdString();
    EXPECT_TRUE(saver.output.contains(QLatin1String("[  PASSED  ] 1 test"))) << saver.output.toStdString();
    EXPECT_EQ(swapped.exitCode, 0) << swapped.output.toStdString();
    EXPECT_EQ(filesAtStake(), before) << "neither the technician's files nor the other account's were touched";
}

mode_t currentUmask()
{
    const mode_t mask = ::umask(022);
    ::umask(mask);
    return mask;
}

// A run as root (with sudo) saves in a folder of the technician's: the file is
// the technician's afterwards, so that the technician's next run goes on
// using it rather than a per-user copy.
TEST(SettingsLocation, ARootSaveInTheTechniciansFolderLeavesTheFileTheTechnicians)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to save as root in another account's folder";
    struct Row {
        const char *what;
        std::function<void(World &)> arrange;
        mode_t mode; // the file's mode afterwards
    };
    const Row rows[] = {
        {"no file yet", [](World &) {}, 0666 & ~currentUmask()},
        {"a file an earlier run as root left",
         [](World &w) { w.file("program/vantoro.ini", kEarlierFile, kRoot, kRoot, 0644); }, 0644},
        {"the technician's own file",
         [](World &w) { w.file("program/vantoro.ini", kEarlierFile, kNobody, kNogroup, 0640); }, 0640},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        World w;
        w.prepare(nullptr);
        w.folder("program", kNobody, kNogroup, 0755);
        row.arrange(w);
        EXPECT_EQ(session(nullptr, w.beside(), w.config(), w.at(QStringLiteral("root")), kFirst).line(),
                  "|" + kFirst.comport + "|" + std::to_string(kFirst.address));
        struct stat st {};
        ASSERT_EQ(::stat(QFile::encodeName(w.beside()).constData(), &st), 0);
        EXPECT_EQ(st.st_uid, kNobody);
        EXPECT_EQ(st.st_gid, kNogroup);
        EXPECT_EQ(st.st_mode & 07777, row.mode);
        EXPECT_FALSE(QFileInfo::exists(w.userCopy()));

        // The technician's next run saves beside the program again.
        World technician;
        technician.prepare(&TestSupport::Nobody);
        EXPECT_EQ(session(&TestSupport::Nobody, w.beside(), technician.config(), {}, kSecond).line(),
                  "|" + kSecond.comport + "|" + std::to_string(kSecond.address));
        EXPECT_EQ(S::read(rawIni(w.beside()), S::Comport).toStdString(), kSecond.comport);
        EXPECT_TRUE(QDir(technician.config()).isEmpty()) << "no per-user copy";
        EXPECT_EQ(QDir(w.at(QStringLiteral("program"))).entryList(QDir::Files | QDir::Hidden),
                  QStringList{QStringLiteral("vantoro.ini")});
    }
}

// The per-user copy stands in for the program whose own file may not be
// written; another copy of the program, whose own file may, keeps that.
TEST(SettingsLocation, ACopyMadeForOneProgramLeavesAnotherProgramItsOwnFile)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const TestSupport::FreshHome home(dir.filePath(QStringLiteral("home")));
    const QString installed = dir.filePath(QStringLiteral("installed/vantoro.ini"));
    const QString portable = dir.filePath(QStringLiteral("portable/vantoro.ini"));
    for (const QString &path : {installed, portable}) {
        ASSERT_TRUE(QDir().mkpath(QFileInfo(path).path()));
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("[Settings]\nAddress=5\n");
    }
    // Read-only, to root as well.
    ASSERT_TRUE(setMode(installed, 0444));

    EXPECT_EQ(saveThenRead(installed, kFirst).line(), "|" + kFirst.comport + "|" + std::to_string(kFirst.address));
    useProgramNames();
    const QString copy = S::userCopyPathFor(installed);
    const std::string copied = contents(copy);
    EXPECT_EQ(saveThenRead(portable, kSecond).line(), "|" + kSecond.comport + "|" + std::to_string(kSecond.address));
    EXPECT_EQ(S::read(rawIni(portable), S::Comport).toStdString(), kSecond.comport);
    EXPECT_EQ(contents(copy), copied) << "the copy is not the portable program's";

    // The copy stays the installed program's, even once its own file may be written.
    ASSERT_TRUE(setMode(installed, 0644));
    S::setFilePath(installed);
    EXPECT_EQ(S::read(S::open(), S::Comport).toStdString(), kFirst.comport);
    S::setFilePath(portable);
    EXPECT_EQ(S::read(S::open(), S::Comport).toStdString(), kSecond.comport);
    S::setFilePath({});
    EXPECT_EQ(contents(installed), "[Settings]\nAddress=5\n");
}

TEST(SettingsFilePath, TheUserCopyIsNamedAfterTheCompanyAndTheTitle)
{
    useProgramNames();
    const TestSupport::FreshHome home(QStringLiteral("/home/tech"));
    EXPECT_EQ(S::userCopyPathFor("/opt/v/vantoro.ini"), "/home/tech/.config/Stelvanor/Vantoro/vantoro.ini");
    qputenv("XDG_CONFIG_HOME", "/home/tech/.cfg");
    EXPECT_EQ(S::userCopyPathFor("/opt/v/vantoro.ini"), "/home/tech/.cfg/Stelvanor/Vantoro/vantoro.ini");
}

} // namespace
