// The main window without a meter: how it is built, the access-level table,
// the lamps, the start-up window kept beneath it, the notification-area icon,
// closing, and the texts and file of the status page.
#include "console/ConsoleFixture.h"
#include "console/MainWindowStatus.h"
#include "console/MonitorData.h"
#include "console/TVRStartupForm.h"
#include "console/TZ960InterfaceForm.h"
#include "support/Centres.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>

#include <memory>

namespace {

class MainWindow : public TestSupport::ConsoleTest {
protected:
    std::unique_ptr<TZ960InterfaceForm> makeForm(TVRStartupForm *startup = nullptr)
    {
        auto form = std::make_unique<TZ960InterfaceForm>(nullptr, startup, "Com1", 1);
        // These tests run no connection.
        form->findChild<QTimer *>(QStringLiteral("startupTimer"))->stop();
        return form;
    }
    static std::vector<bool> navEnabled(const TZ960InterfaceForm &f)
    {
        std::vector<bool> v;
        for (QToolButton *b : {f.StatusSB, f.DataSB, f.ClockSB, f.SetupSB, f.LogginSB, f.LogoutSB})
            v.push_back(b->isEnabled());
        return v;
    }
};

TEST_F(MainWindow, IsBuiltWithItsPagesButtonsAndTimers)
{
    auto form = makeForm();
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Stelvanor Vantoro Version 2.10"));
    EXPECT_EQ(form->size(), QSize(794, 572));
    EXPECT_EQ(form->PageControl->currentWidget(), form->Blank);
    EXPECT_EQ(form->diagnosticsPage->DiagnosticPageControl->currentWidget(), form->diagnosticsPage->ISTestTS);
    QStringList tabs;
    for (int i = 0; i < form->PageControl1->count(); ++i)
        tabs << form->PageControl1->tabText(i);
    EXPECT_EQ(tabs, (QStringList{"Flow/Totals", "Diagnostics", "Information"}));
    EXPECT_FALSE(form->SetClockPanel->isEnabled());
    EXPECT_FALSE(form->SetClockPanel->isVisibleTo(form.get()));
    for (QToolButton *b : {form->ViewMonitorDataSB, form->GenerateReportSB, form->OpenDataFolderSB,
                           form->DiagnosticsSB, form->CommisionSB})
        EXPECT_FALSE(b->isVisibleTo(form.get())) << b->objectName().toStdString();
    EXPECT_FALSE(form->DiagnosticsSB->isEnabled());
    EXPECT_FALSE(form->CommisionSB->isEnabled());
    EXPECT_EQ(navEnabled(*form), (std::vector<bool>{true, true, false, false, true, true}));
    EXPECT_EQ(form->CommisionSB->text(), QStringLiteral("Commisioning"));
    EXPECT_EQ(form->LogginSB->text(), QStringLiteral("Login"));

    EXPECT_EQ(form->StatusTimer->interval(), 5000);
    EXPECT_FALSE(form->StatusTimer->isActive());
    EXPECT_EQ(form->ClockTimer->interval(), 1000);
    EXPECT_FALSE(form->ClockTimer->isActive());
    EXPECT_EQ(form->LedTimer->interval(), 100);
    EXPECT_TRUE(form->LedTimer->isActive());
    EXPECT_EQ(form->RxLed->brushColor(), QColor(0, 128, 0));
    EXPECT_EQ(form->TopPanelLbl3->text(), QStringLiteral("Flowmeter Clock"));
    EXPECT_EQ(form->TopPanelLbl4->text(), QStringLiteral("PC Clock"));
    EXPECT_EQ(form->OffPeakForwardTotalEB->objectName(), QStringLiteral("OffPeakForwardTotalEB"));
    EXPECT_TRUE(form->FlowRateEB->isReadOnly());
    EXPECT_FALSE(form->BatteryVoltageEB->isReadOnly());
    // The data root and its data folder exist from the start.
    EXPECT_EQ(form->dataDirPath(), known(0) + QStringLiteral("/Stelvanor/Vantoro/data/"));
    EXPECT_TRUE(QFileInfo(form->dataDirPath()).isDir());
    EXPECT_TRUE(form->DlCheckBox->isChecked()); // AutoOpenFile defaults to true
}

TEST_F(MainWindow, ADataFolderThatCannotBeMadeEndsTheConstruction)
{
    QDir().mkpath(known(0) + QStringLiteral("/Stelvanor/Vantoro"));
    QFile blocker(known(0) + QStringLiteral("/Stelvanor/Vantoro/data"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    EXPECT_THROW(TZ960InterfaceForm(nullptr, nullptr, "Com1", 1), std::runtime_error);
}

TEST_F(MainWindow, AccessLevelsEnableTheNavigationButtons)
{
    auto form = makeForm();
    const struct {
        short level;
        std::vector<bool> enabled; // Status, Data, Clock, Setup, Login, Logout
    } cases[] = {
        {3, {true, true, true, true, true, true}},   {0, {true, true, false, false, true, true}},
        {2, {true, true, true, true, true, true}},   {5, {true, true, true, true, true, true}}, // unchanged
        {1, {true, true, false, false, true, true}}, {-1, {true, true, false, false, true, true}},
    };
    for (const auto &c : cases) {
        form->ApplyAccessLevel(c.level);
        EXPECT_EQ(navEnabled(*form), c.enabled) << "level " << c.level;
    }
    // Without a link the buttons come back as the last level left them.
    form->EnableNavButtons(false);
    EXPECT_EQ(navEnabled(*form), (std::vector<bool>(6, false)));
    form->EnableNavButtons(true);
    EXPECT_EQ(navEnabled(*form), (std::vector<bool>{true, true, false, false, true, true}));
}

TEST_F(MainWindow, AClickWithoutALinkOnlyClearsTheStatusLine)
{
    auto form = makeForm();
    form->StatusTxt->setText(QStringLiteral("file:Z960Port line: 416"));
    form->StatusSB->click();
    EXPECT_TRUE(form->StatusTxt->text().isEmpty());
    EXPECT_FALSE(form->polling());
    EXPECT_FALSE(form->StatusTimer->isActive());
    EXPECT_EQ(form->PageControl->currentWidget(), form->Blank);
    EXPECT_EQ(form->monitorLines()->size(), 0);
}

TEST_F(MainWindow, LampsShowActivityForOneTick)
{
    auto form = makeForm();
    const QColor red(255, 0, 0), green(0, 128, 0);
    form->PortRxActivity(nullptr);
    form->LedTimerTimer();
    EXPECT_EQ(form->RxLed->brushColor(), red);
    EXPECT_EQ(form->TxLed->brushColor(), green);
    form->PortTxActivity(nullptr);
    form->LedTimerTimer();
    EXPECT_EQ(form->RxLed->brushColor(), green);
    EXPECT_EQ(form->TxLed->brushColor(), red);
    form->LedTimerTimer();
    EXPECT_EQ(form->TxLed->brushColor(), green);
}

TEST_F(MainWindow, KeepsTheStartupWindowCentredAndHidesBothFromTheTray)
{
    TVRStartupForm startup;
    startup.show();
    auto form = makeForm(&startup);
    form->show();
    for (const QPoint place : {QPoint(200, 120), QPoint(260, 150), QPoint(261, 151)}) {
        form->move(place);
        QCoreApplication::processEvents();
        EXPECT_TRUE(TestSupport::centredOn(startup.frameGeometry(), form->frameGeometry()))
            << TestSupport::describe(startup.frameGeometry()) << " under "
            << TestSupport::describe(form->frameGeometry());
    }

    form->TrayIcon1Click();
    EXPECT_FALSE(form->isVisible());
    EXPECT_FALSE(startup.isVisible());
    form->TrayIcon1Click();
    EXPECT_TRUE(form->isVisible());
    EXPECT_TRUE(startup.isVisible());
}

TEST_F(MainWindow, ClosingWritesOpenDownloadedFilesAndFreesTheLists)
{
    for (bool checked : {false, true}) {
        auto form = makeForm();
        form->show();
        form->DlCheckBox->setChecked(checked);
        form->close();
        EXPECT_TRUE(form->closingDown());
        EXPECT_EQ(form->monitorLines(), nullptr);
        EXPECT_EQ(form->notes(), nullptr);
        EXPECT_FALSE(form->LedTimer->isActive());
        EXPECT_EQ(settings().ReadBool(QStringLiteral("Defaults"), QStringLiteral("AutoOpenFile"), !checked), checked);
    }
}

TEST_F(MainWindow, ARefusedSettingsWriteIsReportedAndTheCloseCompletes)
{
    auto form = makeForm();
    form->show();
    blockIni();
    form->close();
    EXPECT_EQ(prompter.texts(), QStringList{refusedText()});
    EXPECT_TRUE(form->closingDown());
    EXPECT_EQ(form->monitorLines(), nullptr);
}

// FLOW and TOTALS are two frames; their values and units still stand in one
// column each, with the reverse-flow rows shown or hidden.
TEST_F(MainWindow, StatusValuesAndUnitsStandInOneColumn)
{
    auto form = makeForm();
    form->PageControl->setCurrentWidget(form->Monitor);
    form->show();
    QCoreApplication::processEvents();
    const std::vector<std::pair<QLineEdit *, QLabel *>> rows = {
        {form->FlowRateEB, form->FlowRateUL},
        {form->FlowVelocityEB, form->FlowVelocityUL},
        {form->MassFlowEB, form->MassFlowUL},
        {form->ForwardTotalEB, form->ForwardTotalUL},
        {form->PeakForwardTotalEB, form->PeakForwardTotalUL},
        {form->OffPeakForwardTotalEB, form->OffPeakForwardTotalUL},
        {form->YTDForwardTotalEB, form->YTDForwardTotalUL},
        {form->NettTotalEB, form->NettTotalUL},
        {form->ReverseTotalEB, form->ReverseTotalUL},
        {form->PeakReverseTotalEB, form->PeakReverseTotalUL},
        {form->OffPeakReverseTotalEB, form->OffPeakReverseTotalUL},
        {form->YTDNettTotalEB, form->YTDNettTotalUL},
        {form->YTDReverseTotalEB, form->YTDReverseTotalUL},
    };
    auto left = [&](const QWidget *w) { return w->mapTo(form->FlowTotalsSheet, QPoint(0, 0)).x(); };
    auto expectOneColumn = [&](const char *when) {
        for (const auto &[edit, unit] : rows) {
            if (!edit->isVisible())
                continue;
            EXPECT_EQ(left(edit), left(form->FlowRateEB)) << when << ": " << edit->objectName().toStdString();
            EXPECT_EQ(left(unit), left(form->FlowRateUL)) << when << ": " << unit->objectName().toStdString();
        }
    };
    expectOneColumn("every total shown");

    // Reverse flow off: the six reverse rows go, captions with them.
    for (std::size_t i = 7; i < rows.size(); ++i)
        for (QWidget *w : form->FlowTotalsSheet->findChildren<QWidget *>())
            if (w == rows[i].first || w == rows[i].second
                || (qobject_cast<QLabel *>(w) && qobject_cast<QLabel *>(w)->buddy() == rows[i].first))
                w->hide();
    QCoreApplication::processEvents();
    expectOneColumn("forward totals only");
}

// ---------------------------------------------------------------------------
// Texts and file of the status page

TEST(StatusTexts, ValuesHaveThreeDecimalsAndNoGrouping)
{
    const struct {
        double value;
        const char *text;
    } cases[] = {{123.4567, "123.457"}, {-0.5, "-0.500"}, {0.0, "0.000"}, {1234567.0, "1234567.000"},
                 {0.0005, "0.001"},     {double(1.5f), "1.500"}};
    for (const auto &c : cases)
        EXPECT_EQ(Console::FormatStatusValue(c.value).toStdString(), c.text) << c.value;
}

TEST(StatusTexts, EveryActiveAlarmAndTheFaultsMakeTheStatusLine)
{
    Z960Data::sStatus status;
    Z960Data::sConfig config;
    EXPECT_EQ(Console::StatusLineText(status, config), QString());
    config.alarm(3).setAlarm_cause(7);
    status.alarmState(3).setActive(2); // any non-zero value is active
    status.alarmState(3).setValue(12.25f);
    config.alarm(0).setAlarm_cause(1);
    status.alarmState(0).setActive(1);
    status.alarmState(0).setValue(3.0f);
    status.setSystemFault(0x0081); // bits 0 and 7
    EXPECT_EQ(Console::StatusLineText(status, config).toStdString(),
              "Alarm1 = Low Battery(3.000), Alarm4 = Reverse Flow(12.250), SystemFault = Coil inductance low, "
              "Signal Noise, Signal Error, ");
}

TEST(MonitorFile, RowsEndWithACommaAndASaveReplacesTheFileWhole)
{
    const QDateTime when(QDate(2024, 3, 5), QTime(14, 7, 9));
    const QString row = Console::MonitorRow(when, {QStringLiteral("1.000"), QStringLiteral("2.500")});
    EXPECT_TRUE(row.endsWith(QStringLiteral(",1.000,2.500,")));
    EXPECT_TRUE(row.startsWith(Console::MonitorDateTimeText(when) + QLatin1Char(',')));
    EXPECT_TRUE(Console::MonitorDateTimeText(when).endsWith(QStringLiteral(" 14:07:09")));

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Monitor.csv"));
    Console::SaveMonitorLines({QStringLiteral("a,"), QStringLiteral("b,")}, path);
    Console::SaveMonitorLines({QStringLiteral("h,")}, path);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray("h,\r\n"));
    EXPECT_THROW(Console::SaveMonitorLines({QStringLiteral("x")}, dir.filePath(QStringLiteral("no/such.csv"))),
                 std::runtime_error);
}

} // namespace
