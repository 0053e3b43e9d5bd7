// Runs one test of this test program again, in a child process of the
// ordinary user "nobody": root passes every permission check, so what an
// ordinary user meets can only be tried there. The child test takes its
// world from the environment it is given and skips itself without it; an
// empty value removes the variable.
//
//   const auto run = TestSupport::runTestAsNobody("Suite.ChildCase", {{"HOME", home}});
//   EXPECT_EQ(run.exitCode, 0) << run.output.toStdString();
#pragma once

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>

#include <initializer_list>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>
#include <utility>

namespace TestSupport {

inline constexpr uid_t NobodyId = 65534; // user "nobody", group "nogroup"

// Hands `path` to nobody (chown), with the given mode.
inline bool giveToNobody(const QString &path, mode_t mode)
{
    const QByteArray name = QFile::encodeName(path);
    return ::chown(name.constData(), NobodyId, NobodyId) == 0 && ::chmod(name.constData(), mode) == 0;
}

struct ChildRun {
    int exitCode = -1; // -1: it did not come to an end of its own
    QString output;    // standard output and error together
};

inline ChildRun runTestAsNobody(const QString &testName,
                                std::initializer_list<std::pair<QString, QString>> environment)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("XDG_RUNTIME_DIR")); // root's, which nobody may not use
    for (const auto &[name, value] : environment) {
        if (value.isEmpty())
            env.remove(name);
        else
            env.insert(name, value);
    }
    QProcess child;
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    const QString id = QString::number(NobodyId);
    child.start(QStringLiteral("setpriv"),
                {QStringLiteral("--reuid=") + id, QStringLiteral("--regid=") + id, QStringLiteral("--clear-groups"),
                 QCoreApplication::applicationFilePath(), QStringLiteral("--gtest_filter=") + testName});
    ChildRun run;
    if (!child.waitForFinished(120000)) {
        child.kill();
        child.waitForFinished();
    } else if (child.exitStatus() == QProcess::NormalExit) {
        run.exitCode = child.exitCode();
    }
    run.output = QString::fromLocal8Bit(child.readAll());
    return run;
}

} // namespace TestSupport
