// Runs one test of this test program again, in a child process of the
// ordinary user "nobody": root passes every permission check, so what an
// ordinary user meets can only be tried there. The child test takes its
// world from the environment it is given and skips itself without it; an
// empty value removes the variable.
//
//   const auto run = TestSupport::runTestAsNobody("Suite.ChildCase", {{"HOME", home}});
//   EXPECT_EQ(run.exitCode, 0) << run.output.toStdString();
#pragma once

#include "support/ChildTest.h"

#include <QFile>
#include <QString>

#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

namespace TestSupport {

inline constexpr uid_t NobodyId = 65534; // user "nobody", group "nogroup"

// Hands `path` to nobody (chown), with the given mode.
inline bool giveToNobody(const QString &path, mode_t mode)
{
    const QByteArray name = QFile::encodeName(path);
    return ::chown(name.constData(), NobodyId, NobodyId) == 0 && ::chmod(name.constData(), mode) == 0;
}

inline ChildRun runTestAsNobody(const QString &testName, EnvironmentChanges environment)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("XDG_RUNTIME_DIR")); // root's, which nobody may not use
    const QString id = QString::number(NobodyId);
    return runChildTest(testName, changedEnvironment(env, environment), QStringLiteral("setpriv"),
                        {QStringLiteral("--reuid=") + id, QStringLiteral("--regid=") + id,
                         QStringLiteral("--clear-groups")});
}

} // namespace TestSupport
