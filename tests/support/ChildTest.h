// Runs one test of this test program again in a child process, started
// through a launcher (setpriv for another user, for instance) or directly,
// in an environment of its own. The child test takes its world from that
// environment and skips itself without it; an empty value removes a
// variable.
#pragma once

#include <QCoreApplication>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <initializer_list>
#include <memory>
#include <utility>

namespace TestSupport {

using EnvironmentChanges = std::initializer_list<std::pair<QString, QString>>;

struct ChildRun {
    int exitCode = -1; // -1: it did not come to an end of its own
    QString output;    // standard output and error together
};

inline QProcessEnvironment changedEnvironment(QProcessEnvironment env, EnvironmentChanges changes)
{
    for (const auto &[name, value] : changes) {
        if (value.isEmpty())
            env.remove(name);
        else
            env.insert(name, value);
    }
    return env;
}

// `launcher` empty: the test program itself is started. The child runs
// beside the caller until finishChild() waits for it.
inline std::unique_ptr<QProcess> startChildTest(const QString &testName, const QProcessEnvironment &env,
                                                const QString &launcher = {}, QStringList launcherArguments = {})
{
    QStringList arguments = std::move(launcherArguments);
    arguments << QCoreApplication::applicationFilePath() << QStringLiteral("--gtest_filter=") + testName;
    const QString program = launcher.isEmpty() ? arguments.takeFirst() : launcher;
    auto child = std::make_unique<QProcess>();
    child->setProcessEnvironment(env);
    child->setProcessChannelMode(QProcess::MergedChannels);
    child->start(program, arguments);
    return child;
}

// Waits for a started child (at most two minutes, then it is killed).
inline ChildRun finishChild(QProcess &child)
{
    ChildRun run;
    // A child that has already ended is not waited for (waitForFinished() would say false).
    const bool ended = child.state() == QProcess::NotRunning || child.waitForFinished(120000);
    if (!ended) {
        child.kill();
        child.waitForFinished();
    } else if (child.error() != QProcess::FailedToStart && child.exitStatus() == QProcess::NormalExit) {
        run.exitCode = child.exitCode();
    }
    run.output = QString::fromLocal8Bit(child.readAll());
    return run;
}

inline ChildRun runChildTest(const QString &testName, const QProcessEnvironment &env, const QString &launcher = {},
                             QStringList launcherArguments = {})
{
    return finishChild(*startChildTest(testName, env, launcher, std::move(launcherArguments)));
}

} // namespace TestSupport
