// The diagnostics and commissioning pages end to end: the real link on a
// pseudo-terminal against the simulated meter with scripted signal values and
// refusals; ticks are driven directly, so no test waits for the 3 s timers.
#include "console/CommissioningPage.h"
#include "console/DiagnosticsPage.h"
#include "console/MonitorRecording.h"
#include "link/LinkClock.h"
#include "link/LinkWait.h"
#include "link/Z960Port.h"
#include "platform/PortMap.h"
#include "serial/SerComm.h"
#include "support/DiagnosticsTestHost.h"
#include "support/ScriptedPrompter.h"
#include "z960sim/Z960Sim.h"

#include <QLineEdit>
#include <QLineSeries>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include <cstdlib>
#include <deque>
#include <cstring>
#include <memory>
#include <optional>

namespace {

constexpr int kCom = 93; // a COM number of this test's own
constexpr uint8_t kStateCommand = 69;

z960sim::Bytes floatBytes(float v)
{
    z960sim::Bytes b(4);
    std::memcpy(b.data(), &v, 4);
    return b;
}

QStringList memoLines(const QPlainTextEdit *memo)
{
    const QString text = memo->toPlainText();
    return text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
}

class DiagAgainstSim : public testing::Test {
protected:
    z960sim::Simulator sim;
    QTemporaryDir dir;
    TestSupport::ScriptedPrompter prompter;
    std::unique_ptr<TestSupport::DiagnosticsTestHost> host;
    std::unique_ptr<Z960Port> port;
    std::unique_ptr<DiagnosticsPage> page;
    std::string savedMap;
    bool hadMap = false;

    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        const char *old = std::getenv(Platform::PortMapVariable);
        hadMap = old != nullptr;
        savedMap = old ? old : "";
        ::setenv(Platform::PortMapVariable, (std::to_string(kCom) + "=" + sim.slavePath()).c_str(), 1);
        host = std::make_unique<TestSupport::DiagnosticsTestHost>(dir.path() + "/");
        port = std::make_unique<Z960Port>(nullptr, 1);
        ASSERT_TRUE(port->OpenPort("Com" + std::to_string(kCom), 9600));
        port->comm->SetClosePause(0);
        host->base.port = port.get();
        page = std::make_unique<DiagnosticsPage>(*host);
        *host->lines = QStringList{QStringLiteral("earlier recording")};
    }
    void TearDown() override
    {
        page.reset();
        port.reset();
        host.reset();
        if (hadMap)
            ::setenv(Platform::PortMapVariable, savedMap.c_str(), 1);
        else
            ::unsetenv(Platform::PortMapVariable);
    }

    // The states the PC asked for, in order.
    std::vector<int> statesSent() const
    {
        std::vector<int> out;
        for (const z960sim::Frame &f : sim.received())
            if (f.kind == z960sim::Frame::Quillmere && f.control == 0x80 && f.payload.size() >= 2 &&
                f.payload[0] == kStateCommand)
                out.push_back(f.payload[1]);
        return out;
    }
    void refuseState(int occurrence, int times = 1)
    {
        z960sim::Injection i{z960sim::Fault::Exception};
        i.command = kStateCommand;
        i.occurrence = occurrence;
        i.times = times;
        sim.inject(i);
    }
    QStringList &recording() { return *host->lines; }
    void selectorsEnabled(bool enabled)
    {
        for (QToolButton *b : {page->ISSB, page->ECSB, page->PNFSB, page->MaintenanceSB, page->MonitorSB})
            EXPECT_EQ(b->isEnabled(), enabled) << b->objectName().toStdString();
    }
};

} // namespace

TEST_F(DiagAgainstSim, EcTestStartedTickedAndStopped)
{
    sim.patchImage(0, 256, floatBytes(0.1234f));
    page->EcTestBtn->click();
    EXPECT_EQ(page->EcTestBtn->text(), QStringLiteral("Stop EC Test"));
    EXPECT_TRUE(page->EcTestTimer->isActive());
    EXPECT_EQ(statesSent(), (std::vector<int>{0, 2, 2}));
    EXPECT_EQ(sim.meterState(), 2);
    EXPECT_EQ(memoLines(page->ECMemo), (QStringList{"Scheduler Stopped", "Calibration Mode Set"}));
    EXPECT_EQ(recording(), QStringList{QLatin1String(Console::EcMonitorHeader)});
    selectorsEnabled(false);
    EXPECT_EQ(host->base.navCalls.front(), false);
    EXPECT_EQ(host->base.navCalls.back(), false); // still off after the start's operation

    page->EcTestTimerTimer();
    sim.patchImage(0, 256, floatBytes(-2.5f));
    page->EcTestTimerTimer();
    EXPECT_TRUE(page->EcTestTimer->isActive());
    ASSERT_EQ(page->LineSeries1->count(), 2);
    EXPECT_EQ(page->LineSeries1->at(1), QPointF(1, -2.5));
    ASSERT_EQ(recording().size(), 3);
    EXPECT_TRUE(recording()[1].endsWith(QLatin1String(",0.123,")));
    EXPECT_TRUE(recording()[2].endsWith(QLatin1String(",-2.500,")));

    // The click only puts the start caption back; the next tick reads once more and stops.
    page->EcTestBtn->click();
    EXPECT_EQ(page->EcTestBtn->text(), QStringLiteral("Start EC Test"));
    EXPECT_TRUE(page->EcTestTimer->isActive());
    page->EcTestTimerTimer();
    EXPECT_FALSE(page->EcTestTimer->isActive());
    EXPECT_EQ(recording().size(), 4);
    EXPECT_EQ(memoLines(page->ECMemo).last(), QStringLiteral("Scheduler Started"));
    EXPECT_EQ(sim.meterState(), 1);
    EXPECT_EQ(host->base.navCalls.back(), true);
    selectorsEnabled(true);
    EXPECT_TRUE(page->EcTestBtn->isEnabled());
    EXPECT_EQ(host->base.operationsRunning, 0);
    EXPECT_TRUE(prompter.messages.size() == 1u); // the warning only
}

TEST_F(DiagAgainstSim, RefusedStateChangesRestartTheSchedulerAndReturnToIdle)
{
    struct Case {
        const char *name;
        QPushButton *button;
        int refused;     // which state change of the start the meter refuses
        bool restartToo; // and the scheduler restart after it
        QStringList memo;
        std::vector<int> states;
    };
    const Case cases[] = {
        {"EC 1st", page->EcTestBtn, 1, false, {}, {0, 1}},
        {"EC 3rd", page->EcTestBtn, 3, false, {"Scheduler Stopped", "Calibration Mode Set"}, {0, 2, 2, 1}},
        {"PNF 2nd", page->PNFTestBtn, 2, false, {"Scheduler Stopped"}, {0, 2, 1}},
        {"IS", page->ISTestBtn, 1, false, {}, {4, 1}},
        {"IS, restart refused", page->ISTestBtn, 1, true, {}, {4, 1}},
        {"Maintenance", page->MaintBtn, 1, false, {}, {4, 1}},
        {"Maintenance, restart refused", page->MaintBtn, 1, true, {}, {4, 1}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        sim.clearRecord();
        sim.clearInjections();
        prompter.messages.clear();
        host->base.navCalls.clear();
        for (QPlainTextEdit *m : {page->ECMemo, page->PNFMemo, page->ISMemo})
            m->clear();
        const QString idle = c.button->text();
        refuseState(c.refused, c.restartToo ? 2 : 1);
        c.button->click();
        EXPECT_EQ(statesSent(), c.states);
        EXPECT_EQ(c.button->text(), idle);
        EXPECT_TRUE(c.button->isEnabled());
        selectorsEnabled(true);
        EXPECT_EQ(host->base.navCalls.back(), true);
        EXPECT_EQ(recording(), QStringList{QStringLiteral("earlier recording")});
        QPlainTextEdit *memo = c.button == page->EcTestBtn ? page->ECMemo
                               : c.button == page->PNFTestBtn ? page->PNFMemo
                               : c.button == page->ISTestBtn ? page->ISMemo
                                                             : page->mDiagMemo;
        EXPECT_EQ(memoLines(memo), c.memo);
        ASSERT_EQ(prompter.messages.size(), c.restartToo ? 2u : 1u); // the warning, then the serious error
        if (c.restartToo) {
            EXPECT_EQ(prompter.messages[1].text, QStringLiteral("A serious communications error has occured.\r\n"
                                                                "Please powercycle Z960 and restart this program"));
        }
    }
    for (QTimer *t : {page->EcTestTimer, page->ISTimer, page->PNFTimer, page->DiagTimer})
        EXPECT_FALSE(t->isActive());
}

TEST_F(DiagAgainstSim, InputSignalTestPutsALapsedMeterBackIntoMaintenance)
{
    sim.patchImage(0, 236, floatBytes(0.0123456f));
    page->ISTestBtn->click();
    ASSERT_EQ(page->ISTestBtn->text(), QStringLiteral("Stop Input Signal Test"));
    EXPECT_EQ(memoLines(page->ISMemo), QStringList{"Entered Maintenance mode"});
    page->ISTimerTimer(); // still in maintenance: nothing re-sent
    EXPECT_EQ(statesSent(), (std::vector<int>{4}));
    ASSERT_EQ(recording().size(), 2);
    EXPECT_TRUE(recording()[1].endsWith(QLatin1String(",0.01235,")));

    sim.patchImage(1, 121, {0}); // the meter leaves maintenance mode
    page->ISTimerTimer();
    EXPECT_EQ(statesSent(), (std::vector<int>{4, 4}));
    EXPECT_EQ(port->systemImage.maintenanceMode(), 0); // as read before the re-send
    page->ISTimerTimer();
    EXPECT_EQ(statesSent(), (std::vector<int>{4, 4}));
    page->ISTestBtn->click();
    page->ISTimerTimer();
    EXPECT_EQ(statesSent(), (std::vector<int>{4, 4, 1}));
    EXPECT_FALSE(page->ISTimer->isActive());
}

TEST_F(DiagAgainstSim, StopPressedDuringATick)
{
    sim.patchImage(0, 268, floatBytes(0.5f));
    page->PNFTestBtn->click();
    ASSERT_TRUE(page->PNFTimer->isActive());
    // The click arrives while the tick waits for the meter: its value is still recorded.
    QTimer::singleShot(0, page->PNFTestBtn, [this] { page->PNFTestBtn->click(); });
    page->PNFTimerTimer();
    EXPECT_EQ(page->LineSeries2->count(), 1);
    EXPECT_EQ(recording().size(), 2);
    EXPECT_FALSE(page->PNFTimer->isActive());
    EXPECT_EQ(memoLines(page->PNFMemo).last(), QStringLiteral("Scheduler Started"));

    // In the maintenance mode the reads after the click are skipped and no row is recorded.
    page->MaintBtn->click();
    ASSERT_TRUE(page->DiagTimer->isActive());
    QTimer::singleShot(0, page->MaintBtn, [this] { page->MaintBtn->click(); });
    page->DiagTimerTimer();
    EXPECT_EQ(recording(), QStringList{QLatin1String(Console::MaintenanceMonitorHeader)});
    EXPECT_TRUE(page->mFlowRateEB->text().isEmpty());
    EXPECT_FALSE(page->DiagTimer->isActive());
    EXPECT_EQ(statesSent().back(), 1);
}

TEST_F(DiagAgainstSim, ATickRefusedAfterStopStillEndsTheTestOrMode)
{
    // Stop is pressed, and the next tick finds another operation of the
    // window talking to the meter: it comes again, and performs the stop.
    const struct {
        const char *what;
        QPushButton *button;
        QTimer *timer;
        void (DiagnosticsPage::*tick)();
        bool restartsScheduler;
    } cases[] = {
        {"EC test", page->EcTestBtn, page->EcTestTimer, &DiagnosticsPage::EcTestTimerTimer, true},
        {"input signal test", page->ISTestBtn, page->ISTimer, &DiagnosticsPage::ISTimerTimer, true},
        {"PNF test", page->PNFTestBtn, page->PNFTimer, &DiagnosticsPage::PNFTimerTimer, true},
        {"maintenance mode", page->MaintBtn, page->DiagTimer, &DiagnosticsPage::DiagTimerTimer, true},
        {"monitoring mode", page->MonBtn, page->MonTimer, &DiagnosticsPage::MonTimerTimer, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const QString idle = c.button->text();
        c.button->click();
        ASSERT_TRUE(c.timer->isActive());
        c.button->click(); // Stop
        ASSERT_EQ(c.button->text(), idle);
        sim.clearRecord();
        host->base.navCalls.clear();

        host->base.refuseOperations = true;
        (page.get()->*c.tick)();
        EXPECT_TRUE(c.timer->isActive()) << "the refused tick comes again";
        EXPECT_TRUE(sim.received().empty());
        EXPECT_TRUE(host->base.navCalls.empty());

        host->base.refuseOperations = false;
        (page.get()->*c.tick)();
        EXPECT_FALSE(c.timer->isActive());
        EXPECT_EQ(statesSent(), c.restartsScheduler ? std::vector<int>{1} : std::vector<int>{});
        EXPECT_EQ(host->base.navCalls, std::vector<bool>{true}) << "the navigation comes back";
        EXPECT_TRUE(c.button->isEnabled());
        selectorsEnabled(true);
    }
    for (const auto &m : prompter.messages) // the starts' questions only
        EXPECT_EQ(m.buttons, Platform::MsgButtons::YesNo) << m.text.toStdString();
}

TEST_F(DiagAgainstSim, MaintenanceModeRecordsAndKeepsTheMeterInMaintenance)
{
    sim.patchImage(0, 16, floatBytes(3.25f)); // flow rate
    page->ECSBClick(page->MaintenanceSB);
    page->mChanSelection->setCurrentRow(1);
    page->MaintBtn->click();
    ASSERT_EQ(page->MaintBtn->text(), QStringLiteral("Stop Maintenance"));
    EXPECT_EQ(statesSent(), (std::vector<int>{4}));
    page->DiagTimerTimer();
    EXPECT_EQ(page->mFlowRateEB->text(), QStringLiteral("3.250"));
    ASSERT_EQ(page->LineSeries3->count(), 1);
    EXPECT_DOUBLE_EQ(page->LineSeries3->at(0).y(), 3.25);
    ASSERT_EQ(recording().size(), 2);
    EXPECT_EQ(statesSent(), (std::vector<int>{4}));

    // Every tick re-sends state 4 while the meter reports it has left it.
    sim.patchImage(1, 121, {0});
    z960sim::Injection keepOut{z960sim::Fault::Exception};
    keepOut.command = kStateCommand;
    keepOut.times = 0;
    sim.inject(keepOut);
    page->DiagTimerTimer();
    page->DiagTimerTimer();
    EXPECT_EQ(statesSent(), (std::vector<int>{4, 4, 4}));
    EXPECT_EQ(recording().size(), 4);
    EXPECT_TRUE(page->DiagTimer->isActive());
    sim.clearInjections();
    page->MaintBtn->click();
    page->DiagTimerTimer();
    EXPECT_EQ(statesSent().back(), 1);
    EXPECT_FALSE(page->DiagTimer->isActive());
    EXPECT_EQ(host->base.navCalls.back(), true);
}

TEST_F(DiagAgainstSim, MonitoringLeavesTheStateAloneAndLostLinkQuestion)
{
    const LinkClock::Scoped restore{1.0};
    page->MonBtn->click();
    ASSERT_EQ(page->MonBtn->text(), QStringLiteral("Stop Monitoring"));
    EXPECT_EQ(recording(), QStringList{QLatin1String(Console::MonitoringMonitorHeader)});
    page->MonTimerTimer();
    EXPECT_EQ(recording().size(), 2);
    EXPECT_TRUE(statesSent().empty());

    z960sim::Injection silent{z960sim::Fault::Silence};
    silent.command = 0;
    silent.times = 0;
    sim.inject(silent);
    LinkClock::setSpeed(20.0); // the silent pings' time-outs pass fast
    page->MonTimerTimer(); // No: the mode goes on
    EXPECT_EQ(host->base.lostLinkQuestions, 1);
    EXPECT_TRUE(page->MonTimer->isActive());
    host->base.lostLinkAnswerYes = true;
    page->MonTimerTimer(); // Yes: the window closes and nothing re-arms
    EXPECT_EQ(host->base.lostLinkQuestions, 2);
    EXPECT_FALSE(page->MonTimer->isActive());
    EXPECT_EQ(recording().size(), 2);
    EXPECT_TRUE(statesSent().empty());
}

// ---------------------------------------------------------------------------
// Commissioning

namespace {

class CommissioningAgainstSim : public DiagAgainstSim {
protected:
    const LinkClock::Scoped realTime{1.0}; // the meter's answers get their real time-outs
    std::unique_ptr<CommissioningPage> commissioning;

    void SetUp() override
    {
        DiagAgainstSim::SetUp();
        commissioning = std::make_unique<CommissioningPage>(*host);
        commissioning->rebootQuietMs = 20;
        commissioning->rebootLimitMs = 20000;
    }
    void TearDown() override
    {
        commissioning.reset();
        DiagAgainstSim::TearDown();
    }
    QStringList memo() const { return memoLines(commissioning->CommisioningMemo); }
};

const QString kUnknownState = QStringLiteral("Scheduler may be in an unknown state\nPlease power cycle the board");

} // namespace

TEST_F(CommissioningAgainstSim, SuccessfulRun)
{
    sim.setClockOffset(3600);
    sim.patchImage(0, 0, {7, 0}); // reset counter
    commissioning->StartCommisioningBtnClick(commissioning->StartCommisioningBtn);
    EXPECT_EQ(memo(), (QStringList{"Scheduler Stopped", "Time updated", "Reset counter cleared", "Totalisers cleared",
                                   "Rebooting board", "Flash memory data logs cleared", "CC Files backed up", "",
                                   "Commisioning proccess completed successfully"}));
    ASSERT_EQ(prompter.messages.size(), 4u);
    EXPECT_EQ(prompter.messages[1].text, QStringLiteral("Is the RTC clock battery fitted?"));
    EXPECT_EQ(prompter.messages[3].text, QStringLiteral("Process completed successfully."));
    EXPECT_LE(std::abs(sim.clockOffset()), 5);
    EXPECT_EQ(sim.image(0)[0], 1); // cleared, then one reboot
    bool backedUp = false;
    for (const auto &f : sim.files())
        backedUp = backedUp || f.name == "CONFIG.BIN";
    EXPECT_TRUE(backedUp);
    EXPECT_EQ(host->base.progressFormsSet, 1);
    EXPECT_EQ(host->progressForm(), nullptr);
    EXPECT_TRUE(commissioning->StartCommisioningBtn->isEnabled());
    EXPECT_FALSE(commissioning->StartCommisioningBtn->isHidden());
}

TEST_F(CommissioningAgainstSim, EachFailureEndsTheRunWithItsText)
{
    using R = Platform::MsgResult;
    const QStringList sched{"Scheduler Stopped"};
    struct Case {
        const char *failure;
        std::deque<R> answers;
        int command;  // refused Quillmere command (-1 none)
        int function; // Modbus function inside command 81
        QStringList memo;
        bool warning;
    };
    const Case cases[] = {
        {"Process canceled", {R::No}, -1, -1, {}, false},
        {"Process canceled", {R::Yes, R::No}, -1, -1, {}, false},
        {"Process canceled", {R::Yes, R::Yes, R::No}, -1, -1, sched, true},
        {"Failed to stop scheduler", {}, kStateCommand, -1, {}, false},
        {"Failed to set access level", {}, 75, -1, sched, true},
        {"Failed to update date/time", {}, 81, 65, sched, true},
        {"Failed to clear reset counter", {}, 72, -1, sched + QStringList{"Time updated"}, true},
        {"Failed to reset totals", {}, 81, 67, sched + QStringList{"Time updated", "Reset counter cleared"}, true},
        {"Failed to clear data flash memory logs", {}, 102, -1,
         sched + QStringList{"Time updated", "Reset counter cleared", "Totalisers cleared"}, true},
        {"Failed to backup CC files", {}, 99, -1,
         sched + QStringList{"Time updated", "Reset counter cleared", "Totalisers cleared", "Rebooting board",
                             "Flash memory data logs cleared"},
         true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.failure);
        sim.clearInjections();
        sim.clearRecord();
        prompter.messages.clear();
        prompter.answers = c.answers;
        if (c.command >= 0) {
            z960sim::Injection i{z960sim::Fault::Exception};
            i.command = c.command;
            i.function = c.function;
            i.times = 0;
            sim.inject(i);
        }
        commissioning->StartCommisioningBtnClick(commissioning->StartCommisioningBtn);
        QStringList memoWanted = c.memo;
        if (c.warning)
            memoWanted << "" << "Scheduler may be in an unknown state" << "Please power cycle the board";
        EXPECT_EQ(memo(), memoWanted);
        QStringList texts = prompter.texts();
        ASSERT_GE(texts.size(), c.warning ? 2 : 1);
        if (c.warning) {
            EXPECT_EQ(texts.takeLast(), kUnknownState);
        }
        EXPECT_EQ(texts.last(), QLatin1String(c.failure));
        EXPECT_FALSE(commissioning->StartCommisioningBtn->isHidden());
        EXPECT_EQ(host->progressForm(), nullptr);
        if (c.answers.size() == 3) { // "No" to the card question still restarts the scheduler
            EXPECT_EQ(statesSent(), (std::vector<int>{0, 1}));
        }
    }
}

TEST_F(CommissioningAgainstSim, ClosingTheWindowEndsTheRebootWaitAtOnce)
{
    commissioning->rebootQuietMs = 60000; // a minute the wait would otherwise sleep through
    std::optional<std::uint64_t> wakeUpsAtReboot, wakeUpsAtClose;
    QObject::connect(commissioning->CommisioningMemo, &QPlainTextEdit::textChanged, [&] {
        if (wakeUpsAtReboot || !memo().contains(QStringLiteral("Rebooting board")))
            return;
        wakeUpsAtReboot = LinkWait::sleeps();
        // The close box, clicked while the meter reboots.
        QTimer::singleShot(30, commissioning.get(), [&] {
            host->base.closing = true;
            wakeUpsAtClose = LinkWait::sleeps();
        });
    });
    commissioning->StartCommisioningBtnClick(commissioning->StartCommisioningBtn);
    ASSERT_TRUE(wakeUpsAtReboot && wakeUpsAtClose);
    EXPECT_EQ(memo().last(), QStringLiteral("Rebooting board"));
    EXPECT_LE(*wakeUpsAtClose - *wakeUpsAtReboot, 4u) << "the wait sleeps until something happens";
    EXPECT_EQ(LinkWait::sleeps(), *wakeUpsAtClose) << "and ends on the event that set the flag";
}

TEST_F(CommissioningAgainstSim, MeterThatNeverComesBackEndsTheWait)
{
    commissioning->rebootLimitMs = 12000;
    // Once the logs are cleared the meter stays silent.
    QTimer watch;
    watch.setInterval(1);
    bool silenced = false;
    QObject::connect(&watch, &QTimer::timeout, [this, &silenced] {
        if (!silenced && memo().contains(QStringLiteral("Rebooting board"))) {
            silenced = true;
            LinkClock::setSpeed(50.0); // the silent pings' time-outs pass fast
            z960sim::Injection silent{z960sim::Fault::Silence};
            silent.command = 0;
            silent.times = 0;
            sim.inject(silent);
        }
    });
    watch.start();
    commissioning->StartCommisioningBtnClick(commissioning->StartCommisioningBtn);
    watch.stop();
    EXPECT_EQ(memo().last(), QStringLiteral("Please power cycle the board"));
    EXPECT_FALSE(memo().contains(QStringLiteral("Flash memory data logs cleared")));
    const QStringList texts = prompter.texts();
    ASSERT_GE(texts.size(), 2);
    EXPECT_TRUE(texts[texts.size() - 2].startsWith(QLatin1String("The sensor did not answer after clearing")));
    EXPECT_EQ(texts.last(), kUnknownState);
}
