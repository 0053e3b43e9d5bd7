// Saves of one settings file by several programs at once: two technicians
// save an administrator's shared copy through their own links while a third
// program reads it; no read sees a torn file and no save loses another's
// keys. No lock holds a read or a save up for longer than its bound.
#include "platform/FileUpdate.h"
#include "platform/IniFile.h"
#include "platform/IniStores.h"
#include "platform/SettingsFile.h"
#include "support/AccountFiles.h"
#include "support/AsNobody.h"
#include "support/ColleagueLock.h"
#include "support/FreshHome.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <fcntl.h>
#include <map>
#include <stdexcept>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace S = Platform::Settings;
using namespace std::chrono_literals;

constexpr const char *kSaverVariable = "VANTORO_TEST_SHARED_SAVER"; // "<file beside>|<section>"
constexpr int kSavesEach = 200;
constexpr const char *kSharedStart = "; the administrator's copy\n[Shared]\nNote=kept\n";

// Run by the test below as one technician: saves a new key of its own
// section each time, through its own link to the shared copy.
TEST(SharedCopyChild, SavesItsKeys)
{
    const QStringList world = qEnvironmentVariable(kSaverVariable).split(QLatin1Char('|'));
    if (world.size() != 2)
        GTEST_SKIP() << "runs as a child of SharedCopy.TwoSavingWhileAThirdReadsTearNothingAndLoseNoKey";
    QCoreApplication::setOrganizationName(QStringLiteral("Stelvanor"));
    QCoreApplication::setApplicationName(QStringLiteral("Vantoro"));
    S::setFilePath(world[0]);
    for (int i = 1; i <= kSavesEach; ++i) {
        try {
            Platform::IniFile file = S::open();
            file.WriteInteger(world[1], QStringLiteral("K%1").arg(i), i);
        } catch (const std::runtime_error &e) {
            ADD_FAILURE() << "save " << i << ": " << e.what();
        }
    }
    EXPECT_EQ(S::filePath(), world[0]) << "the shared copy stayed the settings file";
}

// What one read of the shared copy held: how many keys of each technician's
// section, in order from K1 without a gap; `problem` says what was not whole.
struct Reading {
    std::string problem;
    std::map<std::string, int> keys;
    bool noteKept = false;
};

Reading judge(const QByteArray &bytes)
{
    Reading r;
    if (!bytes.endsWith('\n'))
        r.problem = "cut off: " + bytes.right(40).toStdString();
    std::string section;
    for (const QByteArray &line : bytes.split('\n')) {
        if (line.isEmpty() || line.startsWith(';'))
            continue;
        if (line.startsWith('[')) {
            section = line.toStdString();
            continue;
        }
        if (section == "[Shared]" && line == "Note=kept") {
            r.noteKept = true;
            continue;
        }
        const int next = r.keys[section] + 1;
        if (line != QStringLiteral("K%1=%1").arg(next).toUtf8() && r.problem.empty())
            r.problem = "in " + section + " after " + std::to_string(next - 1) + " keys: \"" + line.toStdString() + '"';
        r.keys[section] = next;
    }
    if (!r.noteKept && r.problem.empty())
        r.problem = "the administrator's note is lost";
    return r;
}

bool makeFile(const QString &path, const QByteArray &bytes, mode_t mode)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        return false;
    f.close();
    return ::chmod(QFile::encodeName(path).constData(), mode) == 0;
}

bool make(const QString &path, uid_t uid, gid_t gid, mode_t mode)
{
    const QByteArray name = QFile::encodeName(path);
    return QDir().mkpath(path) && ::chown(name.constData(), uid, gid) == 0 && ::chmod(name.constData(), mode) == 0;
}

TEST(SharedCopy, TwoSavingWhileAThirdReadsTearNothingAndLoseNoKey)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to run two technicians' accounts";
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
    // The administrator's copy: root's, writable by the team, in a folder only root may write.
    const QString shared = dir.filePath(QStringLiteral("shared/vantoro.ini"));
    ASSERT_TRUE(make(dir.filePath(QStringLiteral("shared")), 0, 0, 0755));
    ASSERT_TRUE(makeFile(shared, kSharedStart, 0664));
    ASSERT_EQ(::chown(QFile::encodeName(shared).constData(), 0, TestSupport::TeamGroupId), 0);

    constexpr int kTeam = int(TestSupport::TeamGroupId);
    static constexpr TestSupport::Account kA{TestSupport::Nobody.uid, TestSupport::Nobody.gid, kTeam};
    static constexpr TestSupport::Account kB{TestSupport::Daemon.uid, TestSupport::Daemon.gid, kTeam};
    const struct {
        const TestSupport::Account *account;
        const char *name;
    } technicians[] = {{&kA, "A"}, {&kB, "B"}};
    std::vector<std::unique_ptr<QProcess>> savers;
    for (const auto &t : technicians) {
        const QString home = dir.filePath(QString::fromUtf8(t.name));
        ASSERT_TRUE(make(home + QStringLiteral("/config"), t.account->uid, t.account->gid, 0755));
        ASSERT_TRUE(make(home, t.account->uid, t.account->gid, 0755));
        const QByteArray link = QFile::encodeName(home + QStringLiteral("/vantoro.ini"));
        ASSERT_EQ(::symlink("../shared/vantoro.ini", link.constData()), 0);
        ASSERT_EQ(::lchown(link.constData(), t.account->uid, t.account->gid), 0);
        savers.push_back(TestSupport::startTestAs(
            *t.account, QStringLiteral("SharedCopyChild.SavesItsKeys"),
            {{QString::fromUtf8(kSaverVariable), home + QStringLiteral("/vantoro.ini|") + QString::fromUtf8(t.name)},
             {QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/config")}}));
    }

    // The third program reads as the program reads, till both are done.
    int reads = 0;
    std::string firstProblem;
    const auto running = [&] {
        QCoreApplication::processEvents();
        return std::any_of(savers.begin(), savers.end(),
                           [](const auto &p) { return p->state() != QProcess::NotRunning; });
    };
    while (running()) {
        const Reading r = judge(Platform::FileStore(shared).read());
        ++reads;
        if (firstProblem.empty() && !r.problem.empty())
            firstProblem = "read " + std::to_string(reads) + ": " + r.problem;
        QThread::usleep(200);
    }
    for (auto &saver : savers) {
        const auto run = TestSupport::finishChild(*saver);
        EXPECT_EQ(run.exitCode, 0) << run.output.toStdString();
        EXPECT_TRUE(run.output.contains(QLatin1String("[  PASSED  ] 1 test"))) << run.output.toStdString();
    }
    EXPECT_EQ(firstProblem, "") << "every read is a whole file";
    EXPECT_GT(reads, 10) << "the reads ran while the saves did";

    Reading last = judge(Platform::FileStore(shared).read());
    EXPECT_EQ(last.problem, "");
    EXPECT_EQ(last.keys["[A]"], kSavesEach);
    EXPECT_EQ(last.keys["[B]"], kSavesEach);
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(shared).constData(), &st), 0);
    EXPECT_EQ(st.st_uid, 0u) << "still the administrator's";
    EXPECT_EQ(st.st_mode & 07777, 0664u);
    EXPECT_EQ(QDir(dir.filePath(QStringLiteral("shared"))).entryList(QDir::Files | QDir::Hidden),
              QStringList{QStringLiteral("vantoro.ini")});
    for (const auto &t : technicians) {
        const QString home = dir.filePath(QString::fromUtf8(t.name));
        EXPECT_TRUE(QFileInfo(home + QStringLiteral("/vantoro.ini")).isSymLink());
        EXPECT_TRUE(QDir(home + QStringLiteral("/config")).isEmpty()) << "no per-user copy was needed";
    }
}

// A colleague who may only read the technician's file holds a lock on it
// (flock, or an fcntl read lock): the start (one read of its keys, then the
// port and address saved) and a save take no longer than without it, as a
// file saved by rename is read without a lock and its savers wait only for
// one another.
using Clock = std::chrono::steady_clock;

std::chrono::milliseconds timeOf(const std::function<void()> &work)
{
    const auto start = Clock::now();
    work();
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
}

void startUp()
{
    {
        const Platform::IniFile file = S::open();
        (void)S::read(file, S::Comport);
        (void)S::read(file, S::Address);
        (void)S::read(file, S::CustomPath);
        (void)S::read(file, S::PathOptionIndex);
    }
    Platform::IniFile file = S::open();
    S::write(file, S::Comport, QStringLiteral("Com2"));
    S::write(file, S::Address, 17);
}

void saveOnce()
{
    Platform::IniFile file = S::open();
    S::write(file, S::CustomPath, QStringLiteral("/srv/meters"));
}

// The technician's own settings file, in a folder that every account may
// enter; it is the settings file until the object goes.
struct TechniciansFile {
    TechniciansFile() : home(dir.filePath(QStringLiteral("home"))), path(dir.filePath(QStringLiteral("vantoro.ini")))
    {
        ready = dir.isValid() && ::chmod(QFile::encodeName(dir.path()).constData(), 0755) == 0 &&
                makeFile(path, "[Settings]\nAddress=5\n", 0644);
        S::setFilePath(path);
    }
    ~TechniciansFile() { S::setFilePath({}); }
    TechniciansFile(const TechniciansFile &) = delete;
    TechniciansFile &operator=(const TechniciansFile &) = delete;

    QTemporaryDir dir;
    const TestSupport::FreshHome home;
    const QString path;
    bool ready = false;
};

TEST(SettingsLocks, AColleaguesLockHoldsUpNeitherTheStartNorASave)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to hold a lock as another account";
    const TechniciansFile technicians;
    ASSERT_TRUE(technicians.ready);
    const QString &path = technicians.path;
    const auto without = std::min(timeOf(startUp), timeOf(startUp)) + std::min(timeOf(saveOnce), timeOf(saveOnce));
    for (const auto kind : {TestSupport::LockKind::FlockShared, TestSupport::LockKind::FlockExclusive,
                            TestSupport::LockKind::FcntlRead}) {
        SCOPED_TRACE(TestSupport::lockKindName(kind));
        // Each on the file as it is then: a save puts a new file in its place.
        std::chrono::milliseconds with{};
        for (const auto &work : {std::function<void()>(startUp), std::function<void()>(saveOnce)}) {
            const TestSupport::ColleagueLock held(TestSupport::Daemon, path, kind);
            ASSERT_TRUE(held.holding()) << held.output().toStdString();
            with += timeOf(work);
        }
        EXPECT_LT((with - without).count(), 500) << "ms longer than without the lock";
        EXPECT_EQ(S::read(S::open(), S::Address), 17);
    }
    EXPECT_FALSE(QFileInfo::exists(S::userCopyPathFor(path))) << "the file beside stayed the settings file";
}

// A save killed once its new file had taken its final mode left that file
// beside the settings file, where a colleague who may read it holds a lock on
// it: no save waits for him, and what was left goes with the first save that
// he no longer stands in the way of.
TEST(SettingsLocks, AColleaguesLockOnWhatAKilledSaveLeftHoldsUpNoSave)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to hold a lock as another account";
    const TechniciansFile technicians;
    ASSERT_TRUE(technicians.ready);
    const QString leftover = technicians.dir.filePath(QStringLiteral(".vantoro.ini.saving"));
    const auto without = std::min(timeOf(saveOnce), timeOf(saveOnce));
    for (const auto kind : {TestSupport::LockKind::FlockShared, TestSupport::LockKind::FlockExclusive,
                            TestSupport::LockKind::FcntlRead}) {
        SCOPED_TRACE(TestSupport::lockKindName(kind));
        ASSERT_TRUE(makeFile(leftover, "[Settings]\nAddress=5\nComport=Com7\n", 0644));
        {
            const TestSupport::ColleagueLock held(TestSupport::Daemon, leftover, kind);
            ASSERT_TRUE(held.holding()) << held.output().toStdString();
            EXPECT_LT((timeOf(saveOnce) - without).count(), 500) << "ms longer than without the lock";
        }
        saveOnce();
        EXPECT_EQ(QDir(technicians.dir.path()).entryList(QDir::Files | QDir::Hidden),
                  QStringList{QStringLiteral("vantoro.ini")});
        const Platform::IniFile file = S::open();
        EXPECT_EQ(S::read(file, S::Address), 5);
        EXPECT_EQ(S::read(file, S::Comport), QString()) << "nothing of the killed save";
        EXPECT_EQ(S::read(file, S::CustomPath), QStringLiteral("/srv/meters"));
    }
}

// A shared copy that the technician rewrites in place (it is root's, in a
// folder the technician may not write), while another program holds its
// lock: a read waits for it no longer than the bound and then reads without
// it, a save is refused with the usual message and changes nothing; once
// the other program lets go, the save goes through.
constexpr const char *kInPlaceVariable = "VANTORO_TEST_IN_PLACE_COPY";

TEST(SettingsLocksChild, RewritesASharedCopyInPlace)
{
    const QString path = qEnvironmentVariable(kInPlaceVariable);
    if (path.isEmpty())
        GTEST_SKIP() << "runs as a child of SettingsLocks.AnInPlaceRewriteWaitsForTheLockNoLongerThanItsBound";
    const QByteArray old = "[Settings]\nAddress=5\n";
    Platform::setLockWait(200ms);
    const int other = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(other, 0);
    for (const int lock : {LOCK_EX, LOCK_SH}) {
        SCOPED_TRACE(lock == LOCK_EX ? "held to write" : "held to read");
        ASSERT_EQ(::flock(other, lock), 0);
        QElapsedTimer clock;
        clock.start();
        if (lock == LOCK_EX) {
            EXPECT_EQ(Platform::IniFile(path).ReadInteger(QStringLiteral("Settings"), QStringLiteral("Address"), 1), 5);
        }
        try {
            Platform::IniFile(path).WriteInteger(QStringLiteral("Settings"), QStringLiteral("Address"), 6);
            ADD_FAILURE() << "the save went through another's lock";
        } catch (const std::runtime_error &e) {
            EXPECT_EQ(QString::fromUtf8(e.what()), QStringLiteral("Unable to write to ") + path);
        }
        EXPECT_GE(clock.elapsed(), lock == LOCK_EX ? 300 : 150) << "it waited";
        EXPECT_LT(clock.elapsed(), 1500) << "no longer than its bound";
        ASSERT_EQ(::flock(other, LOCK_UN), 0);
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_EQ(f.readAll(), old);
    }
    ::close(other);
    Platform::IniFile(path).WriteInteger(QStringLiteral("Settings"), QStringLiteral("Address"), 6);
    EXPECT_EQ(Platform::IniFile(path).ReadInteger(QStringLiteral("Settings"), QStringLiteral("Address"), 1), 6);
}

TEST(SettingsLocks, AnInPlaceRewriteWaitsForTheLockNoLongerThanItsBound)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to make a shared copy that another account rewrites in place";
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
    const QString path = dir.filePath(QStringLiteral("vantoro.ini"));
    ASSERT_TRUE(makeFile(path, "[Settings]\nAddress=5\n", 0666));
    const auto run = TestSupport::runTestAsNobody(QStringLiteral("SettingsLocksChild.RewritesASharedCopyInPlace"),
                                                  {{QString::fromUtf8(kInPlaceVariable), path}});
    EXPECT_EQ(run.exitCode, 0) << run.output.toStdString();
    EXPECT_TRUE(run.output.contains(QLatin1String("[  PASSED  ] 1 test"))) << run.output.toStdString();
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
    EXPECT_EQ(st.st_uid, 0u) << "rewritten in place, still root's";
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("vantoro.ini")});
}

} // namespace
