// The connection's failure message when the serial port cannot be opened: a
// port held by another program, a user who may not use the device, a device
// that is missing. The message names the serial component's reason; a meter
// that does not answer on a port that opened keeps the message alone.
#include "console/TZ960InterfaceForm.h"
#include "e2e/ConsoleSimFixture.h"
#include "platform/PortMap.h"
#include "z960sim/Z960Sim.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <iostream>
#include <string>

namespace {

constexpr const char *kConnectFailed =
    "Failed to establish reliable communication with the sensor. please check modbus address, power supply and "
    "cable connections";
constexpr const char *kDialoutRemedy =
    "Add your user to the dialout group (sudo adduser $USER dialout), then log out and in again.";

// Set for the child that connects as another user: the device it maps as COM1.
constexpr const char *kChildPortVariable = "VANTORO_E2E_CHILD_PORT";
// The child prints each message it was shown on a line of its own after this mark.
constexpr const char *kChildMessageMark = "vantoro-message: ";

class OpenFailure : public TestSupport::ConsoleSimTest {
public:
    // Connects on COM1 and returns the messages shown; the window has closed.
    QStringList connectHere()
    {
        form = std::make_unique<TZ960InterfaceForm>(nullptr, nullptr, "Com1", 1);
        int lastPosition = -1;
        form->onProgress = [&](const std::string &, int position) { lastPosition = position; };
        form->show();
        waitForConnection();
        EXPECT_EQ(lastPosition, 0) << "the first step failed";
        EXPECT_TRUE(form->closingDown());
        EXPECT_EQ(form->link(), nullptr);
        form->onProgress = nullptr;
        return prompter.texts();
    }

    // Connects as the unprivileged user "nobody" in a child process running
    // this test program; returns the messages the child was shown.
    QStringList connectAsNobody(const std::string &device)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QLatin1String(kChildPortVariable), QString::fromStdString(device));
        env.insert(QStringLiteral("HOME"), QDir::tempPath());
        env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
        QProcess child;
        child.setProcessEnvironment(env);
        child.start(QStringLiteral("setpriv"),
                    {QStringLiteral("--reuid=nobody"), QStringLiteral("--regid=nogroup"),
                     QStringLiteral("--clear-groups"), QFile::symLinkTarget(QStringLiteral("/proc/self/exe")),
                     QStringLiteral("--gtest_filter=OpenFailure.ChildConnectsAsAnotherUser")});
        EXPECT_TRUE(child.waitForFinished(60000));
        const QString out = QString::fromUtf8(child.readAllStandardOutput());
        EXPECT_EQ(child.exitCode(), 0) << out.toStdString() << child.readAllStandardError().toStdString();
        QStringList messages;
        for (const QString &line : out.split(QLatin1Char('\n')))
            if (line.startsWith(QLatin1String(kChildMessageMark)))
                messages << QString::fromUtf8(
                    QByteArray::fromBase64(line.mid(int(strlen(kChildMessageMark))).toLatin1()));
        return messages;
    }
};

QString failedBecause(const QString &reason)
{
    return reason.isEmpty() ? QLatin1String(kConnectFailed) : QLatin1String(kConnectFailed) + "\n\n" + reason;
}

} // namespace

TEST_F(OpenFailure, TheMessageNamesWhyThePortCouldNotBeOpened)
{
    // Each case prepares COM1 and returns the reason the message must carry
    // (empty: the message alone).
    struct Case {
        const char *what;
        std::function<QString(OpenFailure &, int &holder)> arrange;
        bool asNobody = false;
    };
    const Case cases[] = {
        {"held by another program",
         [](OpenFailure &t, int &holder) {
             t.startSim();
             holder = ::open(t.sim->slavePath().c_str(), O_RDWR | O_NOCTTY);
             EXPECT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
             return QStringLiteral("Can't open specified device %1 (Error 16, Device or resource busy)")
                 .arg(QString::fromStdString(t.sim->slavePath()));
         }},
        {"not allowed to the user",
         [](OpenFailure &t, int &) {
             t.startSim();
             EXPECT_EQ(::chmod(t.sim->slavePath().c_str(), 0600), 0);
             return QStringLiteral("Can't open specified device %1 (Error 13, Permission denied)\n")
                        .arg(QString::fromStdString(t.sim->slavePath()))
                    + QLatin1String(kDialoutRemedy);
         },
         true},
        {"mapped device missing",
         [](OpenFailure &, int &) {
             qputenv(Platform::PortMapVariable, "1=/dev/vantoro-no-such-tty");
             return QStringLiteral("Specified device not found (/dev/vantoro-no-such-tty).");
         }},
        {"no device has the number",
         [](OpenFailure &, int &) {
             qputenv(Platform::PortMapVariable, "2=/dev/null");
             return QStringLiteral("Specified device not found (COM1).");
         }},
        {"opened, but no meter answers",
         [](OpenFailure &t, int &) {
             t.startSim({/*address*/ 2});
             return QString();
         }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        if (c.asNobody && ::geteuid() != 0) {
            std::cout << "skipped (needs root to drop to another user): " << c.what << "\n";
            continue;
        }
        prompter.messages.clear();
        int holder = -1;
        const QString reason = c.arrange(*this, holder);
        const QStringList shown = c.asNobody ? connectAsNobody(sim->slavePath()) : connectHere();
        EXPECT_EQ(shown.join(QLatin1Char('|')).toStdString(), failedBecause(reason).toStdString());
        EXPECT_EQ(shown.size(), 1);
        if (holder >= 0)
            ::close(holder);
        form.reset();
        sim.reset();
    }
}

// The child of the case above: runs only with the device given by its parent.
TEST_F(OpenFailure, ChildConnectsAsAnotherUser)
{
    const char *device = std::getenv(kChildPortVariable);
    if (!device)
        GTEST_SKIP() << "runs only as the child of TheMessageNamesWhyThePortCouldNotBeOpened";
    qputenv(Platform::PortMapVariable, QByteArray("1=") + device);
    for (const QString &message : connectHere())
        std::cout << kChildMessageMark << message.toUtf8().toBase64().toStdString() << std::endl;
}
