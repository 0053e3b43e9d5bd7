// The setup dialog's actions on the meter (clear logs, back up logs, zero
// totalisers) against a scripted meter on the link.
#include "ConfigFormFixture.h"

#include "link/CommandsFixture.h"
#include "link/LinkClock.h"

#include <QPlainTextEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include <climits>
#include <stdexcept>

using CommandTest::bytesOf;
using CommandTest::Request;
using TestSupport::hexBytes;
using TestSupport::hexText;
using Platform::MsgResult;

namespace {

const char *const kNoComms = "Failed to establish reliable communication with the sensor. please check power supply "
                             "and cable connections";
const char *const kWarning = "Scheduler may be in an unknown state\nPlease power cycle the board";

// A meter that answers every request with "done", unless told otherwise.
struct Meter {
    explicit Meter(Z960Port &port) : scripted(port)
    {
        scripted.respond = [this](const Request &r) { return answer(r); };
    }

    int answeredPings = INT_MAX; // pings answered before the meter falls silent
    int pingsAfterClear = 0;     // pings left unanswered after a log clear (the reboot)
    QList<QByteArray> refused;   // request prefixes answered with status 0
    QList<QByteArray> throwing;  // request prefixes on which the line fails

    // The requests' payloads as hex, pings included.
    QStringList sent() const
    {
        QStringList out;
        for (const Request &r : scripted.requests)
            out << hexText(r.payload);
        return out;
    }
    // The same with runs of pings collapsed into one "00".
    QStringList commands() const
    {
        QStringList out;
        for (const QString &p : sent())
            if (p != QLatin1String("00") || out.isEmpty() || out.last() != QLatin1String("00"))
                out << p;
        return out;
    }

    CommandTest::ScriptedMeter scripted;

private:
    QByteArray answer(const Request &r)
    {
        if (r.payload.isEmpty())
            return {};
        for (const QByteArray &p : throwing)
            if (r.payload.startsWith(p))
                throw std::runtime_error("Write error");
        const auto command = static_cast<unsigned char>(r.payload[0]);
        if (command == 0) {
            if (pingsAfterClear > 0) {
                --pingsAfterClear;
                return {};
            }
            if (answeredPings <= 0)
                return {};
            --answeredPings;
        }
        for (const QByteArray &p : refused)
            if (r.payload.startsWith(p))
                return CommandTest::reply(bytesOf({0x00, command}));
        if (command == 81)
            return CommandTest::reply(hexBytes("80 51 01 43 02 FF FF"));
        return CommandTest::reply(bytesOf({0x80, command}));
    }
};

struct Actions : ::testing::Test {
    LinkClock::Scoped fast{1000.0};
    ConfigTest::Dialog d;
    Meter meter{d.port};
    TConfigForm &form = *d.form;

    QStringList memo() const { return form.ResetTotalsMemo->toPlainText().split(QLatin1Char('\n')); }
};

} // namespace

// ---- clear logs ---------------------------------------------------------------------------

TEST_F(Actions, ClearLogsNotConfirmedSendsNothing)
{
    d.prompter.answers = {MsgResult::No};
    form.ClearDataLogsBtn->click();
    EXPECT_TRUE(meter.sent().isEmpty());
    ASSERT_EQ(d.prompter.messages.size(), 1u);
    EXPECT_EQ(d.prompter.messages[0].text,
              "Proceeding with this command will clear all logged data and resets the record count.\n"
              "Do you want to continue?");
    EXPECT_EQ(d.prompter.messages[0].icon, Platform::MsgIcon::Warning);
    EXPECT_EQ(d.prompter.messages[0].buttons, Platform::MsgButtons::YesNo);
    EXPECT_EQ(form.result(), 0);
}

TEST_F(Actions, ClearLogsRefusedByTheMeterShowsNothingAndStays)
{
    meter.refused = {hexBytes("66")};
    form.ClearDataLogsBtn->click();
    EXPECT_EQ(meter.sent(), QStringList{"66"});
    EXPECT_EQ(d.prompter.messages.size(), 1u); // the question only
    EXPECT_EQ(form.result(), 0);
}

// The meter reboots: it is waited for at least the reboot pause, then pinged
// until it answers. Clicks meanwhile change nothing, and the dialog closes
// with OK so the images are written back.
TEST_F(Actions, ClearLogsWaitsForTheRebootedMeterAndEndsWithOk)
{
    meter.pingsAfterClear = 7; // more than one ping call's tries
    form.show();
    form.InformationSBClick(form.ClearLogsSB);
    bool visibleAfterClose = false;
    int resultDuringWait = -1;
    QWidget *pageDuringWait = nullptr;
    bool runningDuringWait = false;
    QTimer::singleShot(0, &form, [&] {
        runningDuringWait = form.actionRunning();
        form.CancelBtn->click();
        form.close();
        QTest::keyClick(&form, Qt::Key_Escape);
        visibleAfterClose = form.isVisible();
        form.InformationSBClick(form.CalibrationSB);
        form.ClearTotalsBtnClick();
        form.BackupDataLogsBtnClick();
        form.SaveBtnClick();
        resultDuringWait = form.result();
        pageDuringWait = form.PageControl->currentWidget();
    });
    const LinkClock::Tick start = LinkClock::now();
    form.ClearDataLogsBtn->click();

    EXPECT_TRUE(runningDuringWait);
    EXPECT_TRUE(visibleAfterClose);
    EXPECT_EQ(resultDuringWait, 0);
    EXPECT_EQ(pageDuringWait, form.ClearLogsPage);
    EXPECT_GE(LinkClock::since(start), TConfigForm::kRebootPauseMs);
    const QStringList sent = meter.sent();
    ASSERT_GE(sent.size(), 9);
    EXPECT_EQ(sent.first(), "66");
    EXPECT_EQ(sent.mid(1).count("00"), sent.size() - 1) << sent.join(' ').toStdString();
    EXPECT_EQ(d.prompter.texts().last(), "Data logs have been succesfully cleared.");
    EXPECT_EQ(form.result(), TConfigForm::mrOk);
    EXPECT_FALSE(form.isVisible());
    EXPECT_FALSE(form.actionRunning());
}

TEST_F(Actions, ClearLogsGivesUpOnAMeterThatNeverAnswersAgain)
{
    meter.pingsAfterClear = INT_MAX;
    const LinkClock::Tick start = LinkClock::now();
    form.ClearDataLogsBtn->click();
    EXPECT_GE(LinkClock::since(start), TConfigForm::kRebootPauseMs + TConfigForm::kRebootAnswerLimitMs);
    ASSERT_EQ(d.prompter.messages.size(), 2u);
    EXPECT_EQ(d.prompter.messages[1].text, "The meter did not answer after clearing the data logs.\n"
                                           "Please check power supply and cable connections");
    EXPECT_EQ(form.result(), 0);
    EXPECT_FALSE(form.actionRunning());
}

TEST_F(Actions, BackupPingsThenAsksAndShowsNothingEitherWay)
{
    for (const bool refuse : {false, true}) {
        SCOPED_TRACE(refuse);
        meter.scripted.requests.clear();
        meter.refused = refuse ? QList<QByteArray>{hexBytes("67")} : QList<QByteArray>{};
        form.BackupDataLogsBtn->click();
        EXPECT_EQ(meter.sent(), (QStringList{"00", "67"}));
        EXPECT_TRUE(d.prompter.messages.empty());
        EXPECT_EQ(form.result(), 0);
    }
}

// ---- zero totalisers ------------------------------------------------------------------------

namespace {

struct ZeroCase {
    const char *name;
    std::function<void(Meter &, ConfigTest::Dialog &)> arrange;
    QStringList commands; // runs of pings collapsed; a request the line fails on is listed
    QStringList messages; // after the question
    QStringList memo;
};

const QString kStopped = QStringLiteral("Scheduler Stopped");
const QStringList kWarningLines = {"", "Scheduler may be in an unknown state", "Please power cycle the board"};
const QString kSetAccess = QStringLiteral("4B 03");
const QString kReset = QStringLiteral("51 01 43 FF FF");

std::vector<ZeroCase> zeroCases()
{
    return {
        {"NotConfirmed", [](Meter &, ConfigTest::Dialog &d) { d.prompter.answers = {MsgResult::No}; }, {},
         {"Process canceled"}, {""}},
        {"FirstPingUnanswered", [](Meter &m, ConfigTest::Dialog &) { m.answeredPings = 0; }, {"00"}, {kNoComms},
         {""}},
        {"SchedulerDoesNotStop", [](Meter &m, ConfigTest::Dialog &) { m.refused = {hexBytes("45 00")}; },
         {"00", "45 00"}, {"Failed to stop scheduler"}, {""}},
        {"SecondPingUnanswered", [](Meter &m, ConfigTest::Dialog &) { m.answeredPings = 1; },
         {"00", "45 00", "00"}, {kNoComms, kWarning}, QStringList{kStopped} + kWarningLines},
        {"AccessLevelRefused", [](Meter &m, ConfigTest::Dialog &) { m.refused = {hexBytes("4B 03")}; },
         {"00", "45 00", "00", kSetAccess}, {"Failed to set access level", kWarning},
         QStringList{kStopped} + kWarningLines},
        {"TotalsNotReset", [](Meter &m, ConfigTest::Dialog &) { m.refused = {hexBytes("51")}; },
         {"00", "45 00", "00", kSetAccess, kReset}, {"Failed to reset totals", kWarning},
         QStringList{kStopped} + kWarningLines},
        {"SchedulerDoesNotRestart", [](Meter &m, ConfigTest::Dialog &) { m.refused = {hexBytes("45 01")}; },
         {"00", "45 00", "00", kSetAccess, kReset, "45 01"}, {kWarning},
         QStringList{kStopped, "Totalisers cleared"} + kWarningLines},
        {"LineFailsBeforeTheStop", [](Meter &m, ConfigTest::Dialog &) { m.throwing = {hexBytes("45 00")}; },
         {"00", "45 00"}, {"Write error"}, {""}},
        {"LineFailsAfterTheStop", [](Meter &m, ConfigTest::Dialog &) { m.throwing = {hexBytes("51")}; },
         {"00", "45 00", "00", kSetAccess, kReset}, {"Write error", kWarning},
         QStringList{kStopped} + kWarningLines},
    };
}

} // namespace

TEST_F(Actions, ZeroingStopsAtEachRefusalWithItsMessagesAndStays)
{
    for (const ZeroCase &c : zeroCases()) {
        SCOPED_TRACE(c.name);
        ConfigTest::Dialog dialog;
        Meter m(dialog.port);
        c.arrange(m, dialog);
        dialog.form->InformationSBClick(dialog.form->ResetTotalisersSB);
        dialog.form->ClearTotalsBtn->click();

        EXPECT_EQ(m.commands(), c.commands) << m.sent().join(" | ").toStdString();
        QStringList shown = dialog.prompter.texts();
        ASSERT_FALSE(shown.isEmpty());
        EXPECT_EQ(shown.takeFirst(), "All totals will be set to 0.\nDo you want to continue?");
        EXPECT_EQ(dialog.prompter.messages[0].buttons, Platform::MsgButtons::YesNo);
        EXPECT_EQ(shown, c.messages);
        EXPECT_EQ(dialog.form->ResetTotalsMemo->toPlainText().split('\n'), c.memo);
        EXPECT_EQ(dialog.form->result(), 0);
        EXPECT_TRUE(dialog.form->ResetTotalisersSB->isEnabled());
        EXPECT_FALSE(dialog.form->ResetTotalisersSB->isHidden());
        EXPECT_EQ(dialog.form->PageControl->currentWidget(), dialog.form->ResetTotalsPage);
        EXPECT_TRUE(dialog.unchangedExcept());
    }
}

TEST_F(Actions, ZeroingRunsTheWholeSequenceAndEndsWithCancel)
{
    form.InformationSBClick(form.ResetTotalisersSB);
    bool pageButtonHidden = false;
    int resultDuringRun = -1;
    QTimer::singleShot(0, &form, [&] {
        pageButtonHidden = form.ResetTotalisersSB->isHidden() && !form.ResetTotalisersSB->isEnabled();
        form.SaveBtn->click();
        form.ClearDataLogsBtnClick();
        resultDuringRun = form.result();
    });
    form.ClearTotalsBtn->click();

    EXPECT_TRUE(pageButtonHidden);
    EXPECT_EQ(resultDuringRun, 0);
    EXPECT_EQ(meter.commands(), (QStringList{"00", "45 00", "00", kSetAccess, kReset, "45 01"}));
    EXPECT_EQ(memo(), (QStringList{"Scheduler Stopped", "Totalisers cleared", "Scheduler Started", "",
                                   "Totals cleared successfully"}));
    EXPECT_EQ(d.prompter.texts().last(), "Totals cleared successfully.");
    EXPECT_EQ(form.result(), TConfigForm::mrCancel);
    EXPECT_TRUE(form.ResetTotalisersSB->isEnabled());
    EXPECT_TRUE(d.unchangedExcept());
}

// A second run starts from an empty memo.
TEST_F(Actions, ZeroingAgainClearsTheLastRunsLines)
{
    meter.refused = {hexBytes("45 00")};
    form.ClearTotalsBtn->click();
    meter.refused.clear();
    d.prompter.answers = {MsgResult::No};
    form.ClearTotalsBtn->click();
    EXPECT_EQ(memo(), QStringList{""});
}
