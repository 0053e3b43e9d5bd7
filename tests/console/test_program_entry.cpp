// The program entry: command line, one copy only, the start-up window.
#include "console/ConsoleFixture.h"
#include "console/ProgramEntry.h"
#include "console/TVRStartupForm.h"
#include "platform/SingleInstance.h"
#include "support/AsNobody.h"
#include "support/ChildTest.h"

#include <QApplication>
#include <QComboBox>
#include <QFileInfo>
#include <QMessageBox>
#include <QTimer>

#include <csignal>
#include <cstring>
#include <iostream>
#include <optional>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using Console::ParseCommandLine;

TEST(CommandLine, OnlyAnOptionalPort)
{
    struct Case { QStringList args; std::optional<int> port; bool refused; };
    const Case cases[] = {
        {{}, std::nullopt, false},
        {{"--port", "3"}, 3, false},
        {{"--port", "254"}, 254, false},
        {{"--port"}, std::nullopt, true},
        {{"--port", "0"}, std::nullopt, true},
        {{"--port", "255"}, std::nullopt, true},
        {{"--port", "x"}, std::nullopt, true},
        {{"--port", "1", "--port", "2"}, std::nullopt, true},
        {{"--verbose"}, std::nullopt, true},
        {{"3"}, std::nullopt, true},
    };
    for (const auto &c : cases) {
        const auto options = ParseCommandLine(c.args);
        EXPECT_EQ(!options.error.isEmpty(), c.refused) << c.args.join(' ').toStdString();
        if (!c.refused) {
            EXPECT_EQ(options.port, c.port) << c.args.join(' ').toStdString();
        }
    }
}

// The lock file lies in the test's own runtime folder.
class ProgramEntry : public TestSupport::ConsoleTest {
protected:
    void SetUp() override
    {
        ConsoleTest::SetUp();
        if (qEnvironmentVariableIsSet("XDG_RUNTIME_DIR"))
            savedRuntime = qgetenv("XDG_RUNTIME_DIR");
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(dir.path()));
    }
    void TearDown() override
    {
        if (savedRuntime)
            qputenv("XDG_RUNTIME_DIR", *savedRuntime);
        else
            qunsetenv("XDG_RUNTIME_DIR");
        ConsoleTest::TearDown();
    }
    QString lockName() const { return QFileInfo(QCoreApplication::applicationFilePath()).fileName(); }

    std::optional<QByteArray> savedRuntime;
};

TEST_F(ProgramEntry, SecondCopyIsRefusedWithoutAWindow)
{
    const Platform::SingleInstance first(lockName());
    ASSERT_EQ(first.state(), Platform::SingleInstance::State::Acquired);
    EXPECT_EQ(Console::WinMain({}), 0);
    EXPECT_EQ(prompter.texts(), QStringList({"Application is already running"}));
    EXPECT_EQ(VRStartupForm, nullptr);
}

TEST_F(ProgramEntry, RunsTheStartupWindowUntilItCloses)
{
    setPorts({1, 5});
    QString title, selected;
    QTimer::singleShot(0, [&] {
        ASSERT_NE(VRStartupForm, nullptr);
        title = VRStartupForm->windowTitle();
        selected = VRStartupForm->AvailComportComboBox->currentText();
        VRStartupForm->Exit2->trigger();
    });
    Console::StartOptions options;
    options.port = 5;
    EXPECT_EQ(Console::WinMain(options), 0);
    EXPECT_EQ(title, "Stelvanor Vantoro Version 2.10");
    EXPECT_EQ(selected, "Com5");
    EXPECT_EQ(QCoreApplication::applicationName(), "Vantoro");
    EXPECT_EQ(QCoreApplication::organizationName(), "Stelvanor"); // names the per-user settings folder
    EXPECT_EQ(VRStartupForm, nullptr);
    // The lock went with the run.
    const Platform::SingleInstance after(lockName());
    EXPECT_EQ(after.state(), Platform::SingleInstance::State::Acquired);
}

// A signal to end (a logout, a kill, Ctrl+C) ends the program as closing its
// window does, also from under a modal box that no one will answer; no box
// opens after it, and a second signal finds the end under way. Afterwards
// the signals have their default again.
TEST_F(ProgramEntry, ASignalToEndClosesTheProgramFromUnderAModalBox)
{
    for (const int signalNumber : {SIGTERM, SIGHUP, SIGINT}) {
        SCOPED_TRACE(::strsignal(signalNumber));
        std::signal(signalNumber, SIG_DFL); // as a desktop starts it, whatever ran this test
        int boxesEnded = 0;
        bool startupVisible = true;
        // Fires only when the program did not end: what is still open is
        // closed, so that the failure ends the test.
        int leftOpen = 0;
        QTimer watchdog;
        QObject::connect(&watchdog, &QTimer::timeout, [&] {
            ++leftOpen;
            for (QWidget *window : QApplication::topLevelWidgets()) {
                if (auto *box = qobject_cast<QMessageBox *>(window); box && box->isVisible())
                    box->reject();
            }
            QCoreApplication::exit(0);
        });
        watchdog.start(5000);
        QTimer::singleShot(0, [&] {
            // A box of no window, as the top-level handler's: it alone keeps the program running.
            QMessageBox waiting(QMessageBox::NoIcon, QStringLiteral("Vantoro"), QStringLiteral("An open question"),
                                QMessageBox::Ok);
            QTimer::singleShot(0, [signalNumber] {
                ::raise(signalNumber);
                ::raise(signalNumber);
            });
            waiting.exec();
            ++boxesEnded;
            QMessageBox next(QMessageBox::NoIcon, QStringLiteral("Vantoro"), QStringLiteral("A later question"),
                             QMessageBox::Ok, VRStartupForm);
            next.exec();
            ++boxesEnded;
            startupVisible = VRStartupForm->isVisible();
        });
        EXPECT_EQ(Console::WinMain({}), 0);
        EXPECT_EQ(leftOpen, 0);
        EXPECT_EQ(boxesEnded, 2);
        EXPECT_FALSE(startupVisible);
        struct sigaction now = {};
        ASSERT_EQ(::sigaction(signalNumber, nullptr, &now), 0);
        EXPECT_EQ(now.sa_handler, SIG_DFL);
    }
}

// Started with the hang-up ignored (nohup), the program keeps it ignored.
TEST_F(ProgramEntry, AHangUpIgnoredAtStartStaysIgnored)
{
    std::signal(SIGHUP, SIG_IGN);
    void (*whileRunning)(int) = SIG_DFL;
    QTimer::singleShot(0, [&] {
        struct sigaction now = {};
        ::sigaction(SIGHUP, nullptr, &now);
        whileRunning = now.sa_handler;
        VRStartupForm->Exit2->trigger();
    });
    EXPECT_EQ(Console::WinMain({}), 0);
    EXPECT_EQ(whileRunning, SIG_IGN);
    std::signal(SIGHUP, SIG_DFL);
}

// "<settings file>|entry" or "<settings file>|no entry"
constexpr const char *kFileSizeVariable = "VANTORO_TEST_FILE_SIZE_LIMIT";
constexpr const char *kSavedMark = "@@saved: ";

// Run by the test below: the file-size signal at its default, as a shell with
// ulimit -f leaves it, then the program's entry (refused at once as a second
// copy) or none, then a save that goes past the limit.
TEST_F(ProgramEntry, ChildSavesPastAFileSizeLimit)
{
    const QStringList world = qEnvironmentVariable(kFileSizeVariable).split(QLatin1Char('|'));
    if (world.size() != 2)
        GTEST_SKIP() << "runs as a child of ProgramEntryLimits.AFileSizeLimitFailsTheSaveAndLeavesTheFileAsItWas";
    std::signal(SIGXFSZ, SIG_DFL);
    if (world[1] == QLatin1String("entry")) {
        const Platform::SingleInstance first(lockName());
        Console::WinMain({});
    }
    namespace S = Platform::Settings;
    S::setFilePath(world[0]);
    rlimit limit {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &limit), 0);
    limit.rlim_cur = 8;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    std::string outcome = "saved";
    try {
        Platform::IniFile file = S::open();
        S::write(file, S::CustomPath, QStringLiteral("/srv/meters/a/folder/further/down"));
    } catch (const std::runtime_error &e) {
        outcome = e.what();
    }
    std::cout << kSavedMark << outcome << std::endl;
}

TEST(ProgramEntryLimits, AFileSizeLimitFailsTheSaveAndLeavesTheFileAsItWas)
{
    const QByteArray old = "[Defaults]\nCustomPath=/srv/old\n\n[Settings]\nAddress=5\n";
    struct Case {
        const char *what;
        bool throughEntry;
        bool inPlace; // the file an administrator's copy that a link leads to, saved by nobody
    };
    const Case cases[] = {
        {"replaced beside", true, false},
        {"rewritten in place", true, true},
        // Without the entry the signal ends the save: the limit was reached.
        {"replaced beside, the signal at its default", false, false},
        {"rewritten in place, the signal at its default", false, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        if (c.inPlace && ::geteuid() != 0) {
            std::cout << "skipped (needs root to save as another user): " << c.what << "\n";
            continue;
        }
        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
        const QString file = dir.filePath(QStringLiteral("vantoro.ini"));
        {
            QFile f(file);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(old);
        }
        QString beside = file;
        if (c.inPlace) {
            // Root's, and the technician's through his group: never one every account may write.
            ASSERT_EQ(::chown(QFile::encodeName(file).constData(), 0, TestSupport::NobodyId), 0);
            ASSERT_EQ(::chmod(QFile::encodeName(file).constData(), 0664), 0);
            const QString program = dir.filePath(QStringLiteral("program"));
            ASSERT_TRUE(QDir().mkpath(program + QStringLiteral("/home")));
            ASSERT_TRUE(TestSupport::giveToNobody(program + QStringLiteral("/home"), 0755));
            ASSERT_TRUE(TestSupport::giveToNobody(program, 0755));
            beside = program + QStringLiteral("/vantoro.ini");
            ASSERT_TRUE(QFile::link(QStringLiteral("../vantoro.ini"), beside));
        }
        const QString world = beside + (c.throughEntry ? QStringLiteral("|entry") : QStringLiteral("|no entry"));
        const QString test = QStringLiteral("ProgramEntry.ChildSavesPastAFileSizeLimit");
        // A child the signal ends leaves its own temporary folder: in this one, which goes.
        const QString temp = dir.filePath(QStringLiteral("tmp"));
        ASSERT_TRUE(QDir().mkpath(temp));
        ASSERT_EQ(::chmod(QFile::encodeName(temp).constData(), 01777), 0);
        const auto run = c.inPlace ? TestSupport::runTestAsNobody(test, {{QString::fromUtf8(kFileSizeVariable), world},
                                                                         {QStringLiteral("HOME"),
                                                                          dir.filePath(QStringLiteral("program/home"))},
                                                                         {QStringLiteral("TMPDIR"), temp}})
                                   : TestSupport::runChildTest(test, TestSupport::changedEnvironment(
                                                                         QProcessEnvironment::systemEnvironment(),
                                                                         {{QString::fromUtf8(kFileSizeVariable), world},
                                                                          {QStringLiteral("TMPDIR"), temp}}));
        if (!c.throughEntry) {
            EXPECT_EQ(run.exitCode, -1) << "not ended by the signal: " << run.output.toStdString();
            continue;
        }
        EXPECT_EQ(run.exitCode, 0) << run.output.toStdString();
        EXPECT_TRUE(run.output.contains(QLatin1String(kSavedMark) + QStringLiteral("Unable to write to ") + beside))
            << run.output.toStdString();
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_EQ(f.readAll(), old);
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("vantoro.ini")})
            << "no file left beside";
    }
}

} // namespace
