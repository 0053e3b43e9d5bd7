// The main window's end-to-end world: the console tests' private settings
// file, folders, prompter and shell opener, a simulated meter mapped as COM1,
// the link clock sped up, and a wait that keeps the event loop running.
#pragma once

#include "console/ConsoleFixture.h"
#include "console/TVRStartupForm.h"
#include "console/TZ960InterfaceForm.h"
#include "link/LinkClock.h"
#include "platform/PortMap.h"
#include "z960sim/Z960Sim.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <QTimer>

#include <functional>
#include <memory>

namespace TestSupport {

class ConsoleSimTest : public ConsoleTest {
public: // table-driven cases reach the fixture from outside its tests
    LinkClock::Scoped clock{20.0}; // a 1 s reply time-out lasts 50 ms
    std::unique_ptr<z960sim::Simulator> sim;
    std::unique_ptr<TZ960InterfaceForm> form;

    void TearDown() override
    {
        form.reset();
        sim.reset();
        ConsoleTest::TearDown();
    }

    void startSim(z960sim::Options options = {})
    {
        sim = std::make_unique<z960sim::Simulator>(options);
        qputenv(Platform::PortMapVariable, QByteArray("1=") + QByteArray::fromStdString(sim->slavePath()));
    }

    static bool waitFor(const std::function<bool()> &done, int ms = 10000)
    {
        QElapsedTimer t;
        t.start();
        while (!done()) {
            if (t.elapsed() > ms)
                return false;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            QThread::msleep(1);
        }
        return true;
    }

    // Presses Connect on the shown start-up window for Com1, which runs the
    // main window modally; once that polls (or after 10 s) `whilePolling`
    // looks at it and it is closed as the technician would. True when the
    // main window was shown polling.
    static bool connectAndClose(TVRStartupForm &startup,
                                const std::function<void(TZ960InterfaceForm &)> &whilePolling = {})
    {
        startup.AvailComportComboBox->setCurrentIndex(startup.AvailComportComboBox->findText(QStringLiteral("Com1")));
        bool shown = false;
        QElapsedTimer elapsed;
        elapsed.start();
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, [&] {
            auto *main = startup.findChild<TZ960InterfaceForm *>();
            if (main == nullptr || main->closingDown())
                return;
            if (main->polling()) {
                shown = main->isVisible();
                if (whilePolling)
                    whilePolling(*main);
            }
            if (main->polling() || elapsed.elapsed() > 10000)
                main->close();
        });
        watch.start(5);
        startup.ConnectBtnClick();
        return shown;
    }

    // Waits until the shown window's connection has ended either way. Polls
    // then run when a test calls them, not from the 5 s timer mid-test.
    void waitForConnection()
    {
        ASSERT_TRUE(waitFor([this] {
            return form->closingDown() || (form->link() && !form->deviceOperationRunning() && form->polling());
        }));
        form->StatusTimer->setInterval(600000);
    }
};

} // namespace TestSupport
