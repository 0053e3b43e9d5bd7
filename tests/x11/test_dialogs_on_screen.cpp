// The windows and dialogs of a connection read back from a real X server:
// the start-up window, the main window against the simulated meter, and the
// dialogs it opens (progress, access-code query, lost-link question, a
// failed download, technician's memo) with the interactive prompter. Each is read from the
// screen itself, not from Qt's own buffer, and must show its content: more
// than one colour and dark text.
#include "console/DataPage.h"
#include "console/TDlProgForm.h"
#include "console/TStringQuery.h"
#include "console/TVRStartupForm.h"
#include "console/TZ960InterfaceForm.h"
#include "e2e/ConsoleSimFixture.h"
#include "platform/Prompter.h"
#include "report/TTechMemoForm.h"
#include "support/ModalSteps.h"
#include "z960sim/Z960Sim.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSet>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <functional>
#include <gtest/gtest.h>

using TestSupport::modalDialog;
using TestSupport::when;

namespace {

// Pixels darker than this count as text.
constexpr int kDarkGrey = 80;
constexpr int kMinDarkPixels = 20;
// How long a window may take to reach the screen before it counts as unreadable.
constexpr int kPaintDeadlineMs = 3000;
// How long the whole connection may take before its windows are closed.
constexpr int kRunDeadlineMs = 60000;

struct ScreenContent {
    int colours = 0;
    int darkPixels = 0;
    bool readable() const { return colours > 1 && darkPixels >= kMinDarkPixels; }
};

// What the X server shows over the window's frame.
QImage onScreen(const QWidget &window)
{
    const QRect frame = window.frameGeometry();
    QScreen *screen = window.screen() ? window.screen() : QGuiApplication::primaryScreen();
    return screen->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height()).toImage();
}

ScreenContent contentOf(const QImage &image)
{
    ScreenContent content;
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = image.pixel(x, y);
            colours.insert(pixel & 0xffffff);
            if (qGray(pixel) < kDarkGrey)
                ++content.darkPixels;
        }
    content.colours = int(colours.size());
    return content;
}

// Keeps the event loop running until the window shows its content on the
// screen, or the deadline passes. A failure leaves the last picture beside
// the test as <what>.png.
void expectOnScreen(const QWidget &window, const char *what)
{
    ASSERT_TRUE(window.isVisible()) << what;
    QElapsedTimer clock;
    clock.start();
    QImage image;
    ScreenContent content;
    do {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        image = onScreen(window);
        content = contentOf(image);
    } while (!content.readable() && clock.elapsed() < kPaintDeadlineMs);
    if (!content.readable())
        image.save(QString::fromLatin1(what).replace(QLatin1Char(' '), QLatin1Char('-')) + QStringLiteral(".png"));
    EXPECT_TRUE(content.readable()) << what << " on the screen: " << content.colours << " colours, "
                                    << content.darkPixels << " dark pixels over "
                                    << window.frameGeometry().width() << "x" << window.frameGeometry().height();
}

// Answers the next modal dialog of its type once it has been read from the screen.
template <typename Dialog>
void answerWhenShown(QObject *context, const char *what, std::function<void(Dialog &)> answer)
{
    when(
        context, [] { return modalDialog<Dialog>() != nullptr; },
        [what, answer = std::move(answer)] {
            Dialog &dialog = *modalDialog<Dialog>();
            expectOnScreen(dialog, what);
            answer(dialog);
        });
}

class DialogsOnScreen : public TestSupport::ConsoleSimTest {
protected:
    void SetUp() override
    {
        ConsoleSimTest::SetUp();
        Platform::setPrompter(nullptr); // the real dialogs are the subject here
    }

    // What the technician does in the main window once it is connected,
    // one dialog after another; each call that opens a modal dialog returns
    // once the dialog has been answered.
    void useConnection(TZ960InterfaceForm &main)
    {
        main.StatusTimer->setInterval(600000); // polls run when the test calls them
        expectOnScreen(main, "main window");

        answerWhenShown<TStringQuery>(&main, "access-code query", [](TStringQuery &query) {
            QTest::keyClicks(query.Edit, QStringLiteral("3456"));
            QTest::keyClick(query.Edit, Qt::Key_Return);
        });
        main.LogginSB->click();
        EXPECT_TRUE(main.SetupSB->isEnabled()) << "the access code was not taken";
        main.StatusSB->click();

        sim->inject({z960sim::Fault::Silence, 0, z960sim::kAny, 0, 1, 0}); // the meter stops answering pings
        answerWhenShown<QMessageBox>(&main, "lost-link question",
                                     [](QMessageBox &box) { box.button(QMessageBox::No)->click(); });
        main.StatusTimerTimer();
        sim->clearInjections();
        EXPECT_TRUE(main.polling()) << "the lost-link question was not answered No";

        failDownload(main);

        answerWhenShown<TTechMemoForm>(&main, "memo dialog", [](TTechMemoForm &memo) { memo.CancelBtn->click(); });
        main.GenerateReportSB->click();

        main.close();
    }

    // A download whose every fetch breaks off: the progress dialog, readable,
    // says that the file is fetched again, and is gone from the screen before
    // the failure is said.
    void failDownload(TZ960InterfaceForm &main)
    {
        sim->addFile("LOG0001.CSV", z960sim::Bytes(2000, 0x41));
        main.DataSB->click(); // lists the meter's files
        ASSERT_GT(main.dataPage->FileList->count(), 0);
        sim->inject({z960sim::Fault::StallTransfer, 2, z960sim::kAny, 1, 1, 0});
        bool fetchedAgain = false;
        const auto progress = [&main] { return main.findChild<TDlProgForm *>(); };
        when(
            &main,
            [progress] { return progress() != nullptr && progress()->Label2->text().contains(QStringLiteral("again")); },
            [&] {
                fetchedAgain = true;
                expectOnScreen(*progress(), "progress dialog fetching again");
            });
        bool dialogLeftBehind = true;
        answerWhenShown<QMessageBox>(&main, "failed download message", [&](QMessageBox &box) {
            dialogLeftBehind = false;
            for (QWidget *w : QApplication::topLevelWidgets())
                dialogLeftBehind = dialogLeftBehind || (qobject_cast<TDlProgForm *>(w) != nullptr && w->isVisible());
            EXPECT_EQ(box.text(), QStringLiteral("Failed to download file"));
            box.button(QMessageBox::Ok)->click();
        });
        main.dataPage->DownLoadBtn->click(); // returns once the failure has been answered
        sim->clearInjections();
        EXPECT_TRUE(fetchedAgain);
        EXPECT_FALSE(dialogLeftBehind);
    }
};

TEST_F(DialogsOnScreen, EveryWindowOfAConnectionShowsItsContent)
{
    startSim();
    TVRStartupForm startup;
    startup.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&startup));
    expectOnScreen(startup, "start-up window");

    bool connected = false;
    startup.runMainWindow = [&](TVRStartupForm &owner, const std::string &port, uint16_t address) {
        TZ960InterfaceForm main(&owner, &owner, port, address);
        main.onProgress = [&main](const std::string &, int position) {
            if (position == 25) // the first structure read is about to start
                expectOnScreen(*main.progress(), "progress dialog");
        };
        when(
            &main, [&main] { return main.polling() && !main.deviceOperationRunning(); },
            [&] {
                connected = true;
                useConnection(main);
            });
        main.ShowModal();
    };
    // A dialog nobody answers (an unexpected message) would wait for ever:
    // past the deadline every modal window is closed, one a second.
    QTimer watchdog;
    QObject::connect(&watchdog, &QTimer::timeout, [&watchdog] {
        ADD_FAILURE() << "the connection did not run to its end in time";
        watchdog.setInterval(1000);
        if (QWidget *modal = QApplication::activeModalWidget())
            modal->close();
    });
    watchdog.start(kRunDeadlineMs);
    startup.AvailComportComboBox->setCurrentIndex(startup.AvailComportComboBox->findText(QStringLiteral("Com1")));
    startup.ConnectBtnClick(); // returns once the main window has closed
    watchdog.stop();

    EXPECT_TRUE(connected);
    ASSERT_TRUE(startup.isVisible());
    expectOnScreen(startup, "start-up window afterwards");
}

} // namespace
