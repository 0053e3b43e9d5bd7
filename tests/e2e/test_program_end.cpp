// Ending the program never waits on the meter: the program's entry runs in a
// process of its own against the simulated meter, the technician closes the
// main window while a request goes unanswered and then the start-up window,
// and the process is gone at once, so that Vantoro can start again.
#include "console/ProgramEntry.h"
#include "e2e/ConsoleSimFixture.h"
#include "platform/SingleInstance.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QPushButton>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QToolButton>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

namespace {

constexpr const char *kChildVariable = "VANTORO_TEST_PROGRAM_END";
constexpr const char *kClosedLine = "start-up window closed";
constexpr qint64 kAtOnceMs = 2000;

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
    const bool ended = child.waitForFinished(static_cast<int>(std::max<qint64>(0, kAtOnceMs - sinceClose.elapsed())));
    const qint64 endedAfter = sinceClose.elapsed();
    if (!ended) {
        child.kill();
        child.waitForFinished();
    }
    output += child.readAll();
    EXPECT_TRUE(ended) << "still running " << endedAfter << " ms after the start-up window closed";
    EXPECT_LT(endedAfter, kAtOnceMs);
    EXPECT_GE(lockFreeAfter, 0);
    EXPECT_LT(lockFreeAfter, kAtOnceMs) << "ms until Vantoro could start again";
    EXPECT_EQ(child.exitCode(), 0) << output.toStdString();
    EXPECT_TRUE(output.contains("[  PASSED  ] 1 test")) << output.toStdString();
}

} // namespace
