// The main window over the real link, a pty and the simulated meter: the
// connection sequence, the status page's poll, login, the setup write-back and
// closing while the meter is being waited for.
#include "console/ClockPage.h"
#include "console/DataPage.h"
#include "console/PageControls.h"
#include "console/MonitorData.h"
#include "console/TDlProgForm.h"
#include "console/TStringQuery.h"
#include "console/TVRStartupForm.h"
#include "console/TZ960InterfaceForm.h"
#include "config/ConfigFormUnit.h"
#include "link/LinkClock.h"
#include "link/Z960Port.h"
#include "platform/KnownFolders.h"
#include "platform/PortMap.h"
#include "platform/SettingsFile.h"
#include "platform/ShellOpen.h"
#include "report/RptFonts.h"
#include "report/TTechMemoForm.h"
#include "serial/SerComm.h"
#include "e2e/ConsoleSimFixture.h"
#include "support/FreshHome.h"
#include "support/ScriptedPrompter.h"
#include "z960sim/Z960Sim.h"

#include <QApplication>
#include <QComboBox>
#include <QListWidget>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QToolButton>
#include <QUrl>

#include <chrono>
#include <optional>

#include <cstring>
#include <functional>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace {

using z960sim::Bytes;
using z960sim::Fault;
using z960sim::Injection;
using Platform::MsgResult;

constexpr const char *kConnectFailed =
    "Failed to establish reliable communication with the sensor. please check modbus address, power supply and "
    "cable connections";
constexpr const char *kLostLink = "Failed to communicate with flowmeter\nClick on Yes to close connection!";
constexpr const char *kSetupFailed = "Failed to update flowmeter, Please check communications connectivity.";

Bytes f32(float v)
{
    Bytes b(4);
    std::memcpy(b.data(), &v, 4);
    return b;
}
Bytes u16(uint16_t v) { return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)}; }
Bytes u32(uint32_t v)
{
    return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
            static_cast<uint8_t>(v >> 24)};
}
Bytes f64(double v)
{
    Bytes b(8);
    std::memcpy(b.data(), &v, 8);
    return b;
}

// Image offsets the tests patch in the simulator.
constexpr size_t kAlarmCause = 112 + 2; // configuration: alarm k at 112 + 12k
constexpr size_t kReverseFlow = 276;    // configuration
constexpr size_t kAlarmState = 305;     // status: alarm state k at 305 + 5k (active, value)
constexpr size_t kSystemFault = 282;    // status
constexpr size_t kMeterId = 2;          // calibration

class MainWindowE2E : public TestSupport::ConsoleSimTest {
public:
    std::vector<std::pair<std::string, int>> progress;

    QString dataRoot() const { return dir.filePath(QStringLiteral("known0/Stelvanor/Vantoro/")); }

    // Creates and shows the window; returns once the connection has ended either way.
    void open(const std::string &portText = "Com1")
    {
        form = std::make_unique<TZ960InterfaceForm>(nullptr, nullptr, portText, 1);
        form->onProgress = [this](const std::string &text, int position) { progress.emplace_back(text, position); };
        form->show();
        waitForConnection();
    }
    void connect()
    {
        startSim();
        open();
        ASSERT_TRUE(form->polling()) << prompter.texts().join(QLatin1Char('|')).toStdString();
    }

    // The commands the PC sent since the last clearRecord: "19:5" for a
    // structure read of 5, "81:f68" for an embedded comms-access frame.
    std::vector<std::string> commands() const
    {
        std::vector<std::string> out;
        for (const z960sim::Frame &f : sim->received()) {
            if (f.kind != z960sim::Frame::Quillmere || f.control != 0x80 || f.payload.empty())
                continue;
            const int cmd = f.payload[0];
            std::string s = std::to_string(cmd);
            if ((cmd == 19 || cmd == 20 || cmd == 69) && f.payload.size() > 1)
                s += ":" + std::to_string(f.payload[1]);
            if (cmd == 81 && f.payload.size() > 2)
                s += ":f" + std::to_string(f.payload[2]);
            out.push_back(s);
        }
        return out;
    }
    static std::string join(const std::vector<std::string> &v)
    {
        std::string s;
        for (const auto &x : v)
            s += (s.empty() ? "" : " ") + x;
        return s;
    }

    // One poll step as the status timer runs it.
    void poll() { form->StatusTimerTimer(); }

    // Answers the access-code query with `code` (empty: Cancel).
    void queueCode(const QString &code)
    {
        prompter.dialogs.push_back([code](QDialog &d) {
            auto &query = dynamic_cast<TStringQuery &>(d);
            if (code.isEmpty())
                return int(QDialog::Rejected);
            query.Edit->setText(code);
            return int(QDialog::Accepted);
        });
    }
    void click(QToolButton *button)
    {
        button->click();
        QCoreApplication::processEvents();
    }
};

// ---------------------------------------------------------------------------
// Connection sequence

TEST_F(MainWindowE2E, ConnectionReadsTheMeterBehindExactProgressAndStartsPolling)
{
    connect();
    const std::vector<std::pair<std::string, int>> expected = {
        {"Initialising Sensor Communications", 0}, {"Retrieving Configuration data", 25},
        {"Retrieving Calibration data", 50},       {"Retrieving Basic Calibration data", 75},
        {"Retrieving Sensor Status", 90},          {"Retrieving System data", 95},
        {"Done", 100}};
    EXPECT_EQ(progress, expected);
    EXPECT_EQ(join(commands()), "0 19:5 19:4 19:6 19:0 19:1");
    EXPECT_TRUE(prompter.messages.empty());

    EXPECT_EQ(form->windowTitle(), QStringLiteral("Stelvanor Vantoro Version 2.10  Flowmeter: 960123"));
    EXPECT_EQ(form->dataDirPath(), dataRoot() + QStringLiteral("data/960123/"));
    EXPECT_TRUE(QFileInfo(form->dataDirPath()).isDir());
    EXPECT_EQ(form->progress(), nullptr);
    EXPECT_EQ(form->PageControl->currentWidget(), form->Monitor);
    EXPECT_EQ(form->PageControl1->currentWidget(), form->FlowTotalsSheet);
    EXPECT_TRUE(form->StatusSB->isChecked());
    EXPECT_TRUE(form->StatusTimer->isActive());
    EXPECT_TRUE(form->ClockTimer->isActive());
    ASSERT_NE(form->monitorLines(), nullptr);
    EXPECT_EQ(*form->monitorLines(), QStringList{QString::fromLatin1(Console::StatusMonitorHeader)});
    EXPECT_TRUE(form->GenerateReportSB->isVisibleTo(form.get()));
    // Level 0: Status, Data, Login and Logout only.
    EXPECT_FALSE(form->ClockSB->isEnabled());
    EXPECT_FALSE(form->SetupSB->isEnabled());
    for (QToolButton *b : {form->StatusSB, form->DataSB, form->LogginSB, form->LogoutSB})
        EXPECT_TRUE(b->isEnabled()) << b->objectName().toStdString();
}

TEST_F(MainWindowE2E, NavigationIsRefusedWhileTheConnectionRuns)
{
    startSim();
    form = std::make_unique<TZ960InterfaceForm>(nullptr, nullptr, "Com1", 1);
    int checks = 0;
    form->onProgress = [&](const std::string &, int position) {
        if (position == 100)
            return;
        ++checks;
        for (QToolButton *b : {form->StatusSB, form->DataSB, form->ClockSB, form->SetupSB, form->LogginSB,
                               form->LogoutSB})
            EXPECT_FALSE(b->isEnabled()) << b->objectName().toStdString() << " at " << position;
        form->LogginSB->click(); // would open the access-code query
    };
    form->show();
    ASSERT_TRUE(waitFor([&] { return form->polling(); }));
    EXPECT_EQ(checks, 6);
    EXPECT_TRUE(prompter.dialogTitles.isEmpty());
    EXPECT_TRUE(form->LogginSB->isEnabled());
}

TEST_F(MainWindowE2E, AFailedStepShowsOneMessageAndClosesTheWindow)
{
    // The failing step (its progress position) and how the meter fails it.
    struct Case {
        int position;
        std::function<void(MainWindowE2E &)> arrange;
        std::string portText;
    };
    const auto refuseRead = [](int read) {
        return [read](MainWindowE2E &t) {
            t.startSim();
            Injection refuse{Fault::Exception, 19};
            refuse.occurrence = read;
            refuse.times = 3; // every try of that read
            t.sim->inject(refuse);
        };
    };
    const Case cases[] = {
        {0, [](MainWindowE2E &t) { t.startSim({/*address*/ 2}); }, "Com1"}, // nobody answers at address 1
        {25, refuseRead(1), "Com1"},
        {50, refuseRead(2), "Com1"},
        {75, refuseRead(3), "Com1"},
        {90, refuseRead(4), "Com1"},
        {95, refuseRead(5), "Com1"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE("position " + std::to_string(c.position) + " " + c.portText);
        progress.clear();
        prompter.messages.clear();
        c.arrange(*this);
        open(c.portText);
        EXPECT_EQ(prompter.texts(), QStringList{QLatin1String(kConnectFailed)});
        ASSERT_FALSE(progress.empty());
        EXPECT_EQ(progress.back().second, c.position);
        EXPECT_TRUE(form->closingDown());
        EXPECT_FALSE(form->isVisible());
        EXPECT_EQ(form->link(), nullptr);
        EXPECT_EQ(form->progress(), nullptr);
        EXPECT_EQ(form->monitorLines(), nullptr);
        form.reset();
        sim.reset();
    }
}

TEST_F(MainWindowE2E, AfterAFailedConnectionTheStartupWindowIsShownAgain)
{
    startSim({2});
    TVRStartupForm startup;
    startup.show();
    ASSERT_GE(startup.AvailComportComboBox->findText(QStringLiteral("Com1")), 0);
    startup.AvailComportComboBox->setCurrentIndex(startup.AvailComportComboBox->findText(QStringLiteral("Com1")));
    startup.ConnectBtnClick(); // runs the main window modally until it closes
    EXPECT_EQ(prompter.texts(), QStringList{QLatin1String(kConnectFailed)});
    EXPECT_TRUE(startup.isVisible());
}

TEST_F(MainWindowE2E, ANewAccountWithoutItsDataFolderConnectsAtTheFirstTry)
{
    const QString home = dir.filePath(QStringLiteral("newuser"));
    ASSERT_TRUE(QDir().mkpath(home)); // no .local/share below it
    TestSupport::FreshHome fresh(home);
    startSim();
    TVRStartupForm startup;
    startup.show();
    QString meterDir;
    const bool shown = connectAndClose(startup, [&](TZ960InterfaceForm &main) { meterDir = main.dataDirPath(); });

    EXPECT_TRUE(prompter.messages.empty()) << prompter.texts().join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(shown);
    EXPECT_EQ(meterDir, home + QStringLiteral("/.local/share/Stelvanor/Vantoro/data/960123/"));
    EXPECT_TRUE(QFileInfo(meterDir).isDir());
    EXPECT_TRUE(startup.isVisible());
}

TEST_F(MainWindowE2E, AMeterFolderThatCannotBeMadeEndsTheConnectionWithItsMessage)
{
    startSim();
    QDir().mkpath(dataRoot() + QStringLiteral("data"));
    QFile blocker(dataRoot() + QStringLiteral("data/960123")); // a file where the folder should go
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    open();
    EXPECT_EQ(prompter.texts(), QStringList{QStringLiteral("Cannot create data directory.")});
    EXPECT_EQ(progress.back(), std::make_pair(std::string("Done"), 100));
    EXPECT_TRUE(form->closingDown());
    EXPECT_EQ(form->progress(), nullptr);
    EXPECT_EQ(form->link(), nullptr);
    EXPECT_FALSE(form->ClockTimer->isActive());
}

// ---------------------------------------------------------------------------
// Status page

TEST_F(MainWindowE2E, StatusLineShowsActiveAlarmsAndSystemFaultsFromTheMeter)
{
    startSim();
    // Causes of alarms 1 to 4: pipe not full, none, forward flow, a value without a text.
    const uint16_t causes[] = {2, 0, 6, 9};
    for (int k = 0; k < 4; ++k)
        sim->patchImage(5, kAlarmCause + 12 * k, u16(causes[k]));
    open();
    ASSERT_TRUE(form->polling());

    struct Case {
        const char *name;
        std::vector<std::pair<int, float>> active; // alarm index, value
        uint16_t faults;
        const char *line;
    };
    const Case cases[] = {
        {"alarms 1 and 3", {{0, 1.5f}, {2, 0.25f}}, 0,
         "Alarm1 = Pipe Not Full(1.500), Alarm3 = Forward Flow(0.250), "},
        {"causes without text", {{1, 2.0f}, {3, -0.5f}}, 0, "Alarm2 = 2.000), Alarm4 = -0.500), "},
        {"faults 2 and 12", {}, 0x1004, "SystemFault = Coil Resistance low,Temperature high, Signal Error, "},
        {"fault 8 has no text", {}, 0x0100, "SystemFault = "},
        {"alarm and fault", {{0, 3.0f}}, 0x0200, "Alarm1 = Pipe Not Full(3.000), SystemFault = Battery volts low, "},
        {"nothing", {}, 0, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        for (int k = 0; k < 4; ++k)
            sim->patchImage(0, kAlarmState + 5 * k, Bytes(5, 0));
        for (const auto &[k, value] : c.active) {
            Bytes state{1};
            const Bytes v = f32(value);
            state.insert(state.end(), v.begin(), v.end());
            sim->patchImage(0, kAlarmState + 5 * k, state);
        }
        sim->patchImage(0, kSystemFault, u16(c.faults));
        form->PortFault(nullptr, "file:Z960Port line: 416"); // a fault text is overwritten by the poll
        poll();
        EXPECT_EQ(form->StatusTxt->text().toStdString(), c.line);
    }
}

TEST_F(MainWindowE2E, PollShowsValuesAddsARowAndReArms)
{
    startSim();
    sim->patchImage(0, 16, f32(-0.5f));     // flow rate
    sim->patchImage(0, 100, f64(123.4567)); // forward total
    sim->patchImage(0, 108, f64(7.0));      // reverse total
    sim->patchImage(5, kReverseFlow, u16(0));
    open();
    ASSERT_TRUE(form->polling());
    EXPECT_EQ(form->FlowRateEB->text(), QStringLiteral("-0.500"));
    EXPECT_EQ(form->FlowRateUL->text(), QStringLiteral("L/second"));
    EXPECT_EQ(form->ForwardTotalEB->text(), QStringLiteral("123.457"));
    EXPECT_EQ(form->ForwardTotalUL->text(), QStringLiteral("KL"));
    // Reverse flow off: its rows are hidden and keep their (empty) texts.
    EXPECT_FALSE(form->ReverseTotalEB->isVisibleTo(form.get()));
    EXPECT_FALSE(form->YTDReverseTotalUL->isVisibleTo(form.get()));
    EXPECT_TRUE(form->ReverseTotalEB->text().isEmpty());

    sim->clearRecord();
    poll();
    EXPECT_EQ(join(commands()), "0 19:0 19:1");
    EXPECT_TRUE(form->StatusTimer->isActive());
    ASSERT_EQ(form->monitorLines()->size(), 2);
    const QString row = form->monitorLines()->at(1);
    EXPECT_TRUE(row.endsWith(QLatin1Char(',')));
    const QStringList fields = row.split(QLatin1Char(','));
    ASSERT_EQ(fields.size(), 14); // 13 fields and the empty one after the last comma
    EXPECT_EQ(fields[1], QStringLiteral("-0.500"));
    EXPECT_EQ(fields[4], QStringLiteral("123.457"));

    form->link()->configImage.setEnableReverseFlow(1);
    form->ShowStatusValues();
    EXPECT_TRUE(form->ReverseTotalEB->isVisibleTo(form.get()));
    EXPECT_TRUE(form->ReverseTotalUL->isVisibleTo(form.get()));
    EXPECT_EQ(form->ReverseTotalEB->text(), QStringLiteral("7.000"));
}

// The page may show the locale's own minus sign and digits; the rows hold
// numbers a spreadsheet reads, and the date in ASCII digits.
TEST_F(MainWindowE2E, MonitorRowsHoldPlainNumbersWhateverTheLocale)
{
    const QLocale saved;
    startSim();
    sim->patchImage(0, 16, f32(-0.5f));       // flow rate
    sim->patchImage(0, 84, f32(-3.25f));      // temperature
    sim->patchImage(0, 100, f64(12345.678));  // forward total
    open();
    ASSERT_TRUE(form->polling());
    const struct {
        QLocale locale;
        QString shownFlow;  // as the page shows it
    } cases[] = {
        {QLocale(QLocale::Swedish, QLocale::Sweden), QStringLiteral("\u2212" "0,500")},
        {QLocale(QLocale::Arabic, QLocale::Egypt), QStringLiteral("\u061c-\u0660\u066b\u0665\u0660\u0660")},
    };
    const QRegularExpression number(QStringLiteral("^-?[0-9]+\\.[0-9]{3}$"));
    for (const auto &c : cases) {
        SCOPED_TRACE(c.locale.name().toStdString());
        QLocale::setDefault(c.locale);
        poll();
        EXPECT_EQ(form->FlowRateEB->text(), c.shownFlow);
        const QString row = form->monitorLines()->last();
        QStringList fields = row.split(QLatin1Char(','));
        ASSERT_EQ(fields.size(), 14) << row.toStdString();
        EXPECT_TRUE(fields.takeLast().isEmpty());
        const QString date = fields.takeFirst();
        for (const QChar ch : date)
            EXPECT_TRUE(ch.unicode() < 0x80) << "date " << date.toStdString();
        for (const QString &f : fields)
            EXPECT_TRUE(number.match(f).hasMatch()) << f.toStdString() << " in " << row.toStdString();
        EXPECT_EQ(fields[0], QStringLiteral("-0.500"));
        EXPECT_EQ(fields[3], QStringLiteral("12345.678"));
        EXPECT_EQ(fields[8], QStringLiteral("-3.250"));
    }
    QLocale::setDefault(saved);
}

TEST_F(MainWindowE2E, LostLinkQuestionNoKeepsPollingYesClosesWithoutFurtherCalls)
{
    connect();
    sim->inject({Fault::Silence, 0, z960sim::kAny, 0, 1, 0}); // every ping goes unanswered
    prompter.answers = {MsgResult::No, MsgResult::Yes};

    poll();
    ASSERT_EQ(prompter.messages.size(), 1u);
    EXPECT_EQ(prompter.messages[0].text, QLatin1String(kLostLink));
    EXPECT_EQ(prompter.messages[0].buttons, Platform::MsgButtons::YesNo);
    EXPECT_EQ(prompter.messages[0].icon, Platform::MsgIcon::Warning);
    EXPECT_TRUE(form->StatusTimer->isActive());
    EXPECT_TRUE(form->polling());
    ASSERT_NE(form->link(), nullptr);

    sim->clearRecord();
    poll();
    EXPECT_EQ(prompter.messages.size(), 2u);
    EXPECT_TRUE(form->closingDown());
    EXPECT_EQ(form->link(), nullptr);
    EXPECT_FALSE(form->StatusTimer->isActive());
    const auto sent = commands();
    for (const auto &c : sent)
        EXPECT_EQ(c, "0") << "a device call after the lost link: " << join(sent);
    // Later ticks do nothing.
    poll();
    EXPECT_EQ(prompter.messages.size(), 2u);
}

TEST_F(MainWindowE2E, AClickDuringAPollRunsAfterItsCurrentCallAndStopsPolling)
{
    connect();
    sim->inject({Fault::Delay, 19, z960sim::kAny, 0, 1, 1, 150}); // the status read answers late
    sim->clearRecord();
    // Click once the late status read is on its way, whatever the machine's load.
    QTimer clicker;
    clicker.setInterval(1);
    QObject::connect(&clicker, &QTimer::timeout, form.get(), [this, &clicker] {
        const auto sent = commands();
        if (std::find(sent.begin(), sent.end(), "19:0") != sent.end()) {
            clicker.stop();
            form->LogoutSB->click();
        }
    });
    clicker.start();
    poll();
    EXPECT_EQ(join(commands()), "0 19:0 81:f68 81:f3"); // no system read: the click ended polling
    EXPECT_FALSE(form->polling());
    EXPECT_FALSE(form->StatusTimer->isActive());
    EXPECT_EQ(form->PageControl->currentWidget(), form->Blank);
}

TEST_F(MainWindowE2E, AClickDuringAPollThatLosesTheMeterIsDroppedAndTheQuestionAskedOnce)
{
    connect();
    sim->inject({Fault::Silence, z960sim::kAny, z960sim::kAny, 0, 1, 0}); // the meter stops answering
    sim->clearRecord();
    prompter.answers = {MsgResult::No, MsgResult::No};
    // Data is clicked while the poll's ping waits for its reply.
    QTimer clicker;
    clicker.setInterval(1);
    QObject::connect(&clicker, &QTimer::timeout, form.get(), [this, &clicker] {
        if (!commands().empty()) {
            clicker.stop();
            form->DataSB->click();
        }
    });
    clicker.start();
    poll();
    for (int i = 0; i < 20; ++i)
        QCoreApplication::processEvents();
    EXPECT_EQ(prompter.texts().join(QLatin1Char('|')).toStdString(), kLostLink) << "asked once";
    for (const auto &c : commands())
        EXPECT_EQ(c, "0") << "the file list ran after all: " << join(commands());
    // As though the click had never come: the status page goes on polling.
    EXPECT_TRUE(form->polling());
    EXPECT_TRUE(form->StatusTimer->isActive());
    EXPECT_TRUE(form->StatusSB->isChecked());
    EXPECT_EQ(form->PageControl->currentWidget(), form->Monitor);
}

TEST_F(MainWindowE2E, WhileTheDataButtonFetchesTheListNoOtherControlStartsAnExchange)
{
    z960sim::Options blocks;
    blocks.blockSize = 256; // an index of about 16 blocks, each acknowledged on its own
    startSim(blocks);
    for (int i = 0; i < 300; ++i)
        sim->addFile(QStringLiteral("LOG%1.TXT").arg(i, 4, 10, QLatin1Char('0')).toStdString(), Bytes{'1'});
    open();
    ASSERT_TRUE(form->polling());

    // Each control is clicked, and its handler called as though the click had
    // got through, once the list is on its way.
    using Act = void (*)(TZ960InterfaceForm &);
    const struct {
        const char *what;
        Act act;
    } cases[] = {
        {"Refresh File List",
         [](TZ960InterfaceForm &f) {
             f.dataPage->FilelistRefreshBtn->click();
             f.dataPage->FilelistRefreshBtnClick(f.dataPage->FilelistRefreshBtn);
         }},
        {"a file type",
         [](TZ960InterfaceForm &f) {
             f.dataPage->FileTypeRadioGroup->item(3)->click();
             f.dataPage->FilelistRefreshBtnClick(f.dataPage->FileTypeRadioGroup);
         }},
        {"Backup Logs to SD Card",
         [](TZ960InterfaceForm &f) {
             f.dataPage->BackupLogsBtn->click();
             f.dataPage->BackupLogsBtnClick(f.dataPage->BackupLogsBtn);
         }},
        {"Download File",
         [](TZ960InterfaceForm &f) {
             f.dataPage->DownLoadBtn->click();
             f.dataPage->DownLoadBtnClick(f.dataPage->DownLoadBtn);
         }},
        {"Update Logger Clock",
         [](TZ960InterfaceForm &f) { f.clockPage->UpdateTimeBtnClick(f.clockPage->UpdateTimeBtn); }},
        {"the navigation", [](TZ960InterfaceForm &f) { f.StatusSB->click(); }},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        sim->clearRecord();
        bool acted = false;
        int mostDialogs = 0;
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, form.get(), [&] {
            mostDialogs = std::max(mostDialogs, static_cast<int>(form->findChildren<TDlProgForm *>().size()));
            const auto frames = sim->sent();
            const bool blocksFlow = std::count_if(frames.begin(), frames.end(), [](const z960sim::Frame &f) {
                                        return f.control == 0x91 || f.control == 0x93;
                                    }) >= 3;
            if (!acted && blocksFlow) {
                acted = true;
                c.act(*form);
            }
        });
        watch.start(1);
        click(form->DataSB);
        watch.stop();

        ASSERT_TRUE(acted);
        // The ping, the list (no request between it and its end block) and the level read after it.
        EXPECT_EQ(join(commands()), "0 80 81:f3");
        EXPECT_EQ(form->dataPage->FileList->count(), 300);
        EXPECT_EQ(form->dataPage->FileTypeRadioGroup->ItemIndex(), 0);
        EXPECT_EQ(mostDialogs, 1);
        EXPECT_TRUE(form->findChildren<TDlProgForm *>().isEmpty()) << "a progress dialog was left behind";
        EXPECT_EQ(form->progress(), nullptr);
        EXPECT_TRUE(prompter.messages.empty()) << prompter.texts().join(QLatin1Char('|')).toStdString();
        EXPECT_TRUE(form->DataSB->isEnabled());
        EXPECT_TRUE(form->dataPage->FilelistRefreshBtn->isEnabled());
    }
}

// ---------------------------------------------------------------------------
// Login and logout

TEST_F(MainWindowE2E, LoginLevelsEnableClockAndSetup)
{
    connect();
    struct Case {
        QString code;
        int level;
        bool sent;
        bool clockAndSetup;
    };
    const Case cases[] = {
        {QStringLiteral("3456"), 3, true, true}, {QStringLiteral("2345"), 2, true, true},
        {QStringLiteral("1234"), 1, true, false}, {QStringLiteral("3456"), 3, true, true},
        {QStringLiteral("9999"), 0, false, false}, // none of the codes: nothing is sent
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.code.toStdString());
        sim->clearRecord();
        queueCode(c.code);
        click(form->LogginSB);
        EXPECT_EQ(join(commands()), c.sent ? "81:f68 81:f3" : "");
        EXPECT_EQ(sim->accessLevel(), c.sent ? c.level : sim->accessLevel());
        EXPECT_EQ(form->ClockSB->isEnabled(), c.clockAndSetup);
        EXPECT_EQ(form->SetupSB->isEnabled(), c.clockAndSetup);
        EXPECT_EQ(form->PageControl->currentWidget(), form->Blank);
        EXPECT_FALSE(form->polling());
    }
}

TEST_F(MainWindowE2E, LoginThatSendsNothingKeepsTheButtons)
{
    connect();
    queueCode(QStringLiteral("3456"));
    click(form->LogginSB);
    ASSERT_TRUE(form->SetupSB->isEnabled());

    sim->clearRecord();
    queueCode(QString()); // Cancel
    click(form->LogginSB);
    prompter.dialogs.push_back([](QDialog &) { return int(QDialog::Accepted); }); // OK with an empty code
    click(form->LogginSB);
    queueCode(QStringLiteral("12ab")); // letters pass the query's filter
    click(form->LogginSB);
    EXPECT_EQ(join(commands()), "");
    EXPECT_EQ(prompter.texts(), QStringList{QStringLiteral("'12ab' is not a valid integer value")});
    EXPECT_TRUE(form->SetupSB->isEnabled());
    EXPECT_TRUE(form->LogginSB->isEnabled());

    click(form->LogoutSB);
    EXPECT_EQ(sim->accessLevel(), 0);
    EXPECT_FALSE(form->ClockSB->isEnabled());
    EXPECT_FALSE(form->SetupSB->isEnabled());
}

// ---------------------------------------------------------------------------
// Setup write-back

class SetupWriteBack : public MainWindowE2E {
protected:
    Bytes configBefore;

    void SetUp() override
    {
        MainWindowE2E::SetUp();
        connect();
        queueCode(QStringLiteral("3456"));
        click(form->LogginSB);
        ASSERT_TRUE(form->SetupSB->isEnabled());
        configBefore = sim->image(5);
        sim->clearRecord();
    }
    // The setup dialog: edits the link's images as the dialog would, then closes.
    void queueSetup(int result, uint32_t siteId, uint32_t meterId = 960123)
    {
        prompter.dialogs.push_back([=](QDialog &d) {
            auto &setup = dynamic_cast<TConfigForm &>(d);
            setup.port->configImage.setSiteID(siteId);
            setup.port->calImage.setMeterID(meterId);
            return result;
        });
    }
};

TEST_F(SetupWriteBack, OkWritesInOrderRereadsAndLogsOut)
{
    queueSetup(TConfigForm::mrOk, 777, 4242);
    click(form->SetupSB);
    EXPECT_TRUE(prompter.messages.empty()) << prompter.texts().join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(join(commands()), "81:f3 0 69:0 0 20:5 0 20:4 0 20:6 19:0 19:1 69:1 81:f68 81:f3");
    // The meter holds the new values, and every reserved byte as it sent it.
    Bytes expected = configBefore;
    const Bytes site = u32(777);
    std::copy(site.begin(), site.end(), expected.begin() + 4);
    EXPECT_EQ(sim->image(5), expected);
    EXPECT_EQ(sim->meterState(), 1);
    EXPECT_EQ(sim->accessLevel(), 0);
    EXPECT_FALSE(form->SetupSB->isEnabled());
    // The folder and the caption follow the new meter ID; polling restarts with a new recording.
    EXPECT_EQ(form->dataDirPath(), dataRoot() + QStringLiteral("data/4242/"));
    EXPECT_TRUE(QFileInfo(form->dataDirPath()).isDir());
    EXPECT_TRUE(form->windowTitle().endsWith(QStringLiteral("  Flowmeter: 4242")));
    EXPECT_TRUE(form->polling());
    EXPECT_EQ(form->PageControl->currentWidget(), form->Monitor);
    EXPECT_EQ(form->monitorLines()->size(), 1);
}

TEST_F(SetupWriteBack, ADecimalCommaTypedInTheDialogReachesTheMeterAsAPoint)
{
    constexpr size_t kFlowTimeSpecFact = 58; // configuration
    ASSERT_NE(Bytes(configBefore.begin() + kFlowTimeSpecFact, configBefore.begin() + kFlowTimeSpecFact + 4),
              f32(2.5f));
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    prompter.dialogs.push_back([](QDialog &d) {
        auto &setup = dynamic_cast<TConfigForm &>(d);
        auto *edit = qobject_cast<QLineEdit *>(setup.fieldControl(QStringLiteral("flowTimeSpecFact")));
        edit->clear();
        QTest::keyClicks(edit, QStringLiteral("2,5"));
        EXPECT_EQ(edit->text(), QStringLiteral("2.5"));
        setup.SaveBtn->click();
        return setup.result();
    });
    click(form->SetupSB);
    QLocale::setDefault(saved);
    EXPECT_TRUE(prompter.messages.empty()) << prompter.texts().join(QLatin1Char('|')).toStdString();
    const Bytes image = sim->image(5);
    EXPECT_EQ(Bytes(image.begin() + kFlowTimeSpecFact, image.begin() + kFlowTimeSpecFact + 4), f32(2.5f));
}

TEST_F(SetupWriteBack, AFailedWriteRestoresTheImagesAndStillRestartsTheMeter)
{
    const Z960Data::sConfig configCopy = form->link()->configImage;
    const Z960Data::sCal calCopy = form->link()->calImage;
    Injection refuse{Fault::Exception, 20};
    refuse.occurrence = 2; // the calibration write, every try
    refuse.times = 3;
    sim->inject(refuse);
    queueSetup(TConfigForm::mrOk, 888);
    click(form->SetupSB);
    EXPECT_EQ(prompter.texts(), QStringList{QLatin1String(kSetupFailed)});
    EXPECT_EQ(join(commands()), "81:f3 0 69:0 0 20:5 0 20:4 0 20:4 0 20:4 69:1 81:f68 81:f3");
    EXPECT_TRUE(form->link()->configImage == configCopy);
    EXPECT_TRUE(form->link()->calImage == calCopy);
    EXPECT_EQ(sim->meterState(), 1);
    EXPECT_TRUE(form->polling());
}

TEST_F(SetupWriteBack, CancelSendsOnlyTheLogout)
{
    const Z960Data::sConfig configCopy = form->link()->configImage;
    queueSetup(TConfigForm::mrCancel, 999);
    click(form->SetupSB);
    EXPECT_TRUE(prompter.messages.empty());
    EXPECT_EQ(join(commands()), "81:f3 81:f68 81:f3");
    EXPECT_TRUE(form->link()->configImage == configCopy);
    EXPECT_EQ(sim->image(5), configBefore);
    EXPECT_TRUE(form->polling());
    EXPECT_FALSE(form->SetupSB->isEnabled());
}

TEST_F(SetupWriteBack, ACloseOnceTheSchedulerStoppedWaitsForTheWritesAndItsRestart)
{
    Injection late{Fault::Delay, 20}; // the configuration write is answered late: the close comes meanwhile
    late.value = 40;
    sim->inject(late);
    queueSetup(TConfigForm::mrOk, 777);
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [this] {
        const auto sent = commands();
        if (!form->closingDown() && std::find(sent.begin(), sent.end(), "20:5") != sent.end())
            form->close();
    });
    watch.start(1);
    click(form->SetupSB);
    watch.stop();

    ASSERT_TRUE(form->closingDown());
    // The writes complete and the scheduler runs again before the port closes;
    // the re-reads and the logout, which only served the window, are not sent.
    EXPECT_EQ(join(commands()), "81:f3 0 69:0 0 20:5 0 20:4 0 20:6 69:1");
    EXPECT_EQ(sim->meterState(), 1);
    EXPECT_EQ(sim->image(5)[4], 777 & 0xFF);
    EXPECT_EQ(form->link(), nullptr);
    EXPECT_TRUE(prompter.messages.empty()) << prompter.texts().join(QLatin1Char('|')).toStdString();
}

TEST_F(SetupWriteBack, TheProgramEndingDuringTheWritesStillSendsTheRestartWithoutWaiting)
{
    const LinkClock::Scoped slower(5.0); // the restart's 10 s time-out lasts 2 s
    sim->inject({Fault::Silence, 20, z960sim::kAny, 0, 1, 0}); // the writes go unanswered
    form->link()->comm->SetClosePause(0);
    queueSetup(TConfigForm::mrOk, 777);
    QTimer watch;
    LinkClock::Tick ended = 0;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        const auto sent = commands();
        if (!form->closingDown() && std::find(sent.begin(), sent.end(), "20:5") != sent.end()) {
            sim->inject({Fault::Silence, z960sim::kAny, z960sim::kAny, 0, 1, 0}); // nor does anything else
            ended = LinkClock::now();
            form->EndProgram(); // the start-up window was closed
        }
    });
    watch.start(1);
    click(form->SetupSB);
    watch.stop();
    ASSERT_TRUE(form->closingDown());
    EXPECT_LT(LinkClock::since(ended), 10000u) << "the restart's reply was waited for";
    waitFor([this] { return commands().back() == "69:1"; }, 1000); // the line may still carry it
    EXPECT_EQ(join(commands()), "81:f3 0 69:0 0 20:5 69:1");
    EXPECT_EQ(form->link(), nullptr);
    EXPECT_TRUE(prompter.messages.empty()) << prompter.texts().join(QLatin1Char('|')).toStdString();
}

TEST_F(SetupWriteBack, AMeterFolderThatCannotBeMadeCountsAsAFailedRun)
{
    QFile blocker(dataRoot() + QStringLiteral("data/55"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const Z960Data::sCal calCopy = form->link()->calImage;
    queueSetup(TConfigForm::mrOk, 123, 55);
    click(form->SetupSB);
    EXPECT_EQ(prompter.texts(), QStringList{QStringLiteral("Cannot create data directory.")});
    EXPECT_EQ(join(commands()), "81:f3 81:f68 81:f3"); // nothing written, logged out
    EXPECT_TRUE(form->link()->calImage == calCopy);
    EXPECT_TRUE(form->windowTitle().endsWith(QStringLiteral("  Flowmeter: 960123")));
    EXPECT_TRUE(form->polling());
}

// ---------------------------------------------------------------------------
// Monitor data, folder and report

TEST_F(MainWindowE2E, ViewMonitorDataSavesTheRecordingAndKeepsIt)
{
    connect();
    poll();
    ASSERT_EQ(form->monitorLines()->size(), 2);
    const QStringList lines = *form->monitorLines();
    click(form->ViewMonitorDataSB);
    QFile file(dataRoot() + QStringLiteral("Monitor.csv"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), (lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n")).toLocal8Bit());
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].toLocalFile(), file.fileName());
    EXPECT_EQ(*form->monitorLines(), lines); // further rows go to the same recording
    EXPECT_TRUE(form->polling());
    EXPECT_TRUE(form->StatusSB->isChecked());

    // A folder where the file should go: the save fails with its message, polling resumes.
    file.close();
    QFile::remove(file.fileName());
    QDir().mkpath(file.fileName());
    click(form->ViewMonitorDataSB);
    EXPECT_EQ(prompter.texts(), QStringList{QStringLiteral("Unable to open/create Monitor data file. If file is in "
                                                           "use please close it before trying again.")});
    EXPECT_TRUE(form->polling());
    EXPECT_EQ(opened.size(), 1u);
}

TEST_F(MainWindowE2E, WhatTheDesktopCannotOpenIsNamedAndPollingResumes)
{
    connect();
    poll();
    openRefused = true;
    const QString monitorFile = dataRoot() + QStringLiteral("Monitor.csv");
    struct Case {
        QToolButton *button;
        QString target;
    };
    const Case cases[] = {
        {form->ViewMonitorDataSB, monitorFile},
        {form->OpenDataFolderSB, form->dataDirPath()},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.button->objectName().toStdString());
        prompter.messages.clear();
        click(c.button);
        EXPECT_EQ(prompter.texts(), QStringList{unopenedText(c.target)});
        EXPECT_TRUE(form->polling());
        EXPECT_TRUE(form->StatusSB->isChecked());
    }
    QFile file(monitorFile);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), (form->monitorLines()->join(QStringLiteral("\r\n")) + QStringLiteral("\r\n")).toLocal8Bit());
}

TEST_F(MainWindowE2E, ReportLaunchHandsTheMemoToTheReportAndReturnsToPolling)
{
    connect();
    std::vector<ReportRequest> reports;
    form->generateReport = [&](const ReportRequest &r) { reports.push_back(r); };
    prompter.dialogs.push_back([](QDialog &d) {
        auto &memo = dynamic_cast<TTechMemoForm &>(d);
        memo.TechnicianNameEB->setText(QStringLiteral("\u0141ukasz Dvo\u0159\u00e1k"));
        memo.SiteNameEB->setText(QStringLiteral("\u041c\u043e\u0441\u0442 7, \u00d8resund"));
        memo.ValidatorLicenseNumberEB->setText(QStringLiteral("DAV12345"));
        memo.Memo1->setPlainText(QStringLiteral("line one\nline two"));
        return int(QDialog::Accepted);
    });
    click(form->GenerateReportSB);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].port, form->link());
    EXPECT_EQ(reports[0].reportDir, form->dataDirPath());
    // Every letter as typed, in the 8-bit (UTF-8) texts the report takes.
    EXPECT_EQ(reports[0].technicianName, "\u0141ukasz Dvo\u0159\u00e1k");
    EXPECT_EQ(reports[0].siteName, "\u041c\u043e\u0441\u0442 7, \u00d8resund");
    EXPECT_EQ(reports[0].validatorLicenseNumber, "DAV12345");
    EXPECT_EQ(reports[0].notes, (QStringList{QStringLiteral("line one"), QStringLiteral("line two")}));
    EXPECT_TRUE(form->technician().empty());
    EXPECT_TRUE(form->notes()->isEmpty());
    EXPECT_TRUE(form->polling());
    EXPECT_EQ(form->PageControl->currentWidget(), form->Monitor);

    // A report that cannot write its file.
    form->generateReport = [](const ReportRequest &) { throw std::runtime_error("file in use"); };
    prompter.dialogs.push_back([](QDialog &) { return int(QDialog::Accepted); });
    click(form->GenerateReportSB);
    EXPECT_EQ(prompter.texts(), QStringList{QStringLiteral("Unable to open/create Report data file. If file is in "
                                                           "use please close it before trying again.")});
    EXPECT_TRUE(form->polling());

    // A font of the report that cannot be used: its reason in place of that message.
    const std::string reason = "The font file /usr/share/fonts/truetype/liberation2/LiberationSans-Regular.ttf "
                               "(package fonts-liberation2) is cut short: its table \u201cglyf\u201d ends past the end of the file.";
    form->generateReport = [&reason](const ReportRequest &) { throw Rpt::FontError(reason); };
    prompter.messages.clear();
    prompter.dialogs.push_back([](QDialog &) { return int(QDialog::Accepted); });
    click(form->GenerateReportSB);
    EXPECT_EQ(prompter.texts(), QStringList{QString::fromStdString(reason)});
    EXPECT_TRUE(form->polling());
}

TEST_F(MainWindowE2E, OpenDataFolderOpensTheMeterFolderAndResumesPolling)
{
    connect();
    click(form->OpenDataFolderSB);
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(QDir(opened[0].toLocalFile()), QDir(form->dataDirPath()));
    EXPECT_TRUE(form->polling());
    EXPECT_TRUE(form->StatusSB->isChecked());
}

// ---------------------------------------------------------------------------
// Closing while the meter is being waited for

TEST_F(MainWindowE2E, ClosingWhileAStructureReadWaitsEndsCleanly)
{
    connect();
    sim->inject({Fault::Silence, 19, z960sim::kAny, 0, 1, 0}); // structure reads go unanswered
    sim->clearRecord();
    QTimer::singleShot(30, form.get(), [this] { form->close(); });
    poll();
    EXPECT_TRUE(form->closingDown());
    EXPECT_EQ(form->link(), nullptr);
    EXPECT_EQ(form->monitorLines(), nullptr);
    for (const auto &c : commands())
        EXPECT_TRUE(c == "0" || c == "19:0") << join(commands());
    EXPECT_TRUE(prompter.messages.empty());
}

TEST_F(MainWindowE2E, ClosingDuringTheConnectionStopsItWithoutAMessage)
{
    startSim();
    sim->inject({Fault::Silence, 19, z960sim::kAny, 0, 1, 0});
    form = std::make_unique<TZ960InterfaceForm>(nullptr, nullptr, "Com1", 1);
    form->onProgress = [this](const std::string &, int position) {
        if (position == 25)
            QTimer::singleShot(20, form.get(), [this] { form->close(); });
    };
    form->show();
    ASSERT_TRUE(waitFor([this] { return form->closingDown() && form->link() == nullptr; }));
    EXPECT_TRUE(prompter.messages.empty());
    EXPECT_EQ(form->progress(), nullptr);
    EXPECT_EQ(join(commands()).find("19:4"), std::string::npos);
}

// ---------------------------------------------------------------------------
// The technician's way: the start-up window's Connect runs the main window,
// which the tests drive from a timer as the technician would.

class ThroughTheStartupWindow : public MainWindowE2E {
protected:
    std::unique_ptr<TVRStartupForm> startup;
    int running = 0;     // main windows running now (ending ones included)
    int mostRunning = 0; // the most that ever ran at once
    int runs = 0;
    QElapsedTimer sinceClose;
    LinkClock::Tick closeTick = 0;
    qint64 portClosedAfter = -1;           // ms from the close until the link had closed the port
    LinkClock::Tick portClosedAfterLink = 0; // the same in link time

    virtual z960sim::Options simOptions() const { return {}; }

    void SetUp() override
    {
        MainWindowE2E::SetUp();
        startSim(simOptions());
        startup = std::make_unique<TVRStartupForm>();
        startup->runMainWindow = [this](TVRStartupForm &owner, const std::string &portText, uint16_t address) {
            ++runs;
            mostRunning = std::max(mostRunning, ++running);
            TVRStartupForm::RunInterfaceForm(owner, portText, address);
            --running;
        };
        startup->show();
        startup->AvailComportComboBox->setCurrentIndex(startup->AvailComportComboBox->findText(QStringLiteral("Com1")));
    }
    void TearDown() override
    {
        startup.reset();
        MainWindowE2E::TearDown();
    }

    QString meterDir() const { return dataRoot() + QStringLiteral("data/960123/"); }

    // Runs `step` on the live main window every 5 ms while `during` runs.
    static void watching(const std::function<void(TZ960InterfaceForm &)> &step, TVRStartupForm &startup,
                         const std::function<void()> &during)
    {
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, [&] {
            auto *main = startup.findChild<TZ960InterfaceForm *>();
            if (main != nullptr && !main->closingDown())
                step(*main);
        });
        watch.start(5);
        during();
    }
    static void closeOncePolling(TZ960InterfaceForm &main)
    {
        if (main.polling())
            main.close();
    }
    // The close, timed until the link is freed (its port closed before).
    void closeNow(TZ960InterfaceForm &main)
    {
        QObject::connect(main.link(), &QObject::destroyed, [this] {
            portClosedAfter = sinceClose.elapsed();
            portClosedAfterLink = LinkClock::since(closeTick);
        });
        sinceClose.start();
        closeTick = LinkClock::now();
        main.close();
    }
    // Connect at once: the port is free and the meter answers from its first request.
    void expectTheNextConnectReadsTheMeter()
    {
        sim->clearRecord();
        watching(closeOncePolling, *startup, [&] { startup->ConnectBtnClick(); });
        EXPECT_EQ(join(commands()), "0 19:5 19:4 19:6 19:0 19:1");
        EXPECT_TRUE(prompter.messages.empty()) << prompter.texts().join(QLatin1Char('|')).toStdString();
    }

    // Control codes of the transfer frames the PC sent since the last clearRecord.
    std::vector<uint8_t> transferCodes() const
    {
        std::vector<uint8_t> out;
        for (const z960sim::Frame &f : sim->received())
            if (f.kind == z960sim::Frame::Quillmere && f.control != 0x80)
                out.push_back(f.control);
        return out;
    }
    std::vector<QWidget *> visibleWindows() const
    {
        std::vector<QWidget *> out;
        for (QWidget *w : QApplication::topLevelWidgets())
            if (w->isVisible())
                out.push_back(w);
        return out;
    }
};

// ---------------------------------------------------------------------------
// Closing while the meter has stopped answering: every wait ends at once.

class ClosingWithASilentMeter : public ThroughTheStartupWindow {
public:
    int stage = 0;
    // Clicks as the technician would, from the event loop rather than inside the watch.
    static void press(QAbstractButton *button)
    {
        QTimer::singleShot(0, button, [button] { button->click(); });
    }
    bool sentNow(const std::string &command) const
    {
        const auto sent = commands();
        return std::find(sent.begin(), sent.end(), command) != sent.end();
    }
    // From now on the meter leaves `command` unanswered (kAny: everything).
    void silence(int command)
    {
        sim->inject({Fault::Silence, command, z960sim::kAny, 0, 1, 0});
        sim->clearRecord();
    }

    // The drives below are called every 5 ms once the window polls; each
    // starts its operation with `command` silenced and says when the silent
    // request `sent` is out.

    // A status poll.
    bool silentPoll(TZ960InterfaceForm &main, int command, const char *sent)
    {
        if (stage == 0 && main.polling()) {
            stage = 1;
            silence(command);
            QTimer::singleShot(0, &main, [&main] { main.StatusTimerTimer(); });
        }
        return stage == 1 && sentNow(sent);
    }
    // A button of the Data page, once its list has come.
    bool silentDataPage(TZ960InterfaceForm &main, QPushButton *DataPage::*button, int command, const char *sent)
    {
        if (stage == 0 && main.polling()) {
            stage = 1;
            press(main.DataSB);
        } else if (stage == 1 && main.dataPage->FileList->count() == 1 && !main.deviceOperationRunning()) {
            stage = 2;
            silence(command);
            main.dataPage->FileList->setCurrentRow(0);
            press(main.dataPage->*button);
        }
        return stage == 2 && sentNow(sent);
    }
    // The setup write-back after a login, its writes unanswered; with
    // `wholeMeter` nothing answers once the first write is out.
    bool silentWriteBack(TZ960InterfaceForm &main, bool wholeMeter)
    {
        if (stage == 0 && main.polling()) {
            stage = 1;
            queueCode(QStringLiteral("3456"));
            press(main.LogginSB);
        } else if (stage == 1 && main.SetupSB->isEnabled() && !main.deviceOperationRunning()) {
            stage = 2;
            prompter.dialogs.push_back([](QDialog &) { return int(TConfigForm::mrOk); });
            silence(20);
            press(main.SetupSB);
        } else if (stage == 2 && sentNow("20:5")) {
            stage = 3;
            if (wholeMeter)
                sim->inject({Fault::Silence, z960sim::kAny, z960sim::kAny, 0, 1, 0});
        }
        return stage == 3;
    }
};

TEST_F(ClosingWithASilentMeter, ThePortIsFreeAtOnceAndTheNextConnectionReadsTheMeter)
{
    sim->addFile("LOG0001.TXT", Bytes(300, '7'));
    using Drive = bool (*)(ClosingWithASilentMeter &, TZ960InterfaceForm &);
    // Each drive is called every 5 ms once polling runs; it arranges the
    // silence, starts the operation and says when the silent request is out.
    const struct {
        const char *what;
        Drive drive;
        LinkClock::Tick closeAfterMs; // link time from the silent request to the close
        std::string afterClose;       // requests the PC still sends after the close
        std::vector<uint8_t> transferAfterClose;
        bool writeBack;
    } cases[] = {
        // Link time runs at 5 times real time in the first rows: a wait left to
        // run out its time-out (10 s a structure read, 120 s a log file) would
        // keep the port well past the 1 s bound. The write-back's 15 s are link
        // time, at 20 times.
        {"log file",
         [](ClosingWithASilentMeter &t, TZ960InterfaceForm &main) {
             return t.silentDataPage(main, &DataPage::DownLoadBtn, 2, "2");
         },
         3000, "", {0x8E}, false},
        {"structure read",
         [](ClosingWithASilentMeter &t, TZ960InterfaceForm &main) { return t.silentPoll(main, 19, "19:0"); }, 3000,
         "", {}, false},
        {"ping", [](ClosingWithASilentMeter &t, TZ960InterfaceForm &main) { return t.silentPoll(main, 0, "0"); }, 3000,
         "", {}, false},
        {"backup to the SD card",
         [](ClosingWithASilentMeter &t, TZ960InterfaceForm &main) {
             return t.silentDataPage(main, &DataPage::BackupLogsBtn, 103, "103");
         },
         1000, "", {}, false},
        {"a write of the setup write-back",
         [](ClosingWithASilentMeter &t, TZ960InterfaceForm &main) { return t.silentWriteBack(main, false); }, 1000,
         "69:1", {}, true},
        {"the whole meter during the setup write-back",
         [](ClosingWithASilentMeter &t, TZ960InterfaceForm &main) { return t.silentWriteBack(main, true); }, 1000,
         "69:1", {}, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const LinkClock::Scoped speed(c.writeBack ? 20.0 : 5.0);
        stage = 0;
        portClosedAfter = -1;
        sim->clearInjections();
        bool closed = false;
        std::optional<LinkClock::Tick> silentSince;
        size_t sentAtClose = 0;
        watching(
            [&](TZ960InterfaceForm &main) {
                if (c.writeBack && main.link() != nullptr && main.link()->comm != nullptr)
                    main.link()->comm->SetClosePause(0); // the 15 s are the write-back's own
                if (!silentSince && c.drive(*this, main))
                    silentSince = LinkClock::now();
                if (silentSince && !closed && LinkClock::elapsed(*silentSince, c.closeAfterMs)) {
                    closed = true;
                    sentAtClose = sim->receivedCount();
                    closeNow(main);
                }
            },
            *startup, [&] { startup->ConnectBtnClick(); });

        ASSERT_TRUE(closed);
        ASSERT_GE(portClosedAfter, 0);
        if (c.writeBack) {
            // The scheduler is restarted, one try, and the close is over in time.
            EXPECT_LT(portClosedAfterLink, TZ960InterfaceForm::kWriteBackCloseMs);
        } else {
            EXPECT_LT(portClosedAfter, 1000) << "ms from the close to the port closed";
        }
        sim->waitForFrames(sentAtClose + c.transferAfterClose.size() + (c.afterClose.empty() ? 0 : 1),
                           std::chrono::milliseconds(1000));
        std::string requests;
        std::vector<uint8_t> transfer;
        const auto frames = sim->received();
        for (size_t i = sentAtClose; i < frames.size(); ++i) {
            if (frames[i].control != 0x80) {
                transfer.push_back(frames[i].control);
                continue;
            }
            const Bytes &p = frames[i].payload;
            requests += (requests.empty() ? "" : " ") + std::to_string(p.at(0)) +
                        (p.size() > 1 && p[0] == 69 ? ":" + std::to_string(p[1]) : std::string());
        }
        EXPECT_EQ(requests, c.afterClose) << "sent after the close";
        EXPECT_EQ(transfer, c.transferAfterClose);
        EXPECT_TRUE(prompter.messages.empty()) << prompter.texts().join(QLatin1Char('|')).toStdString();
        EXPECT_EQ(visibleWindows(), std::vector<QWidget *>{startup.get()});
        EXPECT_FALSE(QFile::exists(meterDir() + QStringLiteral("LOG0001.TXT.part")));

        sim->clearInjections();
        expectTheNextConnectReadsTheMeter();
        prompter.messages.clear();
    }
}

// ---------------------------------------------------------------------------
// Closing in the middle of a transfer, through the start-up window as the
// technician works: a meter at the line rate, a file of many blocks, and the
// link in real time (a reply of structure 1 alone takes about a second).

class ClosingMidTransfer : public ThroughTheStartupWindow {
protected:
    static constexpr int kBlockSize = 64;
    LinkClock::Scoped realTime{1.0};

    z960sim::Options simOptions() const override
    {
        z960sim::Options o;
        o.paced = true;
        o.blockSize = kBlockSize;
        return o;
    }

    static bool isAck(uint8_t c) { return c == 0x8B || c == 0x90 || c == 0x92 || c == 0x94 || c == 0x96; }
    int acks() const
    {
        const auto codes = transferCodes();
        return static_cast<int>(std::count_if(codes.begin(), codes.end(), isAck));
    }
    // The PC's abort went out after some acknowledgements, and nothing acknowledged after it.
    void expectAbortEndedTheTransfer() const
    {
        // The line may still be carrying the abort to the meter's record.
        waitFor([this] {
            const auto sent = transferCodes();
            return std::find(sent.begin(), sent.end(), 0x8E) != sent.end();
        }, 2000);
        const auto codes = transferCodes();
        const auto abort = std::find(codes.begin(), codes.end(), 0x8E);
        ASSERT_NE(abort, codes.end());
        EXPECT_GE(std::count_if(codes.begin(), abort, isAck), 3);
        EXPECT_EQ(std::count_if(abort, codes.end(), isAck), 0);
        EXPECT_EQ(std::count(codes.begin(), codes.end(), 0x8E), 1) << "one abort, never two";
    }
    int dataBlocksSent() const
    {
        const auto frames = sim->sent();
        return static_cast<int>(std::count_if(frames.begin(), frames.end(), [](const z960sim::Frame &f) {
            return f.kind == z960sim::Frame::Quillmere && (f.control == 0x91 || f.control == 0x93);
        }));
    }
};

TEST_F(ClosingMidTransfer, DownloadEndsAtOnceKeepsTheEarlierCopyAndTheNextConnectReadsTheMeter)
{
    constexpr int kBlocks = 24;
    Bytes log(kBlocks * kBlockSize);
    for (size_t i = 0; i < log.size(); ++i)
        log[i] = static_cast<uint8_t>('0' + i % 43);
    sim->addFile("LOG0001.TXT", log);
    ASSERT_TRUE(QDir().mkpath(meterDir()));
    const QByteArray earlier("the copy downloaded last week\r\n");
    {
        QFile copy(meterDir() + QStringLiteral("LOG0001.TXT"));
        ASSERT_TRUE(copy.open(QIODevice::WriteOnly));
        copy.write(earlier);
    }

    int stage = 0;
    watching(
        [&](TZ960InterfaceForm &main) {
            if (stage == 0 && main.polling()) {
                stage = 1;
                QTimer::singleShot(0, &main, [&main] { main.DataSB->click(); });
            } else if (stage == 1 && main.dataPage->FileList->count() == 1 && !main.deviceOperationRunning()) {
                stage = 2;
                main.dataPage->FileList->setCurrentRow(0);
                sim->clearRecord();
                QTimer::singleShot(0, &main, [&main] { main.dataPage->DownLoadBtn->click(); });
            } else if (stage == 2 && acks() >= 3) { // the opening, block 1 and block 5
                stage = 3;
                closeNow(main);
            }
        },
        *startup, [&] { startup->ConnectBtnClick(); });

    ASSERT_EQ(stage, 3);
    EXPECT_GE(portClosedAfter, 0);
    EXPECT_LT(portClosedAfter, 1000) << "ms from the close to the port closed";
    expectAbortEndedTheTransfer();
    EXPECT_LT(dataBlocksSent(), kBlocks) << "the meter stopped sending";
    EXPECT_TRUE(prompter.messages.empty()) << prompter.texts().join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(opened.empty());
    EXPECT_FALSE(QFile::exists(meterDir() + QStringLiteral("LOG0001.TXT.part")));
    QFile copy(meterDir() + QStringLiteral("LOG0001.TXT"));
    ASSERT_TRUE(copy.open(QIODevice::ReadOnly));
    EXPECT_EQ(copy.readAll(), earlier);
    EXPECT_EQ(visibleWindows(), std::vector<QWidget *>{startup.get()});

    expectTheNextConnectReadsTheMeter();
}

TEST_F(ClosingMidTransfer, FileListEndsAtOnceAndConnectPressedMeanwhileWaitsForThePort)
{
    for (int i = 0; i < 300; ++i) // an index of about 60 blocks
        sim->addFile(QStringLiteral("LOG%1.TXT").arg(i, 4, 10, QLatin1Char('0')).toStdString(), Bytes{'1'});

    int stage = 0;
    bool pressedWhileEnding = false;
    // The Connect pressed meanwhile runs once the first connection has ended,
    // from the event loop: inside the first window's ending or after it, so
    // the one watch below serves both windows.
    watching(
        [&](TZ960InterfaceForm &main) {
            if (stage == 0 && main.polling()) {
                stage = 1;
                sim->clearRecord();
                QTimer::singleShot(0, &main, [&main] { main.DataSB->click(); });
            } else if (stage == 1 && acks() >= 3) {
                stage = 2;
                closeNow(main);
                // Connect, as soon as the start-up window takes clicks again.
                QTimer::singleShot(0, startup.get(), [&] {
                    pressedWhileEnding = running > 0;
                    startup->ConnectBtn->click();
                });
            } else if (stage == 2 && runs == 2 && main.polling()) {
                stage = 3;
                main.close();
            }
        },
        *startup, [&] {
            startup->ConnectBtnClick();
            ASSERT_TRUE(waitFor([&] { return stage == 3 && running == 0; }));
        });

    ASSERT_EQ(stage, 3);
    EXPECT_GE(portClosedAfter, 0);
    EXPECT_LT(portClosedAfter, 1000) << "ms from the close to the port closed";
    expectAbortEndedTheTransfer();
    EXPECT_FALSE(QFile::exists(meterDir() + QStringLiteral("index.txt")));
    EXPECT_TRUE(prompter.messages.empty()) << prompter.texts().join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(pressedWhileEnding);
    EXPECT_EQ(runs, 2);
    EXPECT_EQ(mostRunning, 1) << "no second connection while the first one ends";

    // The Connect pressed meanwhile read the meter from its first request, after the abort.
    std::vector<std::string> second;
    bool afterAbort = false;
    for (const z960sim::Frame &f : sim->received()) {
        afterAbort = afterAbort || (f.kind == z960sim::Frame::Quillmere && f.control == 0x8E);
        if (afterAbort && f.kind == z960sim::Frame::Quillmere && f.control == 0x80 && !f.payload.empty())
            second.push_back(f.payload[0] == 19 && f.payload.size() > 1 ? "19:" + std::to_string(f.payload[1])
                                                                         : std::to_string(f.payload[0]));
    }
    EXPECT_EQ(join(second), "0 19:5 19:4 19:6 19:0 19:1");
}

} // namespace
