// window-tour: opens every window, page and dialog of Vantoro one after the
// other, connected to the simulated meter, so that each can be looked at on
// a real display (scripts/screenshots runs it under a window manager).
//
// For each sight it prints "shot <name>" on its output and waits for a line
// on its input before it goes on; whoever runs it takes the picture in
// between. Run by hand, pressing Enter steps through the tour.
//
// The tour keeps its settings file and data folders in a temporary folder
// of its own and answers every dialog itself, Cancel wherever it can, so it
// changes nothing outside that folder and nothing on the (simulated) meter
// but the clock page's and the login's own effects.
#include "config/ConfigFormUnit.h"
#include "console/ClockPage.h"
#include "console/PageControls.h"
#include "console/ProgramEntry.h"
#include "console/TAboutBox.h"
#include "console/TOptionsForm.h"
#include "console/TStringQuery.h"
#include "console/TVRStartupForm.h"
#include "console/TZ960InterfaceForm.h"
#include "platform/KnownFolders.h"
#include "platform/PortMap.h"
#include "platform/SettingsFile.h"
#include "report/TMessageForm.h"
#include "report/TTechMemoForm.h"
#include "serial/SerComm.h"
#include "serial/SerConfigDialog.h"
#include "support/ModalSteps.h"
#include "z960sim/Z960Sim.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QToolButton>

#include <cstdio>
#include <functional>
#include <string>

using TestSupport::modalDialog;
using TestSupport::when;

namespace {

// Time for the window manager to map and frame a new window and for it to paint.
constexpr int kSettleMs = 600;

void settle(int ms = kSettleMs)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(5);
    }
}

// The control that has the keyboard focus, as "class name" (a button
// without a name by its caption).
std::string focusText()
{
    const QWidget *w = QApplication::focusWidget();
    if (!w)
        return "none";
    QString name = w->objectName();
    if (const auto *button = qobject_cast<const QAbstractButton *>(w); button && name.isEmpty())
        name = QLatin1Char('"') + button->text() + QLatin1Char('"');
    return std::string(w->metaObject()->className()) + " " + name.toStdString();
}

// One sight: announced with the focus once it has settled; the tour goes on
// after the reply.
void shot(const std::string &name)
{
    settle();
    std::printf("shot %s focus: %s\n", name.c_str(), focusText().c_str());
    std::fflush(stdout);
    char reply[64];
    if (!std::fgets(reply, sizeof reply, stdin))
        settle(); // nobody takes pictures: just show each sight a little longer
}

// The next modal dialog of its type: pictured (unless `name` is empty), then answered.
template <typename Dialog>
void onModal(const std::string &name, std::function<void(Dialog &)> answer)
{
    when(qApp, [] { return modalDialog<Dialog>() != nullptr; },
         [name, answer = std::move(answer)] {
             Dialog &dialog = *modalDialog<Dialog>();
             if (!name.empty())
                 shot(name);
             answer(dialog);
         });
}

// A message box the tour did not expect is pictured and closed after a while,
// so the tour never hangs on one.
void watchForStrayBoxes()
{
    auto *timer = new QTimer(qApp);
    timer->setInterval(4000);
    QObject::connect(timer, &QTimer::timeout, [] {
        static QPointer<QMessageBox> seen;
        static int count = 0;
        auto *box = modalDialog<QMessageBox>();
        if (box && box == seen) {
            shot("unexpected-" + std::to_string(++count));
            box->done(QMessageBox::Cancel);
            box = nullptr;
        }
        seen = box;
    });
    timer->start();
}

void press(QMessageBox &box, QMessageBox::StandardButton which)
{
    if (QAbstractButton *b = box.button(which))
        b->click();
    else
        box.close();
}

std::function<void(QMessageBox &)> answerWith(QMessageBox::StandardButton which)
{
    return [which](QMessageBox &box) { press(box, which); };
}

void tourSetupDialog(TConfigForm &setup)
{
    for (int i = 0; i < setup.ConfigPageControl->count(); ++i) {
        setup.ConfigPageControl->setCurrentIndex(i);
        shot("setup-configuration-" + setup.ConfigPageControl->widget(i)->objectName().toStdString());
    }
    for (QToolButton *b : {setup.CalibrationSB, setup.BasicCalibrationSB, setup.AccessSB}) {
        b->click();
        shot("setup-" + b->objectName().toStdString());
    }

    setup.ClearLogsSB->click();
    shot("setup-ClearLogsSB");
    onModal<QMessageBox>("setup-clear-logs-question", answerWith(QMessageBox::No));
    setup.ClearDataLogsBtn->click();

    setup.ResetTotalisersSB->click();
    shot("setup-ResetTotalisersSB");
    onModal<QMessageBox>("setup-zero-totals-question", [](QMessageBox &question) {
        onModal<QMessageBox>("setup-process-canceled", answerWith(QMessageBox::Ok));
        press(question, QMessageBox::No);
    });
    setup.ClearTotalsBtn->click();

    onModal<QMessageBox>("setup-upgrade-warning", answerWith(QMessageBox::Ok));
    setup.Z640ConversionSB->click();
    shot("setup-Z640ConversionSB");

    setup.DetectorSB->click();
    shot("setup-DetectorSB");
    setup.CancelBtnClick();
}

void waitForIdle(TZ960InterfaceForm &main)
{
    while (main.deviceOperationRunning())
        settle(50);
}

void tourMainWindow(TZ960InterfaceForm &main, z960sim::Simulator &sim)
{
    main.StatusTimer->setInterval(600000); // no poll in the middle of the tour
    shot("main-status-flow-totals");
    main.PageControl1->setCurrentWidget(main.DiagnosticsSheet);
    shot("main-status-diagnostics");
    main.PageControl1->setCurrentWidget(main.Information);
    shot("main-status-information");
    main.PageControl1->setCurrentWidget(main.FlowTotalsSheet);

    main.DataSB->click();
    waitForIdle(main);
    shot("main-data");

    // An entry that is no number first, then the meter's access code.
    onModal<TStringQuery>("login-query", [](TStringQuery &query) {
        onModal<QMessageBox>("login-not-a-number", answerWith(QMessageBox::Ok));
        QTest::keyClicks(query.Edit, QStringLiteral("ab"));
        QTest::keyClick(query.Edit, Qt::Key_Return);
    });
    main.LogginSB->click();
    onModal<TStringQuery>({}, [](TStringQuery &query) {
        QTest::keyClicks(query.Edit, QStringLiteral("3456"));
        QTest::keyClick(query.Edit, Qt::Key_Return);
    });
    main.LogginSB->click();

    main.ClockSB->click();
    shot("main-clock");
    main.clockPage->SetClockRadioGroup->item(1)->click();
    shot("main-clock-manual");
    main.clockPage->SetClockRadioGroup->item(0)->click();

    onModal<TConfigForm>({}, [](TConfigForm &setup) { tourSetupDialog(setup); });
    main.SetupSB->click();
    waitForIdle(main);

    main.StatusSB->click();
    onModal<TTechMemoForm>("memo", [](TTechMemoForm &memo) {
        onModal<TMessageForm>("memo-message", [](TMessageForm &box) { box.OkButton->click(); });
        memo.OKBtn->click();
        memo.CancelBtn->click();
    });
    main.GenerateReportSB->click();
    waitForIdle(main);

    sim.inject({z960sim::Fault::Silence, 0, z960sim::kAny, 0, 1, 0}); // the meter stops answering pings
    onModal<QMessageBox>("lost-link-question", answerWith(QMessageBox::No));
    main.StatusTimerTimer();
    sim.clearInjections();

    main.close();
}

void tourStartupWindow(TVRStartupForm &startup)
{
    shot("startup");
    onModal<TOptionsForm>("options", [](TOptionsForm &options) { options.CancelBtn->click(); });
    startup.ProgramOptions1Click();
    onModal<TAboutBox>("about", [](TAboutBox &about) { about.OKButton->click(); });
    startup.About1Click();

    TSerComm comm;
    TSerConfigDialog portDialog;
    portDialog.SetComm(&comm);
    onModal<TSerConfigForm>("port-dialog", [](TSerConfigForm &form) { form.Button2->click(); });
    portDialog.Execute();

    const QString address = startup.AddressEditBox->text();
    startup.AddressEditBox->setText(QStringLiteral("248"));
    onModal<QMessageBox>("startup-address-message", answerWith(QMessageBox::Ok));
    startup.ConnectBtnClick();
    startup.AddressEditBox->setText(address);
}

} // namespace

int main(int argc, char **argv)
{
    Console::VantoroApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Vantoro"));

    QTemporaryDir home;
    if (!home.isValid())
        return 1;
    Platform::Settings::setFilePath(home.filePath(QStringLiteral("vantoro.ini")));
    for (int i = 0; i < Platform::KnownFolderCount; ++i) {
        const QString folder = home.filePath(QStringLiteral("known%1").arg(i));
        QDir().mkpath(folder);
        Platform::setKnownFolderOverride(i, folder);
    }

    z960sim::Simulator sim;
    sim.patchImage(5, 276, {1, 0}); // reverse flow on: the status page shows every total
    const std::string row = "10/12/2026 12:00:00,1.250,0.480,1.250\r\n";
    sim.addFile("LOG00001.CSV", z960sim::Bytes(row.begin(), row.end()));
    sim.addFile("LOG00002.CSV", z960sim::Bytes(row.begin(), row.end()));
    qputenv(Platform::PortMapVariable, QByteArray("1=") + QByteArray::fromStdString(sim.slavePath()));

    watchForStrayBoxes();
    TVRStartupForm startup;
    startup.show();
    tourStartupWindow(startup);

    startup.runMainWindow = [&sim](TVRStartupForm &owner, const std::string &port, uint16_t address) {
        TZ960InterfaceForm main(&owner, &owner, port, address);
        main.onProgress = [](const std::string &, int position) {
            if (position == 25) // the first structure read is about to start
                shot("progress");
        };
        when(&main, [&main] { return main.polling() && !main.deviceOperationRunning(); },
             [&main, &sim] { tourMainWindow(main, sim); });
        main.ShowModal();
    };
    startup.AvailComportComboBox->setCurrentIndex(startup.AvailComportComboBox->findText(QStringLiteral("Com1")));
    startup.ConnectBtnClick(); // returns once the main window has closed
    shot("startup-afterwards");
    return 0;
}
