// Saves of one settings file by several programs at once: two technicians
// save an administrator's shared copy through their own links while a third
// program reads it; no read sees a torn file and no save loses another's
// keys. No lock holds a read or a save up for longer than its bound.
#include "platform/FileUpdate.h"
#include "platform/IniFile.h"
#include "platform/IniStores.h"
#include "platform/SettingsFile.h"
#include "support/AsNobody.h"

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
    // The administrator's copy: root's, writable by all, in a folder only root may write.
    const QString shared = dir.filePath(QStringLiteral("shared/vantoro.ini"));
    ASSERT_TRUE(make(dir.filePath(QStringLiteral("shared")), 0, 0, 0755));
    {
        QFile f(shared);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(kSharedStart);
    }
    ASSERT_EQ(::chmod(QFile::encodeName(shared).constData(), 0666), 0);

    const struct {
        const TestSupport::Account *account;
        const char *name;
    } technicians[] = {{&TestSupport::Nobody, "A"}, {&TestSupport::Daemon, "B"}};
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
    EXPECT_EQ(st.st_mode & 07777, 0666u);
    EXPECT_EQ(QDir(dir.filePath(QStringLiteral("shared"))).entryList(QDir::Files | QDir::Hidden),
              QStringList{QStringLiteral("vantoro.ini")});
    for (const auto &t : technicians) {
        const QString home = dir.filePath(QString::fromUtf8(t.name));
        EXPECT_TRUE(QFileInfo(home + QStringLiteral("/vantoro.ini")).isSymLink());
        EXPECT_TRUE(QDir(home + QStringLiteral("/config")).isEmpty()) << "no per-user copy was needed";
    }
}

// Another program holds the file's lock and does not let go: a read waits
// for it no longer than the bound and then reads without it, a save is
// refused with the usual message and changes nothing.
TEST(SettingsLocks, NoLockIsWaitedForLongerThanItsBound)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("vantoro.ini"));
    const QByteArray old = "[Settings]\nAddress=5\n";
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(old);
    }
    Platform::setLockWait(100ms);
    const int other = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(other, 0);
    for (const int lock : {LOCK_EX, LOCK_SH}) {
        SCOPED_TRACE(lock == LOCK_EX ? "held to write" : "held to read");
        ASSERT_EQ(::flock(other, lock), 0);
        Platform::IniFile ini(path);
        QElapsedTimer clock;
        clock.start();
        EXPECT_EQ(ini.ReadInteger(QStringLiteral("Settings"), QStringLiteral("Address"), 1), 5);
        try {
            ini.WriteInteger(QStringLiteral("Settings"), QStringLiteral("Address"), 6);
            ADD_FAILURE() << "the save went through another's lock";
        } catch (const std::runtime_error &e) {
            EXPECT_EQ(QString::fromUtf8(e.what()), QStringLiteral("Unable to write to ") + path);
        }
        EXPECT_LT(clock.elapsed(), 1500);
        ASSERT_EQ(::flock(other, LOCK_UN), 0);
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_EQ(f.readAll(), old);
    }
    ::close(other);
    // Once the other program lets go, the save goes through.
    Platform::IniFile(path).WriteInteger(QStringLiteral("Settings"), QStringLiteral("Address"), 6);
    EXPECT_EQ(Platform::IniFile(path).ReadInteger(QStringLiteral("Settings"), QStringLiteral("Address"), 1), 6);
    Platform::setLockWait(2000ms);
}

} // namespace
