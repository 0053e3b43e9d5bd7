// One copy at a time, checked across two real processes.
#include "platform/SingleInstance.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

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

TEST(SingleInstanceChild, Probe)
{
    const QString folder = qEnvironmentVariable(ChildFolder);
    if (folder.isEmpty())
        GTEST_SKIP() << "only run as the second process";
    SingleInstance lock(qEnvironmentVariable("VANTORO_TEST_LOCK_NAME"), folder);
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

} // namespace
