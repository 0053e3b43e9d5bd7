// The diagnostics and commissioning pages without a meter: the recording
// headers and rows, the saved file's bytes and a failed save, the memo of
// alarms and faults, the channel choices, the value fields and their rows,
// starts that get no answer, ticks after the window closed, and the reboot
// progress, and the charts' points as they are painted (pictures in the
// build tree's screenshots folder).
#include "ConsoleFixture.h"

#include "console/CommissioningPage.h"
#include "console/DiagnosticsPage.h"
#include "console/MonitorData.h"
#include "console/MonitorRecording.h"
#include "link/Z960Port.h"
#include "support/DiagnosticsTestHost.h"
#include "support/FileSizeLimit.h"
#include "support/Screenshot.h"
#include "support/ScriptedTransport.h"

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QLineSeries>
#include <QListWidget>
#include <QLocale>
#include <QRegularExpression>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>

using TestSupport::DiagnosticsTestHost;

namespace {

// A drawn line of a dozen points covers far more pixels than this; an empty
// plot area has none of the series colours.
constexpr int kDrawnLine = 80;

QStringList memoLines(const QPlainTextEdit *memo)
{
    const QString text = memo->toPlainText();
    return text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
}

QByteArray fileBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

class ScopedLocale {
public:
    explicit ScopedLocale(const QLocale &l) : saved_(QLocale()) { QLocale::setDefault(l); }
    ~ScopedLocale() { QLocale::setDefault(saved_); }

private:
    QLocale saved_;
};

class DiagPageTest : public TestSupport::ConsoleTest {
protected:
    std::unique_ptr<DiagnosticsTestHost> host;
    std::unique_ptr<Z960Port> link;
    std::unique_ptr<DiagnosticsPage> page;

    void SetUp() override
    {
        ConsoleTest::SetUp();
        host = std::make_unique<DiagnosticsTestHost>(dir.path() + "/");
        link = std::make_unique<Z960Port>(nullptr, 1);
        page = std::make_unique<DiagnosticsPage>(*host);
    }
    void TearDown() override
    {
        page.reset();
        link.reset();
        host.reset();
        ConsoleTest::TearDown();
    }
    QStringList &recording() { return *host->lines; }
    void selectorsEnabled(bool enabled)
    {
        for (QToolButton *b : {page->ISSB, page->ECSB, page->PNFSB, page->MaintenanceSB, page->MonitorSB})
            EXPECT_EQ(b->isEnabled(), enabled) << b->objectName().toStdString();
    }
    // Pixels in the series' colour inside the chart's plot area, as painted.
    int seriesPixels(TDiagChart &chart, int series)
    {
        QCoreApplication::processEvents();
        const QImage shot = chart.grab().toImage();
        const QRect plot = chart.mapFromScene(chart.chart()->plotArea()).boundingRect();
        return TestSupport::pixelsNear(shot, plot, chart.series(series)->color());
    }
    void fillStatus()
    {
        auto &s = link->statusImage;
        s.setFlowRate(1.5f);
        s.setFlowVelocity(0.25f);
        s.setMassFlow(2.0f);
        s.setBatteryVoltage(12.75f);
        s.setSolarVoltage(18.5f);
        s.setTemperature(21.125f);
        s.setCoilVoltage(3.0f);
        s.setMeasuredCoilCurrent(0.125f);
        s.setCoilResistance(24.0f);
        s.setFlowVoltage(0.123456f);
        s.setInpPos(1.5f);
        s.setInpNeg(-1.25f);
        s.setPnfSignal(0.5f);
        s.setEcSignal(0.75f);
        s.setNettTotal(12345.6789);
        s.setSystemFault(0x0208);
        s.setPnfEcFlags(3);
        s.setChannelValues(15, 12.75f);
    }
};

} // namespace

TEST(DiagMonitorRecording, HeadersAndNumbersAsTheyGoIntoTheFile)
{
    EXPECT_STREQ(Console::EcMonitorHeader, "Date/time, EC Value,");
    EXPECT_STREQ(Console::InputSignalMonitorHeader, "Date/time, Input Signal Value,");
    EXPECT_STREQ(Console::PnfMonitorHeader, "Date/time, PNF Diff Value,");
    EXPECT_STREQ(Console::MaintenanceMonitorHeader,
                 "Date/time,Net Totals,FlowRate,FlowVelocity,MassFlow,Battery,Solar,Temperature,Coil Volts,"
                 "Coil Current,Coil Resistance,FlowVoltage,Inp+,Inp-,SystemFault,");
    EXPECT_STREQ(Console::MonitoringMonitorHeader,
                 "Date/time,Net Totals,FlowRate,FlowVelocity,MassFlow,Battery,Solar,Temperature,Coil Volts,"
                 "Coil Current,Coil Resistance,FlowVoltage,Inp+,Inp-,SystemFault,Pnf,PnfDiff,EcDiff");

    // A comma as the decimal separator must not reach the file.
    ScopedLocale german(QLocale(QLocale::German, QLocale::Germany));
    struct Case {
        double value;
        int decimals;
        const char *file;
        const char *shown;
    };
    const Case cases[] = {{1.23456789, 3, "1.235", "1,235"},   {0.5, 5, "0.50000", "0,50000"},
                          {-2.5, 3, "-2.500", "-2,500"},       {0.04, 3, "0.040", "0,040"},
                          {12345.6789, 3, "12345.679", "12345,679"}};
    for (const Case &c : cases) {
        EXPECT_EQ(Console::MonitorNumber(c.value, c.decimals), QLatin1String(c.file)) << c.value;
        EXPECT_EQ(Console::DisplayNumber(c.value, c.decimals), QLatin1String(c.shown)) << c.value;
    }

    QStringList lines;
    Console::StartMonitorRecording(&lines, Console::EcMonitorHeader);
    Console::AppendMonitorRow(&lines, {QStringLiteral("0.125")});
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines[1].endsWith(QLatin1String(",0.125,"))) << lines[1].toStdString();
    Console::StartMonitorRecording(&lines, Console::PnfMonitorHeader);
    EXPECT_EQ(lines, QStringList{QLatin1String(Console::PnfMonitorHeader)});
    Console::StartMonitorRecording(nullptr, Console::PnfMonitorHeader); // a closed window: nothing
}

TEST_F(DiagPageTest, SavedFileHoldsTheLinesWithCrLfAndIsOpened)
{
    recording() = {QStringLiteral("Date/time, EC Value,"), QStringLiteral("1/2/21 10:00:00,0.125,")};
    page->OpenMonDataFileClick(page->OpenMonDataFile);
    const QString path = dir.filePath(QStringLiteral("Monitor.csv"));
    EXPECT_EQ(fileBytes(path), QByteArray("Date/time, EC Value,\r\n1/2/21 10:00:00,0.125,\r\n"));
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].toLocalFile(), path);

    // A second save replaces the file whole.
    recording() = {QStringLiteral("Date/time, PNF Diff Value,")};
    page->OpenMonDataFileClick(page->Button3);
    EXPECT_EQ(fileBytes(path), QByteArray("Date/time, PNF Diff Value,\r\n"));
    EXPECT_TRUE(prompter.messages.empty());

    // An empty recording writes and opens nothing.
    recording().clear();
    QFile::remove(path);
    page->OpenMonDataFileClick(page->Button4);
    EXPECT_FALSE(QFile::exists(path));
    EXPECT_EQ(opened.size(), 2u);
}

TEST_F(DiagPageTest, ASavedFileTheDesktopCannotOpenIsNamedAndKept)
{
    openRefused = true;
    recording() = {QStringLiteral("Date/time, EC Value,")};
    page->OpenMonDataFileClick(page->OpenMonDataFile);
    const QString path = dir.filePath(QStringLiteral("Monitor.csv"));
    EXPECT_EQ(prompter.texts(), QStringList{unopenedText(path)});
    EXPECT_EQ(fileBytes(path), QByteArray("Date/time, EC Value,\r\n"));
    EXPECT_EQ(recording().size(), 1);
}

TEST_F(DiagPageTest, FailedSaveIsReportedAndKeepsTheEarlierFile)
{
    const QString path = dir.filePath(QStringLiteral("Monitor.csv"));
    recording() = {QStringLiteral("Date/time, EC Value,")};
    page->OpenMonDataFileClick(page->OpenMonDataFile);
    ASSERT_EQ(fileBytes(path), QByteArray("Date/time, EC Value,\r\n"));

    // The disk takes no more than a few bytes: the save into the same folder
    // fails part way, and the file written before stays whole.
    recording() << QStringLiteral("1/2/21 10:00:00,0.125,");
    {
        const TestSupport::FileSizeLimit full(8);
        EXPECT_NO_THROW(page->OpenMonDataFileClick(page->Button5));
    }
    ASSERT_EQ(prompter.messages.size(), 1u);
    EXPECT_TRUE(prompter.messages[0].text.startsWith(QLatin1String("Unable to open/create Monitor data file.")));
    EXPECT_TRUE(prompter.messages[0].text.contains(path));
    EXPECT_EQ(fileBytes(path), QByteArray("Date/time, EC Value,\r\n"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("Monitor.csv")})
        << "no partial file left beside it";
    EXPECT_EQ(opened.size(), 1u);
    EXPECT_EQ(recording().size(), 2);
}

TEST(DiagMemo, AlarmAndFaultLines)
{
    struct Case {
        int alarm;          // 0..3, -1 none
        uint16_t cause;
        float value;
        uint16_t faults;
        QStringList lines;
    };
    const Case cases[] = {
        {1, 4, 0.125f, 0, {QStringLiteral("Alarm2 = Low Flow(0.125), ")}},
        {0, 0, 0.0f, 0, {QStringLiteral("Alarm1 = 0.000), ")}},
        {3, 9, 1.0f, 0, {QStringLiteral("Alarm4 = 1.000), ")}},
        {-1, 0, 0.0f, 0x0008, {QStringLiteral("System Fault = Coil Resistance high, Signal Error, ")}},
        {-1, 0, 0.0f, 0x0100, {QStringLiteral("System Fault = ")}},
        {2, 1, 11.5f, 0x1200,
         {QStringLiteral("Alarm3 = Low Battery(11.500), "),
          QStringLiteral("System Fault = Battery volts low, Temperature high, ")}},
        {-1, 0, 0.0f, 0, {}},
    };
    ScopedLocale c(QLocale::c());
    for (const Case &k : cases) {
        Z960Data::sStatus status;
        Z960Data::sConfig config;
        if (k.alarm >= 0) {
            status.alarmState(k.alarm).setActive(1);
            status.alarmState(k.alarm).setValue(k.value);
            config.alarm(k.alarm).setAlarm_cause(k.cause);
        }
        status.setSystemFault(k.faults);
        EXPECT_EQ(DiagnosticsPage::AlarmFaultLines(status, config), k.lines) << k.alarm << " " << k.faults;
    }
}

TEST_F(DiagPageTest, ControlsCarryTheirNamesAndCaptions)
{
    const struct {
        const char *name;
        const char *caption;
    } buttons[] = {{"EcTestBtn", "Start EC Test"},       {"ISTestBtn", "Start Input Signal Test"},
                   {"PNFTestBtn", "Start PNF Test"},     {"MaintBtn", "Start Maintenance"},
                   {"MonBtn", "Start Monitoring"},       {"OpenMonDataFile", "Open Monitor Data"},
                   {"Button2", "Open Monitor Data"},     {"Button5", "Open Monitor Data"},
                   {"ECChartClearBtn", "Clear Graph"},   {"monChartClearBtn", "Clear Graph"}};
    for (const auto &b : buttons) {
        auto *w = page->findChild<QPushButton *>(QLatin1String(b.name));
        ASSERT_NE(w, nullptr) << b.name;
        EXPECT_EQ(w->text(), QLatin1String(b.caption));
    }
    EXPECT_EQ(page->PNFSB->text(), QStringLiteral(" PNF"));
    EXPECT_EQ(page->ECChart->title(), QStringLiteral("Electrical Conductivity"));
    EXPECT_EQ(page->ISChart->title(), QStringLiteral("Input Signal"));
    EXPECT_EQ(page->PNFChart->title(), QStringLiteral("PNF differential"));
    EXPECT_EQ(page->mDiagChart->title(), QStringLiteral("Flow Rate"));
    EXPECT_EQ(page->LineSeries3->color(), QColor(255, 0, 0));
    EXPECT_EQ(page->Series2->color(), QColor(0, 0, 160));
    EXPECT_EQ(page->DiagnosticPageControl->currentWidget(), page->ISTestTS);
    EXPECT_TRUE(page->ISSB->isChecked());
    for (QTimer *t : {page->EcTestTimer, page->ISTimer, page->PNFTimer, page->DiagTimer, page->MonTimer}) {
        EXPECT_EQ(t->interval(), 3000);
        EXPECT_FALSE(t->isActive());
    }
    EXPECT_EQ(page->monChanSelection->count(), 9);
    EXPECT_EQ(page->findChild<QLineEdit *>(QStringLiteral("monEcSignal")), page->monEcSignal);
    EXPECT_EQ(page->findChild<QLineEdit *>(QStringLiteral("mPnfSignal")), nullptr);
}

TEST_F(DiagPageTest, ChannelChoicesSetTitleChannelAndClearTheChart)
{
    struct Case {
        int item;
        const char *title;
        int channel; // graphChannel afterwards
    };
    const Case cases[] = {{0, "Flow velocity - m/s", 0},      {1, "Flow rate - L/s", 1},
                          {2, "Mass flow - Kg/s", 2},         {3, "Coil current - Amps", 14},
                          {4, "Battery voltage - Volts", 15}, {5, "Solar voltage - Volts", 17},
                          {6, "Temperature - Degrees C", 18}, {7, "Flow voltage - mVolts", 18},
                          {8, "Inp signals - mVolts", 18},    {-1, "", 18}};
    for (const Case &c : cases) {
        page->monChart->addPoint(0, 1.0);
        page->monChart->addPoint(1, 2.0);
        page->monChanSelection->setCurrentRow(c.item); // the technician's choice fires the handler
        EXPECT_EQ(page->monChart->title(), QLatin1String(c.title)) << c.item;
        EXPECT_EQ(page->graphChannel, c.channel) << c.item;
        EXPECT_EQ(page->LineSeries4->count(), 0) << c.item;
        EXPECT_EQ(page->LineSeries5->count(), 0) << c.item;
    }
}

TEST_F(DiagPageTest, SelectorsClearTheirSheetAndClearGraphTouchesOnlyItsChart)
{
    page->ECMemo->appendPlainText(QStringLiteral("old"));
    page->ECChart->addPoint(0, 1.0);
    page->ISChart->addPoint(0, 1.0);
    page->ECSBClick(page->ECSB);
    EXPECT_EQ(page->DiagnosticPageControl->currentWidget(), page->ECTestTS);
    EXPECT_TRUE(page->ECMemo->toPlainText().isEmpty());
    EXPECT_EQ(page->LineSeries1->count(), 0);
    EXPECT_EQ(page->Series1->count(), 1);

    page->mChanSelection->setCurrentRow(5);
    page->mDiagMemo->appendPlainText(QStringLiteral("old"));
    page->ECSBClick(page->MaintenanceSB);
    EXPECT_EQ(page->DiagnosticPageControl->currentWidget(), page->MaintenanceTS);
    EXPECT_EQ(page->mChanSelection->currentRow(), 0);
    EXPECT_EQ(page->mDiagChart->title(), QStringLiteral("Flow velocity - m/s"));
    EXPECT_TRUE(page->mDiagMemo->toPlainText().isEmpty());

    page->ISMemo->appendPlainText(QStringLiteral("kept"));
    page->PNFChartClearBtnClick(page->ISChartClearBtn);
    EXPECT_EQ(page->Series1->count(), 0);
    EXPECT_EQ(page->ISMemo->toPlainText(), QStringLiteral("kept"));
    page->mDiagChart->addPoint(0, 1.0);
    page->mDiagChart->addPoint(1, 1.0);
    page->PNFChartClearBtnClick(page->mDiagChartClearBtn);
    EXPECT_EQ(page->LineSeries3->count() + page->Series2->count(), 0);
}

TEST_F(DiagPageTest, ModeValuesFillTheFieldsAndRowsOnlyWhileRunning)
{
    ScopedLocale c(QLocale::c());
    host->base.port = link.get();
    fillStatus();
    page->ECSBClick(page->MonitorSB);
    page->monChanSelection->setCurrentRow(4); // battery volts, channel 15
    Console::StartMonitorRecording(host->lines.get(), Console::MonitoringMonitorHeader);

    // Idle: the fields and the chart follow, no row is recorded.
    page->ShowMonitorValues();
    EXPECT_EQ(page->monFlowRateEB->text(), QStringLiteral("1.500"));
    EXPECT_EQ(page->monFlowVoltageEB->text(), QStringLiteral("0.12346"));
    EXPECT_EQ(page->monInpNegEB->text(), QStringLiteral("-1.25000"));
    EXPECT_EQ(page->monPnfSignal->text(), QStringLiteral("0.50000"));
    EXPECT_EQ(page->monEcSignal->text(), QStringLiteral("0.75000"));
    EXPECT_EQ(page->monNetTotalEB->text(), QStringLiteral("12345.679"));
    ASSERT_EQ(page->LineSeries4->count(), 1);
    EXPECT_DOUBLE_EQ(page->LineSeries4->at(0).y(), 12.75);
    EXPECT_EQ(memoLines(page->monDiagMemo),
              QStringList{QStringLiteral("System Fault = Coil Resistance high, Battery volts low, Signal Error, ")});
    EXPECT_EQ(recording().size(), 1);

    page->MonBtn->setText(QStringLiteral("Stop Monitoring"));
    page->ShowMonitorValues();
    ASSERT_EQ(recording().size(), 2);
    const QString row = recording()[1];
    const QString values = row.mid(row.indexOf(QLatin1Char(',')) + 1);
    EXPECT_EQ(values, QStringLiteral("12345.679,1.500,0.250,2.000,12.750,18.500,21.125,3.000,0.125,24.000,"
                                     "0.12346,1.50000,-1.25000,520,3,0.50000,0.75000,"));
    // One field more than the header names: the empty one after the last comma.
    EXPECT_EQ(row.split(QLatin1Char(',')).size(), recording()[0].split(QLatin1Char(',')).size() + 1);

    // Item 8 charts both inputs; the maintenance row has 14 values.
    page->ECSBClick(page->MaintenanceSB);
    page->mChanSelection->setCurrentRow(8);
    page->MaintBtn->setText(QStringLiteral("Stop Maintenance"));
    Console::StartMonitorRecording(host->lines.get(), Console::MaintenanceMonitorHeader);
    page->ShowMaintenanceValues();
    ASSERT_EQ(page->LineSeries3->count(), 1);
    ASSERT_EQ(page->Series2->count(), 1);
    EXPECT_DOUBLE_EQ(page->LineSeries3->at(0).y(), 1.5);
    EXPECT_DOUBLE_EQ(page->Series2->at(0).y(), -1.25);
    ASSERT_EQ(recording().size(), 2);
    EXPECT_TRUE(recording()[1].endsWith(QLatin1String(",24.000,0.12346,1.50000,-1.25000,520,")));
    EXPECT_EQ(recording()[1].split(QLatin1Char(',')).size(), recording()[0].split(QLatin1Char(',')).size());
}

// Whatever the locale shows in the fields, the rows of both modes hold
// numbers a spreadsheet reads.
TEST_F(DiagPageTest, ModeRowsHoldPlainNumbersWhateverTheLocale)
{
    host->base.port = link.get();
    fillStatus();
    link->statusImage.setFlowRate(-1.5f);
    link->statusImage.setTemperature(-3.25f);
    const QRegularExpression number(QStringLiteral("^-?[0-9]+(\\.[0-9]+)?$"));
    for (const QLocale &locale : {QLocale(QLocale::Swedish, QLocale::Sweden), QLocale(QLocale::Arabic, QLocale::Egypt)}) {
        SCOPED_TRACE(locale.name().toStdString());
        ScopedLocale scoped(locale);
        for (const bool monitoring : {false, true}) {
            page->ECSBClick(monitoring ? page->MonitorSB : page->MaintenanceSB);
            (monitoring ? page->MonBtn : page->MaintBtn)
                ->setText(monitoring ? QStringLiteral("Stop Monitoring") : QStringLiteral("Stop Maintenance"));
            Console::StartMonitorRecording(host->lines.get(), monitoring ? Console::MonitoringMonitorHeader
                                                                        : Console::MaintenanceMonitorHeader);
            if (monitoring)
                page->ShowMonitorValues();
            else
                page->ShowMaintenanceValues();
            const QLineEdit *shown = monitoring ? page->monFlowRateEB : page->mFlowRateEB;
            EXPECT_NE(shown->text(), QStringLiteral("-1.500")) << "the field shows the locale's form";
            ASSERT_EQ(recording().size(), 2);
            QStringList fields = recording()[1].split(QLatin1Char(','));
            EXPECT_TRUE(fields.takeLast().isEmpty());
            for (const QChar ch : fields.takeFirst())
                EXPECT_LT(ch.unicode(), 0x80) << "the date holds ASCII digits";
            ASSERT_EQ(fields.size(), monitoring ? 17 : 14);
            for (const QString &f : fields)
                EXPECT_TRUE(number.match(f).hasMatch()) << f.toStdString() << " in " << recording()[1].toStdString();
            EXPECT_EQ(fields[1], QStringLiteral("-1.500"));
            EXPECT_EQ(fields[6], QStringLiteral("-3.250"));
            EXPECT_EQ(fields[12], QStringLiteral("-1.25000"));
        }
    }
}

TEST_F(DiagPageTest, StartWithoutAnswerPutsButtonSelectorsAndNavigationBack)
{
    // No link at all: the first ping gets no answer.
    struct Case {
        QPushButton *button;
        const char *idle;
        bool asks;
    };
    const Case cases[] = {{page->EcTestBtn, "Start EC Test", true},
                          {page->ISTestBtn, "Start Input Signal Test", true},
                          {page->PNFTestBtn, "Start PNF Test", true},
                          {page->MaintBtn, "Start Maintenance", true},
                          {page->MonBtn, "Start Monitoring", false}};
    recording() = {QStringLiteral("kept")};
    for (const Case &c : cases) {
        host->base.navCalls.clear();
        prompter.messages.clear();
        c.button->click();
        EXPECT_EQ(c.button->text(), QLatin1String(c.idle));
        EXPECT_TRUE(c.button->isEnabled());
        selectorsEnabled(true);
        EXPECT_EQ(host->base.navCalls, (std::vector<bool>{false, true})) << c.idle;
        EXPECT_EQ(prompter.messages.size(), c.asks ? 1u : 0u) << c.idle;
        EXPECT_EQ(recording(), QStringList{QStringLiteral("kept")});
    }
    for (QTimer *t : {page->EcTestTimer, page->ISTimer, page->PNFTimer, page->DiagTimer, page->MonTimer})
        EXPECT_FALSE(t->isActive());
    EXPECT_EQ(host->base.operationsRunning, 0);
}

TEST_F(DiagPageTest, NoToTheWarningLeavesEverythingAsItWas)
{
    recording() = {QStringLiteral("kept")};
    for (QPushButton *b : {page->EcTestBtn, page->ISTestBtn, page->PNFTestBtn, page->MaintBtn}) {
        prompter.answers.push_back(Platform::MsgResult::No);
        const QString caption = b->text();
        b->click();
        EXPECT_EQ(b->text(), caption);
    }
    ASSERT_EQ(prompter.messages.size(), 4u);
    EXPECT_TRUE(prompter.messages[0].text.startsWith(QLatin1String("This test puts the meter in CALIBRATION mode.\n")));
    EXPECT_TRUE(prompter.messages[1].text.startsWith(QLatin1String("This test puts the meter in MAINTENANCE mode.\n")));
    EXPECT_EQ(prompter.messages[0].icon, Platform::MsgIcon::Warning);
    EXPECT_EQ(prompter.messages[0].buttons, Platform::MsgButtons::YesNo);
    EXPECT_TRUE(host->base.navCalls.empty());
    selectorsEnabled(true);
    EXPECT_EQ(recording(), QStringList{QStringLiteral("kept")});
}

TEST_F(DiagPageTest, TicksAfterTheWindowClosedSendNothingAndStayOff)
{
    TestSupport::ScriptedTransport line;
    link->attachTransport(&line);
    host->base.port = link.get();
    page->EcTestBtn->setText(QStringLiteral("Stop EC Test"));
    page->MaintBtn->setText(QStringLiteral("Stop Maintenance"));
    page->EcTestTimer->start();
    page->DiagTimer->start();
    host->base.closing = true;
    page->EcTestTimerTimer();
    page->DiagTimerTimer();
    EXPECT_FALSE(page->EcTestTimer->isActive());
    EXPECT_FALSE(page->DiagTimer->isActive());
    EXPECT_TRUE(line.written.isEmpty());

    page->ISTimer->start();
    page->MonTimer->start();
    page->StopTimers();
    EXPECT_FALSE(page->ISTimer->isActive());
    EXPECT_FALSE(page->MonTimer->isActive());
}

TEST_F(DiagPageTest, ThrownLinkErrorInATickIsReportedAndTheTestGoesOn)
{
    // The meter answers the ping; the signal read then meets a failing port.
    TestSupport::ScriptedTransport line;
    link->attachTransport(&line);
    host->base.port = link.get();
    int frames = 0;
    line.onWrite = [&](TestSupport::ScriptedTransport &t) {
        if (!t.written.endsWith(QByteArray("\x10\x03", 2)))
            return;
        if (++frames == 1) {
            t.written.clear();
            t.deliver(*link, TestSupport::hexBytes("10 02 01 81 80 00 47 C6 10 03"));
            return;
        }
        throw std::runtime_error("port gone");
    };
    page->EcTestBtn->setText(QStringLiteral("Stop EC Test"));
    EXPECT_NO_THROW(page->EcTestTimerTimer());
    EXPECT_TRUE(page->EcTestTimer->isActive()); // re-armed by the caption
    EXPECT_EQ(page->LineSeries1->count(), 0);
    ASSERT_FALSE(prompter.messages.empty());
    EXPECT_TRUE(prompter.messages.back().text.contains(QLatin1String("port gone")));
    page->StopTimers();
}

TEST(DiagCommissioning, RebootProgressIsClampedToTheBar)
{
    const struct {
        long long seconds;
        int position;
    } cases[] = {{0, 0}, {1, 0}, {2, 1}, {100, 55}, {179, 99}, {180, 100}, {200, 100}, {-5, 0}};
    for (const auto &c : cases)
        EXPECT_EQ(CommissioningPage::RebootProgress(c.seconds), c.position) << c.seconds;
}

TEST_F(DiagPageTest, CommissioningDeclinedOrSilentMeter)
{
    CommissioningPage commissioning(*host);
    ASSERT_EQ(memoLines(commissioning.CommisioningMemo).size(), 11);
    EXPECT_EQ(memoLines(commissioning.CommisioningMemo).first(),
              QStringLiteral("The commisioning process will perform the following items:"));

    prompter.answers = {Platform::MsgResult::No};
    commissioning.StartCommisioningBtn->click();
    EXPECT_EQ(prompter.texts(), (QStringList{QStringLiteral("Proceeding with this process will clear all totalisers "
                                                            "and all logged data.\nDo you want to continue?"),
                                             QStringLiteral("Process canceled")}));
    EXPECT_TRUE(commissioning.CommisioningMemo->toPlainText().isEmpty());
    EXPECT_TRUE(commissioning.StartCommisioningBtn->isVisible() || commissioning.StartCommisioningBtn->isVisibleTo(&commissioning));
    EXPECT_TRUE(commissioning.StartCommisioningBtn->isEnabled());

    // No link: the ping gets no answer.
    prompter.messages.clear();
    commissioning.StartCommisioningBtn->click();
    ASSERT_EQ(prompter.messages.size(), 2u);
    EXPECT_EQ(prompter.messages[1].text,
              QStringLiteral("Failed to establish reliable communication with the sensor. please check power supply "
                             "and cable connections"));
    EXPECT_EQ(host->base.progressFormsSet, 0);
}

TEST_F(DiagPageTest, ChartsShowTheirPointsInThePicture)
{
    host->base.port = link.get();
    fillStatus();
    page->resize(780, 560);
    page->show();
    for (int i = 0; i < 12; ++i)
        page->ECChart->addPoint(0, 0.4 + 0.05 * std::sin(i * 0.7));
    page->ECMemo->appendPlainText(QStringLiteral("Scheduler Stopped\nCalibration Mode Set\n0.412"));
    page->ECSB->setChecked(true);
    page->DiagnosticPageControl->setCurrentWidget(page->ECTestTS);
    ASSERT_FALSE(TestSupport::screenshot(*page, QStringLiteral("diag-ec")).isNull());
    EXPECT_GT(seriesPixels(*page->ECChart, 0), kDrawnLine);
    EXPECT_TRUE(page->ECMemo->isVisible());

    // The input signals: both series, each in its own colour.
    page->ECSBClick(page->MonitorSB);
    page->monChanSelection->setCurrentRow(8);
    for (int i = 0; i < 10; ++i) {
        link->statusImage.setInpPos(1.5f + 0.1f * i);
        link->statusImage.setInpNeg(-1.2f - 0.05f * i);
        page->ShowMonitorValues();
    }
    ASSERT_FALSE(TestSupport::screenshot(*page, QStringLiteral("diag-monitor")).isNull());
    EXPECT_GT(seriesPixels(*page->monChart, 0), kDrawnLine);
    EXPECT_GT(seriesPixels(*page->monChart, 1), kDrawnLine);

    // A cleared chart draws no line.
    page->monChartClearBtn->click();
    EXPECT_LT(seriesPixels(*page->monChart, 0), kDrawnLine / 4);

    CommissioningPage commissioning(*host);
    commissioning.resize(500, 300);
    commissioning.show();
    ASSERT_FALSE(TestSupport::screenshot(commissioning, QStringLiteral("diag-commissioning")).isNull());
    EXPECT_TRUE(commissioning.StartCommisioningBtn->isVisible());
    EXPECT_TRUE(commissioning.CommisioningMemo->isVisible());
}
