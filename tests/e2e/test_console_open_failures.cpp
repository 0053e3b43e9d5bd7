// The connection's failure message when the serial port cannot be opened: a
// port held by another program, a user who may not use the device, a device
// that is missing. The message names the serial component's reason, and for
// a refused user what would let them open the device (a group to join, or
// whose the device is); a meter that does not answer on a port that opened
// keeps the message alone.
#include "console/TZ960InterfaceForm.h"
#include "e2e/ConsoleSimFixture.h"
#include "platform/PortMap.h"
#include "support/AsNobody.h"
#include "z960sim/Z960Sim.h"

#include <QDir>
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
constexpr uid_t kRoot = 0, kDaemon = 1;
constexpr gid_t kTty = 5, kUucp = 10, kDialout = 20;

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
        const auto run = TestSupport::runTestAsNobody(
            QStringLiteral("OpenFailure.ChildConnectsAsAnotherUser"),
            {{QLatin1String(kChildPortVariable), QString::fromStdString(device)},
             {QStringLiteral("HOME"), QDir::tempPath()}});
        EXPECT_EQ(run.exitCode, 0) << run.output.toStdString();
        QStringList messages;
        for (const QString &line : run.output.split(QLatin1Char('\n')))
            if (line.startsWith(QLatin1String(kChildMessageMark)))
                messages << QString::fromUtf8(
                    QByteArray::fromBase64(line.mid(int(strlen(kChildMessageMark))).toLatin1()));
        return messages;
    }
};

// The simulator's device handed to `owner` and `group` with `mode`, refused
// to nobody; the reason names the refusal and then `advice`.
std::function<QString(OpenFailure &, int &)> refusedNode(uid_t owner, gid_t group, mode_t mode, QString advice)
{
    return [=](OpenFailure &t, int &) {
        t.startSim();
        EXPECT_EQ(::chown(t.sim->slavePath().c_str(), owner, group), 0);
        EXPECT_EQ(::chmod(t.sim->slavePath().c_str(), mode), 0);
        return QStringLiteral("Can't open specified device %1 (Error 13, Permission denied)\n")
                   .arg(QString::fromStdString(t.sim->slavePath())) +
               advice;
    };
}

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
        // Refused to the user: what would help, and nothing else.
        {"a device of the dialout group", refusedNode(kRoot, kDialout, 0660, QLatin1String(kDialoutRemedy)), true},
        {"a device of another group",
         refusedNode(kRoot, kUucp, 0660,
                     QStringLiteral("Add your user to the uucp group (sudo adduser $USER uucp), then log out and in again.")),
         true},
        {"a root-only 0600 node",
         refusedNode(kRoot, kDialout, 0600,
                     QStringLiteral("The device belongs to root (group dialout, mode 0600): only root may open it.")),
         true},
        {"another user's terminal",
         refusedNode(kDaemon, kTty, 0620,
                     QStringLiteral("The device belongs to daemon (group tty, mode 0620): only daemon and root may "
                                    "open it.")),
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
