// A stand-in for the desktop's opener, for tests: a script run in its place
// that notes its argument, waits until the test lets it go, then does what
// its body says (fail with a message, for instance).
//
//   const TestSupport::FakeOpener opener("echo 'no method' >&2; exit 3");
//   Platform::shellOpenOrTell(path, window);
//   opener.finish(); // the failure is told now
#pragma once

#include "platform/ShellOpen.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace TestSupport {

// What the desktop's opener writes on a desktop without a program for the
// kind of target: the shell's error for each browser it tried, with the
// script's path and line, then "no method available".
inline constexpr const char *kNoMethodOpener =
    "for b in www-browser links2 elinks links lynx w3m; do echo \"/usr/bin/xdg-open: 882: $b: not found\" >&2; done\n"
    "echo \"xdg-open: no method available for opening '$1'\" >&2; exit 3";

class FakeOpener {
public:
    explicit FakeOpener(const char *body)
    {
        EXPECT_TRUE(dir.isValid());
        QFile script(program());
        EXPECT_TRUE(script.open(QIODevice::WriteOnly));
        script.write(QByteArray("#!/bin/sh\nprintf '%s' \"$1\" > \"$0.argument\"\n"
                                "while [ ! -e \"$0.go\" ]; do sleep 0.01; done\n") +
                     body + "\n");
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        Platform::setOpenerProgram(program());
    }
    ~FakeOpener() { Platform::setOpenerProgram({}); }

    QString program() const { return dir.filePath(QStringLiteral("opener")); }
    QByteArray argument() const
    {
        QFile f(program() + QStringLiteral(".argument"));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(none)");
    }
    // Lets the opener end, and waits until it has.
    bool finish() const
    {
        QFile(program() + QStringLiteral(".go")).open(QIODevice::WriteOnly);
        QElapsedTimer clock;
        clock.start();
        while (Platform::runningOpeners() > 0 && clock.elapsed() < 10000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        return Platform::runningOpeners() == 0;
    }

private:
    QTemporaryDir dir;
};

} // namespace TestSupport
