// The setup dialog's actions end to end: the real link on a pty against the
// simulated meter, whose state and recorder are the witnesses.
#include "LinkSimFixture.h"

#include "config/ConfigFormUnit.h"
#include "link/LinkClock.h"
#include "support/ScriptedPrompter.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include <cstring>

using namespace linksim;
using z960sim::Bytes;
using z960sim::Fault;

namespace {

double statusTotal(const z960sim::Simulator &sim, int k)
{
    const Bytes status = sim.image(0);
    double v;
    std::memcpy(&v, status.data() + 100 + 8 * k, 8);
    return v;
}

uint16_t resetCount(const z960sim::Simulator &sim)
{
    const Bytes status = sim.image(0);
    return uint16_t(status[0] | status[1] << 8);
}

// The commands the meter received, runs of pings collapsed.
std::vector<int> commandsOf(const Session &s)
{
    std::vector<int> out;
    for (const Bytes &p : s.receivedPayloads()) {
        const int c = p.empty() ? -1 : p[0];
        if (c != 0 || out.empty() || out.back() != 0)
            out.push_back(c);
    }
    return out;
}

struct SetupSession {
    LinkClock::Scoped clock{20.0}; // a 1 s reply time-out lasts 50 ms
    TestSupport::ScriptedPrompter prompter;
    Session s;
    std::unique_ptr<TConfigForm> form;

    explicit SetupSession(int accessLevel)
    {
        s.sim.setAccessLevel(accessLevel);
        for (int n : {5, 4, 6})
            EXPECT_TRUE(s.port->getStucture(static_cast<unsigned char>(n))) << n;
        form = std::make_unique<TConfigForm>(nullptr, nullptr, s.port.get(), short(accessLevel));
        s.sim.clearRecord();
    }
};

} // namespace

TEST(ConfigActionsSim, ZeroingClearsEveryTotalAndRestartsTheScheduler)
{
    SetupSession t(2);
    ASSERT_NE(statusTotal(t.s.sim, 0), 0.0);
    t.form->InformationSBClick(t.form->ResetTotalisersSB);
    t.form->ClearTotalsBtn->click();

    EXPECT_EQ(t.prompter.texts().last(), "Totals cleared successfully.");
    EXPECT_EQ(t.form->result(), TConfigForm::mrCancel);
    for (int k = 0; k < 10; ++k)
        EXPECT_EQ(statusTotal(t.s.sim, k), 0.0) << k;
    EXPECT_EQ(t.s.sim.meterState(), 1);
    EXPECT_EQ(t.s.sim.accessLevel(), 3);
    EXPECT_EQ(commandsOf(t.s), (std::vector<int>{0, 69, 0, 75, 81, 69}));
    const auto payloads = t.s.receivedPayloads();
    EXPECT_EQ(payloads.back(), (Bytes{69, 1}));
}

TEST(ConfigActionsSim, ZeroingRefusedByTheMeterLeavesTheWarningAndTheTotals)
{
    SetupSession t(2);
    const double forward = statusTotal(t.s.sim, 0);
    t.s.sim.inject({Fault::Exception, 81, 67});
    t.form->ClearTotalsBtn->click();

    EXPECT_EQ(t.prompter.texts().mid(1),
              (QStringList{"Failed to reset totals", "Scheduler may be in an unknown state\nPlease power cycle the board"}));
    EXPECT_EQ(t.form->ResetTotalsMemo->toPlainText(),
              "Scheduler Stopped\n\nScheduler may be in an unknown state\nPlease power cycle the board");
    EXPECT_EQ(t.form->result(), 0);
    EXPECT_EQ(statusTotal(t.s.sim, 0), forward);
    EXPECT_EQ(t.s.sim.meterState(), 0) << "the scheduler was left stopped";
}

TEST(ConfigActionsSim, ClearLogsWaitsForTheRebootAndEndsWithOk)
{
    SetupSession t(3);
    const uint16_t resets = resetCount(t.s.sim);
    t.form->ClearDataLogsBtn->click();

    EXPECT_EQ(t.prompter.texts().last(), "Data logs have been succesfully cleared.");
    EXPECT_EQ(t.form->result(), TConfigForm::mrOk);
    EXPECT_EQ(resetCount(t.s.sim), resets + 1) << "the meter rebooted";
    const std::vector<int> commands = commandsOf(t.s);
    ASSERT_EQ(commands.size(), 2u);
    EXPECT_EQ(commands[0], 102);
    EXPECT_EQ(commands[1], 0);
}

TEST(ConfigActionsSim, ClearLogsBelowLevel3IsRefusedAndTheDialogStays)
{
    SetupSession t(2);
    const uint16_t resets = resetCount(t.s.sim);
    t.form->ClearDataLogsBtn->click();
    EXPECT_EQ(t.prompter.messages.size(), 1u);
    EXPECT_EQ(t.form->result(), 0);
    EXPECT_EQ(resetCount(t.s.sim), resets);
}

TEST(ConfigActionsSim, BackupAsksTheMeterAfterAPing)
{
    SetupSession t(3);
    t.form->BackupDataLogsBtn->click();
    EXPECT_EQ(commandsOf(t.s), (std::vector<int>{0, 103}));
    EXPECT_TRUE(t.prompter.messages.empty());
    EXPECT_EQ(t.form->result(), 0);
}

// A converted calibration written back reaches the meter with the old meter's values.
TEST(ConfigActionsSim, AConversionWrittenBackReachesTheMeter)
{
    SetupSession t(3);
    TConfigForm &f = *t.form;
    QTest::keyClicks(f.Z640ConverionMeterID, "640123");
    f.NominalBoreCB->setCurrentText("300");
    QTest::keyClicks(f.Z640ConverionFlowTubeFactor, "3000.5");
    QTest::keyClicks(f.Z640ConverionFlowTubeZero, "-12.5");
    QTest::keyClicks(f.TechnicianName, "Jo");
    QTest::keyClicks(f.SiteName, "Weir");
    f.NotesMemo->setPlainText("Upgrade");
    f.Z640ConversionSaveBtn->click();
    ASSERT_EQ(f.result(), TConfigForm::mrOk);
    ASSERT_TRUE(t.s.port->putStucture(4));

    EXPECT_EQ(t.s.sim.image(4), imageOf(*t.s.port, 4));
    const Z960Data::sCal &cal = t.s.port->calImage;
    EXPECT_EQ(cal.meterID(), 640123u);
    EXPECT_EQ(cal.pipeDiam(), 300);
    EXPECT_EQ(cal.pipeUnitsMetric(), 0);
    EXPECT_EQ(cal.flowTubeFactor(3), 3000.5f);
    EXPECT_EQ(cal.flowTubeZero(0), -12.5f);
    EXPECT_EQ(cal.detectorType(), 0.89f);
}
