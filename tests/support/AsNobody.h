// Runs one test of this test program again, in a child process of the
// ordinary user "nobody" (or of another account): root passes every
// permission check, so what an ordinary user meets can only be tried there.
// The child test takes its world from the environment it is given and skips
// itself without it; an empty value removes the variable.
//
//   const auto run = TestSupport::runTestAsNobody("Suite.ChildCase", {{"HOME", home}});
//   EXPECT_EQ(run.exitCode, 0) << run.output.toStdString();
//   auto other = TestSupport::startTestAs(TestSupport::Daemon, "Suite.Other", {});
//   ... TestSupport::finishChild(*other) ...
#pragma once

#include "support/ChildTest.h"

#include <QFile>
#include <QString>

#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

namespace TestSupport {

inline constexpr uid_t NobodyId = 65534; // user "nobody", group "nogroup"

// An account a child runs as: its user, its group and the one supplementary
// group it has besides (none when negative).
struct Account {
    uid_t uid;
    gid_t gid;
    int extraGroup = -1;
};
inline constexpr Account Nobody{NobodyId, NobodyId};
inline constexpr Account Daemon{1, 1};
inline constexpr gid_t UsersGroupId = 100; // group "users"
inline constexpr Account NobodyInUsers{NobodyId, NobodyId, int(UsersGroupId)};

// Hands `path` to nobody (chown), with the given mode.
inline bool giveToNobody(const QString &path, mode_t mode)
{
    const QByteArray name = QFile::encodeName(path);
    return ::chown(name.constData(), NobodyId, NobodyId) == 0 && ::chmod(name.constData(), mode) == 0;
}

inline QStringList setprivArguments(const Account &account)
{
    return {QStringLiteral("--reuid=") + QString::number(account.uid),
            QStringLiteral("--regid=") + QString::number(account.gid),
            account.extraGroup < 0 ? QStringLiteral("--clear-groups")
                                   : QStringLiteral("--groups=") + QString::number(account.extraGroup)};
}

inline QProcessEnvironment environmentOfOtherAccount(EnvironmentChanges environment)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("XDG_RUNTIME_DIR")); // root's, which another account may not use
    return changedEnvironment(env, environment);
}

inline std::unique_ptr<QProcess> startTestAs(const Account &account, const QString &testName,
                                             EnvironmentChanges environment)
{
    return startChildTest(testName, environmentOfOtherAccount(environment), QStringLiteral("setpriv"),
                          setprivArguments(account));
}

inline ChildRun runTestAs(const Account &account, const QString &testName, EnvironmentChanges environment)
{
    return finishChild(*startTestAs(account, testName, environment));
}

inline ChildRun runTestAsNobody(const QString &testName, EnvironmentChanges environment)
{
    return runTestAs(Nobody, testName, environment);
}

} // namespace TestSupport
