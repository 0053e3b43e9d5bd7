// A program in a folder its user cannot write, run by an ordinary user:
// Connect saves the port and the address to the user's own copy of the
// settings and opens the main window against the simulated meter.
#include "e2e/ConsoleSimFixture.h"
#include "platform/SettingsFile.h"
#include "support/AsNobody.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <unistd.h>

namespace {

namespace S = Platform::Settings;

constexpr const char *kChildVariable = "VANTORO_TEST_UNWRITABLE_PROGRAM_FOLDER";

class UnwritableProgramFolderChild : public TestSupport::ConsoleSimTest {};

// The ordinary user's session, run by the test below.
TEST_F(UnwritableProgramFolderChild, ConnectOpensTheMainWindow)
{
    if (!qEnvironmentVariableIsSet(kChildVariable))
        GTEST_SKIP() << "runs as the child of UnwritableProgramFolder.AnOrdinaryUserConnects";
    QCoreApplication::setOrganizationName(QStringLiteral("Stelvanor"));
    S::setFilePath({}); // beside this program, whose folder belongs to root
    startSim();
    TVRStartupForm startup;
    startup.show();
    EXPECT_TRUE(connectAndClose(startup));
    EXPECT_TRUE(prompter.messages.empty()) << prompter.texts().join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(startup.isVisible());
}

TEST(UnwritableProgramFolder, AnOrdinaryUserConnects)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to run a session of another user";
    const QFileInfo program(QCoreApplication::applicationDirPath());
    if (program.ownerId() != 0 || program.permissions().testFlag(QFile::WriteOther))
        GTEST_SKIP() << "the test program's folder must be root's alone";
    const QString beside = S::filePathFor(QCoreApplication::applicationFilePath());
    ASSERT_FALSE(QFileInfo::exists(beside)) << "left over: " << beside.toStdString();

    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString home = dir.filePath(QStringLiteral("home"));
    ASSERT_TRUE(QDir().mkpath(home));
    ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
    ASSERT_TRUE(TestSupport::giveToNobody(home, 0700));

    const auto child = TestSupport::runTestAsNobody(
        QStringLiteral("UnwritableProgramFolderChild.ConnectOpensTheMainWindow"),
        {{QString::fromUtf8(kChildVariable), QStringLiteral("1")}, {QStringLiteral("HOME"), home},
         {QStringLiteral("XDG_CONFIG_HOME"), {}}, {QStringLiteral("XDG_DATA_HOME"), {}}});
    EXPECT_EQ(child.exitCode, 0) << child.output.toStdString();
    EXPECT_TRUE(child.output.contains(QLatin1String("[  PASSED  ] 1 test"))) << child.output.toStdString();

    EXPECT_FALSE(QFileInfo::exists(beside));
    const Platform::IniFile copy(home + QStringLiteral("/.config/Stelvanor/Vantoro/") + QFileInfo(beside).fileName());
    EXPECT_EQ(S::read(copy, S::Comport).toStdString(), "Com1");
    EXPECT_EQ(S::read(copy, S::Address), 1);
}

} // namespace
