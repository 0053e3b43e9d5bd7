// One copy at a time, checked across two real processes; the lock lies where
// only the user may make a file, and another account's lock file is no
// running copy.
#include "platform/SingleInstance.h"
#include "support/AccountFiles.h"
#include "support/AsNobody.h"
#include "support/FreshHome.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using Platform::SingleInstance;

namespace {

constexpr const char *ChildFolder = "VANTORO_TEST_LOCK_FOLDER";

// Runs this test binary again as the probe below and returns its exit code:
// 0 acquired, 1 busy, 2 unavailable.
int probeInOtherProcess(const QString &folder, const QString &name)
{
    QProcess child;
    auto env = QProcessEnvironment::systemEnvironment();
    env.insert(ChildFolder, folder);
    env.insert("VANTORO_TEST_LOCK_NAME", name);
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(),
                {"--gtest_filter=SingleInstanceChild.Probe", "--gtest_also_run_disabled_tests"});
    if (!child.waitForFinished(60000))
        return -1;
    return child.exitCode();
}

constexpr const char *kDefaultFolder = "default";
constexpr const char *kPathMark = "@@lock ";

// Exits with the state; "default" as the folder: the program's own choice.
TEST(SingleInstanceChild, Probe)
{
    const QString folder = qEnvironmentVariable(ChildFolder);
    if (folder.isEmpty())
        GTEST_SKIP() << "only run as the second process";
    QCoreApplication::setOrganizationName(QStringLiteral("Stelvanor"));
    QCoreApplication::setApplicationName(QStringLiteral("Vantoro"));
    SingleInstance lock(qEnvironmentVariable("VANTORO_TEST_LOCK_NAME"),
                        folder == QLatin1String(kDefaultFolder) ? QString() : folder);
    std::printf("%s%s\n", kPathMark, QFile::encodeName(lock.lockFilePath()).constData());
    std::fflush(stdout);
    std::exit(static_cast<int>(lock.state()));
}

TEST(SingleInstance, SecondProcessIsRefusedUntilTheFirstLetsGo)
{
    QTemporaryDir dir;
    {
        SingleInstance first("vantoro", dir.path());
        ASSERT_EQ(first.state(), SingleInstance::State::Acquired);
        EXPECT_EQ(first.lockFilePath(), dir.path() + "/vantoro.lock");
        EXPECT_EQ(probeInOtherProcess(dir.path(), "vantoro"), 1);
        // Another executable name is another lock.
        EXPECT_EQ(probeInOtherProcess(dir.path(), "vantoro-other"), 0);
    }
    // Released once, by the end of the holder; the leftover file blocks nobody.
    EXPECT_EQ(probeInOtherProcess(dir.path(), "vantoro"), 0);
    SingleInstance again("vantoro", dir.path());
    EXPECT_EQ(again.state(), SingleInstance::State::Acquired);
}

TEST(SingleInstance, UnusableFolderIsNotMistakenForAnotherCopy)
{
    QTemporaryDir dir;
    SingleInstance lock("vantoro", dir.path() + "/missing");
    EXPECT_EQ(lock.state(), SingleInstance::State::Unavailable);
}

mode_t modeOf(const QString &path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 07777 : 0;
}

// Without a runtime folder of the user's own, the lock lies in a folder the
// program makes for the user alone under the cache home.
TEST(SingleInstance, TheLockLiesWhereOnlyTheUserMayMakeAFile)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const TestSupport::FreshHome home(dir.filePath(QStringLiteral("home")));
    // A run as root with a runtime folder not its own keeps to its home.
    const TestSupport::AccountFiles accounts(dir.filePath(QStringLiteral("home")));
    qunsetenv("XDG_CACHE_HOME");
    QCoreApplication::setOrganizationName(QStringLiteral("Stelvanor"));
    QCoreApplication::setApplicationName(QStringLiteral("Vantoro"));
    const QString own = dir.filePath(QStringLiteral("home/.cache/Stelvanor/Vantoro"));
    const QString runtime = dir.filePath(QStringLiteral("runtime"));
    const QString open = dir.filePath(QStringLiteral("open"));
    ASSERT_TRUE(QDir().mkpath(runtime) && QDir().mkpath(open));
    ASSERT_EQ(::chmod(QFile::encodeName(runtime).constData(), 0700), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(open).constData(), 01777), 0);
    struct Row {
        const char *what;
        QString variable; // XDG_RUNTIME_DIR; empty: unset
        QString folder;   // where the lock lies
    };
    const Row rows[] = {
        {"no runtime folder", {}, own},
        {"a runtime folder of the user's own", runtime, runtime},
        {"a runtime folder others may write", open, own},
        {"a runtime folder that is no absolute path", QStringLiteral("runtime"), own},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        if (row.variable.isEmpty())
            qunsetenv("XDG_RUNTIME_DIR");
        else
            qputenv("XDG_RUNTIME_DIR", QFile::encodeName(row.variable));
        const SingleInstance lock("vantoro");
        EXPECT_EQ(lock.state(), SingleInstance::State::Acquired);
        EXPECT_EQ(lock.lockFilePath(), row.folder + QStringLiteral("/vantoro.lock"));
    }
    qunsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(modeOf(own), 0700u);
    EXPECT_EQ(QDir(open).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
}

// Another account made the lock file first, or holds one in the folder where
// a lock once fell back to a fixed name: the technician's copy still starts.
TEST(SingleInstance, AnotherAccountsLockFileIsNoRunningCopy)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to make files of another account";
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
    // The shared temporary folder, where the other account got in first.
    const QString temp = dir.filePath(QStringLiteral("tmp"));
    ASSERT_TRUE(QDir().mkpath(temp + QStringLiteral("/runtime-nobody")));
    ASSERT_EQ(::chmod(QFile::encodeName(temp).constData(), 01777), 0);
    const QString held = temp + QStringLiteral("/vantoro.lock");
    QFile(held).open(QIODevice::WriteOnly);
    for (const QString &path : {temp + QStringLiteral("/runtime-nobody"), held})
        ASSERT_EQ(::chown(QFile::encodeName(path).constData(), TestSupport::Daemon.uid, TestSupport::Daemon.gid), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(held).constData(), 0666), 0);
    const int holder = ::open(QFile::encodeName(held).constData(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(holder, LOCK_EX), 0);
    const QString home = dir.filePath(QStringLiteral("home"));
    ASSERT_TRUE(QDir().mkpath(home) && TestSupport::giveToNobody(home, 0700));

    const QString probe = QStringLiteral("SingleInstanceChild.Probe");
    const std::pair<QString, QString> defaultFolder{QString::fromUtf8(ChildFolder), QString::fromUtf8(kDefaultFolder)};
    const std::pair<QString, QString> named{QStringLiteral("VANTORO_TEST_LOCK_NAME"), QStringLiteral("vantoro")};
    const auto run = TestSupport::runTestAsNobody(probe, {defaultFolder, named, {QStringLiteral("HOME"), home},
                                                          {QStringLiteral("TMPDIR"), temp},
                                                          {QStringLiteral("XDG_CACHE_HOME"), {}}});
    EXPECT_EQ(run.exitCode, 0) << run.output.toStdString();
    EXPECT_TRUE(run.output.contains(kPathMark + home + QStringLiteral("/.cache/Stelvanor/Vantoro/vantoro.lock")))
        << run.output.toStdString();

    // In the user's own runtime folder, a lock file root's run left there is replaced.
    const QString runtime = dir.filePath(QStringLiteral("runtime"));
    ASSERT_TRUE(QDir().mkpath(runtime));
    const QString left = runtime + QStringLiteral("/vantoro.lock");
    QFile(left).open(QIODevice::WriteOnly);
    ASSERT_TRUE(TestSupport::giveToNobody(runtime, 0700));
    const int rootsCopy = ::open(QFile::encodeName(left).constData(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(rootsCopy, LOCK_EX), 0);
    const auto again = TestSupport::runTestAsNobody(
        probe, {defaultFolder, named, {QStringLiteral("HOME"), home}, {QStringLiteral("XDG_RUNTIME_DIR"), runtime}});
    EXPECT_EQ(again.exitCode, 0) << again.output.toStdString();
    EXPECT_TRUE(again.output.contains(kPathMark + left)) << again.output.toStdString();
    EXPECT_EQ(QFileInfo(left).ownerId(), TestSupport::NobodyId);
    ::close(rootsCopy);
    ::close(holder);
}

} // namespace
