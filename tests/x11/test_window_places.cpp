// Where the start-up and main windows go over a day of connections, under a
// window manager that draws their frames: the main window opens with its
// frame centred on the start-up window's frame, the setup dialog on the main
// window's, and each window kept centred beneath another stays where it was:
// the start-up window is back in its place once the main window has closed,
// however many times the technician connects.
#include "config/ConfigFormUnit.h"
#include "console/TVRStartupForm.h"
#include "console/TZ960InterfaceForm.h"
#include "e2e/ConsoleSimFixture.h"
#include "support/Centres.h"
#include "support/UnderWindowManager.h"

#include <QTest>
#include <gtest/gtest.h>

#include <ostream>

void PrintTo(const QPoint &p, std::ostream *os) { *os << p.x() << "," << p.y(); }

namespace {

constexpr int kConnections = 3;
constexpr int kTolerance = 2; // pixels

bool near(const QPoint &a, const QPoint &b, int tolerance)
{
    return std::abs(a.x() - b.x()) <= tolerance && std::abs(a.y() - b.y()) <= tolerance;
}

class WindowPlacesChild : public TestSupport::ConsoleSimTest {};

TEST_F(WindowPlacesChild, ThreeConnections)
{
    if (!TestSupport::underWindowManager())
        GTEST_SKIP() << "runs as the child of WindowPlaces.TheStartupWindowStaysWhereItWasAfterEachConnection";
    ASSERT_TRUE(TestSupport::waitForWindowManager()) << "no window manager on the display";
    startSim();
    TVRStartupForm startup;
    startup.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&startup));
    ASSERT_TRUE(waitFor([&] { return startup.frameGeometry() != startup.geometry(); })) << "no frame drawn";
    const QRect before = startup.frameGeometry();

    for (int i = 1; i <= kConnections; ++i) {
        SCOPED_TRACE(testing::Message() << "connection " << i);
        QRect mainFrame;
        QRect mainUnderSetup;
        QRect startupWhileConnected;
        EXPECT_TRUE(connectAndClose(startup, [&](TZ960InterfaceForm &main) {
            mainFrame = main.frameGeometry();
            // The setup dialog opens over the main window, which it keeps centred beneath.
            TConfigForm setup(&main, &main, main.link(), 3);
            setup.show();
            waitFor([&] { return setup.frameGeometry() != setup.geometry(); });
            mainUnderSetup = main.frameGeometry();
            setup.CancelBtnClick();
            startupWhileConnected = startup.frameGeometry();
        }));
        EXPECT_GT(mainFrame.height(), 572) << "the main window got no frame";
        // Frame on frame: the centres meet (within half a pixel of integer halves).
        EXPECT_TRUE(TestSupport::centredOn(mainFrame, before))
            << "main window's frame at " << mainFrame.x() << "," << mainFrame.y() << " " << mainFrame.width() << "x"
            << mainFrame.height();
        EXPECT_TRUE(near(mainUnderSetup.topLeft(), mainFrame.topLeft(), kTolerance))
            << "moved beneath the setup dialog to " << testing::PrintToString(mainUnderSetup.topLeft());
        EXPECT_TRUE(near(startupWhileConnected.topLeft(), before.topLeft(), kTolerance))
            << "moved beneath the main window to " << testing::PrintToString(startupWhileConnected.topLeft());
        waitFor([&] { return near(startup.frameGeometry().topLeft(), before.topLeft(), kTolerance); }, 1000);
        EXPECT_TRUE(near(startup.frameGeometry().topLeft(), before.topLeft(), kTolerance))
            << "start-up window at " << testing::PrintToString(startup.frameGeometry().topLeft()) << ", was at "
            << testing::PrintToString(before.topLeft());
    }
}

TEST(WindowPlaces, TheStartupWindowStaysWhereItWasAfterEachConnection)
{
    if (TestSupport::underWindowManager())
        GTEST_SKIP() << "the child's own run";
    const auto run = TestSupport::runTestUnderWindowManager(QStringLiteral("WindowPlacesChild.ThreeConnections"));
    EXPECT_EQ(run.exitCode, 0) << run.output.toStdString();
    EXPECT_TRUE(run.output.contains(QLatin1String("[  PASSED  ] 1 test"))) << run.output.toStdString();
}

} // namespace
