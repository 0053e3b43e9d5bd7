// Runs one test of this test program again on a virtual X display of its
// own with a window manager (openbox) on it, for what only a frame drawn by
// a window manager shows: where framed windows go. The display and the
// window manager end with the run; other tests on the shared display never
// meet them. The child test skips itself outside such a run and waits for
// the window manager before it starts.
//
//   TEST(Places, X) { const auto run = runTestUnderWindowManager("PlacesChild.X"); ... }
//   TEST_F(PlacesChild, X) { if (!underWindowManager()) GTEST_SKIP(); ASSERT_TRUE(waitForWindowManager()); ... }
#pragma once

#include "support/ChildTest.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QProcess>
#include <QThread>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>

namespace TestSupport {

inline constexpr const char *UnderWindowManagerVariable = "VANTORO_TEST_UNDER_WINDOW_MANAGER";

inline bool underWindowManager() { return qEnvironmentVariableIsSet(UnderWindowManagerVariable); }

inline ChildRun runTestUnderWindowManager(const QString &testName)
{
    ChildRun run;
    QProcess server;
    // The server picks a free display and names it on its standard output.
    server.start(QStringLiteral("Xvfb"), {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                                          QStringLiteral("0"), QStringLiteral("1280x1024x24"),
                                          QStringLiteral("-nolisten"), QStringLiteral("tcp")});
    QByteArray display;
    if (server.waitForStarted())
        while (!display.endsWith('\n') && server.waitForReadyRead(10000))
            display += server.readAllStandardOutput();
    if (display.trimmed().isEmpty()) {
        run.output = QStringLiteral("Xvfb did not start: ") + server.errorString();
        return run;
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), QLatin1Char(':') + QString::fromLatin1(display.trimmed()));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QLatin1String(UnderWindowManagerVariable), QStringLiteral("1"));

    QProcess manager;
    manager.setProcessEnvironment(env);
    manager.setStandardOutputFile(QProcess::nullDevice());
    manager.setStandardErrorFile(QProcess::nullDevice());
    manager.start(QStringLiteral("openbox"), {QStringLiteral("--sm-disable")});
    if (manager.waitForStarted())
        run = runChildTest(testName, env);
    else
        run.output = QStringLiteral("openbox did not start (scripts/install-deps installs it): ") +
                     manager.errorString();
    for (QProcess *p : {&manager, &server}) {
        p->terminate();
        if (!p->waitForFinished(5000)) {
            p->kill();
            p->waitForFinished();
        }
    }
    return run;
}

// True once a window manager has announced itself on this program's display
// (the root window's _NET_SUPPORTING_WM_CHECK), within `ms`.
inline bool waitForWindowManager(int ms = 10000)
{
    auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t *c = x11 ? x11->connection() : nullptr;
    if (!c)
        return false;
    static const char name[] = "_NET_SUPPORTING_WM_CHECK";
    xcb_intern_atom_reply_t *atom =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(std::strlen(name)), name), nullptr);
    if (!atom)
        return false;
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    bool found = false;
    QElapsedTimer clock;
    clock.start();
    while (!found && clock.elapsed() < ms) {
        xcb_get_property_reply_t *reply = xcb_get_property_reply(
            c, xcb_get_property(c, 0, root, atom->atom, XCB_ATOM_WINDOW, 0, 1), nullptr);
        found = reply && xcb_get_property_value_length(reply) == 4;
        std::free(reply);
        if (!found)
            QThread::msleep(20);
    }
    std::free(atom);
    return found;
}

} // namespace TestSupport
