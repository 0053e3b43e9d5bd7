// Ending the program never waits on the meter: the program's entry runs in a
// process of its own against the simulated meter, the technician closes the
// main window while a request goes unanswered and then the start-up window,
// and the process is gone at once, so that Vantoro can start again. A signal
// to end (a logout, a kill, Ctrl+C) during a download ends it the same way:
// the transfer aborted once, the settings saved and the port let go, so that
// another account can open it next.
#include "console/DataPage.h"
#include "console/ProgramEntry.h"
#include "e2e/ConsoleSimFixture.h"
#include "platform/IniFile.h"
#include "platform/SettingsFile.h"
#include "platform/SingleInstance.h"
#include "support/AsNobody.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QListWidget>
#include <QProcess>
#include <QProcessEnvironment>
#include <QPushButton>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QToolButton>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

constexpr const char *kChildVariable = "VANTORO_TEST_PROGRAM_END";
constexpr const char *kClosedLine = "start-up window closed";
constexpr qint64 kAtOnceMs = 2000;

// Waits for the child to end, until `withinMs` after `since`; one still
// running then is killed. Whether it ended in time, and when.
std::pair<bool, qint64> waitForEnd(QProcess &child, const QElapsedTimer &since, qint64 withinMs, QByteArray &output)
{
    const bool ended = child.waitForFinished(static_cast<int>(std::max<qint64>(0, withinMs - since.elapsed())));
    const qint64 endedAfter = since.elapsed();
    if (!ended) {
        child.kill();
        child.waitForFinished();
    }
    output += child.readAll();
    return {ended, endedAfter};
}

class ProgramEndChild : public TestSupport::ConsoleSimTest {};

// The technician's session, run by the test below in a process of its own.
TEST_F(ProgramEndChild, ClosesTheMainWindowDuringASilentRequestThenTheStartupWindow)
{
    if (!qEnvironmentVariableIsSet(kChildVariable))
        GTEST_SKIP() << "runs as the child of ProgramEnd.TheProcessEndsAtOnceAndVantoroStartsAgain";
    // Link time as in the field: a request left to wait would wait its 5 s.
    const LinkClock::Scoped realTime(1.0);
    startSim();
    int stage = 0;
    QElapsedTimer sinceRequest;
    QTimer script;
    QObject::connect(&script, &QTimer::timeout, [&] {
        TVRStartupForm *startup = VRStartupForm;
        if (startup == nullptr)
            return;
        auto *main = startup->findChild<TZ960InterfaceForm *>();
        const auto requested = [this] {
            const auto frames = sim->received();
            return std::any_of(frames.begin(), frames.end(), [](const z960sim::Frame &f) {
                return f.control == 0x80 && !f.payload.empty() && f.payload[0] == 80;
            });
        };
        if (stage == 0 && startup->isVisible()) {
            stage = 1;
            startup->AvailComportComboBox->setCurrentIndex(
                startup->AvailComportComboBox->findText(QStringLiteral("Com1")));
            QTimer::singleShot(0, startup, [startup] { startup->ConnectBtn->click(); });
        } else if (stage == 1 && main != nullptr && main->polling()) {
            stage = 2;
            sim->inject({z960sim::Fault::Silence, 80, z960sim::kAny, 0, 1, 0}); // the file list goes unanswered
            QTimer::singleShot(0, main, [main] { main->DataSB->click(); });
        } else if (stage == 2 && requested()) {
            stage = 3;
            sinceRequest.start();
        } else if (stage == 3 && sinceRequest.elapsed() >= 300) {
            stage = 4;
            main->close();
            QTimer::singleShot(0, startup, [startup] {
                startup->close();
                std::printf("%s\n", kClosedLine);
                std::fflush(stdout);
            });
        }
    });
    script.start(5);
    EXPECT_EQ(Console::WinMain({}), 0);
    EXPECT_EQ(stage, 4);
    EXPECT_TRUE(prompter.messages.empty()) << prompter.texts().join(QLatin1Char('|')).toStdString();
}

TEST(ProgramEnd, TheProcessEndsAtOnceAndVantoroStartsAgain)
{
    QTemporaryDir runtime; // the child's runtime folder, where its lock file lies
    ASSERT_TRUE(runtime.isValid());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QString::fromLatin1(kChildVariable), QStringLiteral("1"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
    QProcess child;
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--gtest_filter=ProgramEndChild.ClosesTheMainWindowDuringASilentRequestThenTheStartupWindow")});
    ASSERT_TRUE(child.waitForStarted());

    QByteArray output;
    QElapsedTimer sinceClose;
    QElapsedTimer total;
    total.start();
    while (!sinceClose.isValid() && child.state() != QProcess::NotRunning && total.elapsed() < 120000) {
        child.waitForReadyRead(50);
        output += child.readAll();
        if (output.contains(kClosedLine))
            sinceClose.start();
    }
    ASSERT_TRUE(sinceClose.isValid()) << output.toStdString();

    // A second start finds no running copy: the lock is free.
    const QString lockName = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    qint64 lockFreeAfter = -1;
    while (sinceClose.elapsed() < 10 * kAtOnceMs) {
        const Platform::SingleInstance second(lockName, runtime.path());
        if (second.state() == Platform::SingleInstance::State::Acquired) {
            lockFreeAfter = sinceClose.elapsed();
            break;
        }
        QThread::msleep(10);
    }
    const auto [ended, endedAfter] = waitForEnd(child, sinceClose, kAtOnceMs, output);
    EXPECT_TRUE(ended) << "still running " << endedAfter << " ms after the start-up window closed";
    EXPECT_LT(endedAfter, kAtOnceMs);
    EXPECT_GE(lockFreeAfter, 0);
    EXPECT_LT(lockFreeAfter, kAtOnceMs) << "ms until Vantoro could start again";
    EXPECT_EQ(child.exitCode(), 0) << output.toStdString();
    EXPECT_TRUE(output.contains("[  PASSED  ] 1 test")) << output.toStdString();
}

// ---------------------------------------------------------------------------
// A signal to end during a download

constexpr const char *kSignalChildVariable = "VANTORO_TEST_SIGNAL_END";
constexpr const char *kPortVariable = "VANTORO_TEST_SIGNAL_PORT";         // the meter's pty
constexpr const char *kSettingsVariable = "VANTORO_TEST_SIGNAL_SETTINGS"; // the settings file
constexpr const char *kEndedLine = "program ended";
constexpr size_t kLogBlocks = 200; // a download of some seconds at the paced line
constexpr int kBlockSize = 64;

bool isPcAbort(const z960sim::Frame &f) { return f.control == 0x8E; }

bool isTransferAck(const z960sim::Frame &f)
{
    return f.control == 0x8B || f.control == 0x90 || f.control == 0x92 || f.control == 0x94 || f.control == 0x96;
}

// The PC's frames since it last asked for the log file.
std::vector<z960sim::Frame> sinceFileRequest(const z960sim::Simulator &sim)
{
    const auto frames = sim.received();
    const auto request = std::find_if(frames.rbegin(), frames.rend(), [](const z960sim::Frame &f) {
        return f.control == 0x80 && !f.payload.empty() && f.payload[0] == 2;
    });
    return {request == frames.rend() ? frames.end() : std::prev(request.base()), frames.end()};
}

class SignalEndChild : public TestSupport::ConsoleTest {};

// The technician's session, run by the test below in a process of its own:
// connect, untick "Open downloaded files", download the meter's log, and the
// program ends from a signal while it comes in.
TEST_F(SignalEndChild, DownloadsUntilASignalEndsTheProgram)
{
    if (!qEnvironmentVariableIsSet(kSignalChildVariable))
        GTEST_SKIP() << "runs as the child of ProgramEnd.ASignalDuringADownloadEndsItAsACloseDoesAndLetsThePortGo";
    // Link time as in the field: a meter gone silent would be waited for seconds.
    const LinkClock::Scoped realTime(1.0);
    qputenv(Platform::PortMapVariable, "1=" + qgetenv(kPortVariable));
    Platform::Settings::setFilePath(qEnvironmentVariable(kSettingsVariable));
    int stage = 0;
    QTimer script;
    QObject::connect(&script, &QTimer::timeout, [&] {
        TVRStartupForm *startup = VRStartupForm;
        auto *main = startup ? startup->findChild<TZ960InterfaceForm *>() : nullptr;
        if (stage == 0 && startup && startup->isVisible()) {
            stage = 1;
            startup->AvailComportComboBox->setCurrentIndex(
                startup->AvailComportComboBox->findText(QStringLiteral("Com1")));
            QTimer::singleShot(0, startup, [startup] { startup->ConnectBtn->click(); });
        } else if (stage == 1 && main && main->polling() && !main->deviceOperationRunning()) {
            stage = 2;
            main->DlCheckBox->setChecked(false);
            QTimer::singleShot(0, main, [main] { main->DataSB->click(); });
        } else if (stage == 2 && main && !main->deviceOperationRunning() && main->dataPage->FileList->count() == 1) {
            stage = 3;
            QTimer::singleShot(0, main, [main] { main->dataPage->DownLoadBtn->click(); });
        }
    });
    script.start(5);
    EXPECT_EQ(Console::WinMain({}), 0);
    std::printf("%s\n", kEndedLine);
    std::fflush(stdout);
    EXPECT_EQ(stage, 3);
    // Nothing is asked or told once the program ends, not even that the download failed.
    EXPECT_TRUE(prompter.messages.empty()) << prompter.texts().join(QLatin1Char('|')).toStdString();
}

// Opens the meter's port as another account would, next.
TEST(SignalEndPortChild, OpensThePort)
{
    if (!qEnvironmentVariableIsSet(kPortVariable))
        GTEST_SKIP() << "runs as a child of ProgramEnd.ASignalDuringADownloadEndsItAsACloseDoesAndLetsThePortGo";
    const int fd = ::open(qgetenv(kPortVariable).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    EXPECT_GE(fd, 0) << std::strerror(errno);
    if (fd >= 0)
        ::close(fd);
}

TEST(ProgramEnd, ASignalDuringADownloadEndsItAsACloseDoesAndLetsThePortGo)
{
    const struct {
        const char *what;
        int signal;
        bool meterFallsSilent; // the meter stops answering in the middle of the file
    } cases[] = {
        {"SIGTERM", SIGTERM, false},
        {"SIGHUP", SIGHUP, false},
        {"SIGINT", SIGINT, false},
        {"SIGTERM to a silent meter", SIGTERM, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        z960sim::Options options;
        options.paced = true;
        options.baudRate = 57600; // the meter's reads take little time, the log some seconds
        options.blockSize = kBlockSize;
        z960sim::Simulator sim(options);
        sim.addFile("LOG0001.TXT", z960sim::Bytes(kLogBlocks * kBlockSize, '7'));
        const QString port = QString::fromStdString(sim.slavePath());
        ASSERT_EQ(::chmod(sim.slavePath().c_str(), 0666), 0); // as a serial bridge's port is
        QTemporaryDir folder; // the child's settings file and runtime folder
        ASSERT_TRUE(folder.isValid());
        const QString settings = folder.filePath(QStringLiteral("vantoro.ini"));

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QString::fromLatin1(kSignalChildVariable), QStringLiteral("1"));
        env.insert(QString::fromLatin1(kPortVariable), port);
        env.insert(QString::fromLatin1(kSettingsVariable), settings);
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), folder.path());
        QProcess child;
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::MergedChannels);
        // As a desktop session starts it: none of the three ignored.
        child.setChildProcessModifier([] {
            for (int s : {SIGTERM, SIGHUP, SIGINT})
                ::signal(s, SIG_DFL);
        });
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--gtest_filter=SignalEndChild.DownloadsUntilASignalEndsTheProgram")});
        ASSERT_TRUE(child.waitForStarted());

        // The signal comes once some blocks have arrived (or, from a meter
        // gone silent, once the line has been quiet for a while).
        QByteArray output;
        const auto acks = [&sim] {
            const auto frames = sinceFileRequest(sim);
            return std::count_if(frames.begin(), frames.end(), isTransferAck);
        };
        QElapsedTimer total;
        total.start();
        while (acks() < 5 && child.state() != QProcess::NotRunning && total.elapsed() < 60000) {
            child.waitForReadyRead(20);
            output += child.readAll();
        }
        ASSERT_GE(acks(), 5) << output.toStdString();
        if (c.meterFallsSilent) {
            sim.inject({z960sim::Fault::Silence, z960sim::kAny, z960sim::kAny, z960sim::kAnyBlock, 1, 0});
            sim.inject({z960sim::Fault::Silence, z960sim::kAny, z960sim::kAny, 0, 1, 0});
            QThread::msleep(300);
        }
        ASSERT_EQ(::kill(static_cast<pid_t>(child.processId()), c.signal), 0);
        QElapsedTimer sinceSignal;
        sinceSignal.start();
        const auto [ended, endedAfter] = waitForEnd(child, sinceSignal, 2 * kAtOnceMs, output);
        EXPECT_TRUE(ended) << "still running " << endedAfter << " ms after the signal";
        EXPECT_EQ(child.exitStatus(), QProcess::NormalExit) << "the signal ended it on the spot";
        EXPECT_EQ(child.exitCode(), 0) << output.toStdString();
        EXPECT_TRUE(output.contains(kEndedLine)) << output.toStdString();
        EXPECT_TRUE(output.contains("[  PASSED  ] 1 test")) << output.toStdString();

        // One abort on the line, and no acknowledgement after it (the
        // meter's side may still be reading what the line carried).
        TestSupport::ConsoleSimTest::waitFor([&sim] {
            const auto frames = sinceFileRequest(sim);
            return std::any_of(frames.begin(), frames.end(), isPcAbort);
        }, 2000);
        const auto frames = sinceFileRequest(sim);
        EXPECT_EQ(std::count_if(frames.begin(), frames.end(), isPcAbort), 1);
        const auto abort = std::find_if(frames.begin(), frames.end(), isPcAbort);
        EXPECT_EQ(std::count_if(abort, frames.end(), isTransferAck), 0);
        // The close saved the settings: "Open downloaded files" stays unticked.
        EXPECT_FALSE(Platform::IniFile(settings).ReadBool(QStringLiteral("Defaults"), QStringLiteral("AutoOpenFile"),
                                                          true));
        // The port was let go: its exclusive mode, too.
        const auto next = TestSupport::runTestAsNobody(QStringLiteral("SignalEndPortChild.OpensThePort"),
                                                       {{QString::fromLatin1(kPortVariable), port}});
        EXPECT_EQ(next.exitCode, 0) << next.output.toStdString();
        EXPECT_TRUE(next.output.contains("[  PASSED  ] 1 test")) << next.output.toStdString();
    }
}

} // namespace
