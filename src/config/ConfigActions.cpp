// The setup dialog's actions on the meter itself: clearing the data logs,
// backing them up to the meter's SD card and zeroing the totalisers. They run
// on the GUI thread and pump messages while they wait, so the dialog refuses
// its other actions, page changes, Save, Cancel and closing until they end.
#include "config/ConfigFormUnit.h"

#include "link/LinkClock.h"
#include "link/Z960Port.h"
#include "platform/Prompter.h"

#include <QCoreApplication>
#include <QPlainTextEdit>
#include <QToolButton>

#include <array>
#include <exception>

namespace {

const char *const kClearQuestion =
    "Proceeding with this command will clear all logged data and resets the record count.\nDo you want to continue?";
const char *const kLogsCleared = "Data logs have been succesfully cleared.";
const char *const kNoAnswerAfterClear =
    "The meter did not answer after clearing the data logs.\nPlease check power supply and cable connections";

const char *const kZeroQuestion = "All totals will be set to 0.\nDo you want to continue?";
const char *const kCanceled = "Process canceled";
const char *const kNoComms = "Failed to establish reliable communication with the sensor. please check power supply "
                             "and cable connections";
const char *const kStopFailed = "Failed to stop scheduler";
const char *const kAccessFailed = "Failed to set access level";
const char *const kResetFailed = "Failed to reset totals";
const char *const kUnknownState = "Scheduler may be in an unknown state";
const char *const kPowerCycle = "Please power cycle the board";
const char *const kTotalsCleared = "Totals cleared successfully";

constexpr unsigned short kAllTotals = 0xFFFF;
constexpr unsigned short kResetTimeoutSeconds = 5;
constexpr unsigned char kStateStopped = 0;
constexpr unsigned char kStateRunning = 1;
constexpr unsigned char kAccessLevel3 = 3;

QString text(const char *latin1) { return QString::fromLatin1(latin1); }

} // namespace

// Marks an action as running for its whole run, however it ends.
class TConfigForm::ActionScope {
public:
    explicit ActionScope(TConfigForm &form) : form_(form) { form_.actionRunning_ = true; }
    ~ActionScope() { form_.actionRunning_ = false; }
    ActionScope(const ActionScope &) = delete;
    ActionScope &operator=(const ActionScope &) = delete;

private:
    TConfigForm &form_;
};

// ---------------------------------------------------------------------------
// Clear and back up the data logs

void TConfigForm::ClearDataLogsBtnClick()
{
    if (actionRunning_ || !port)
        return;
    ActionScope running(*this);
    if (Platform::messageDlg(text(kClearQuestion), Platform::MsgIcon::Warning, Platform::MsgButtons::YesNo, this)
        != Platform::MsgResult::Yes)
        return;
    if (!port->ClearAllDataFlashLogs())
        return;
    // The board reboots to clear its flash pages: give it time before asking.
    port->DelayTicks(kRebootPauseMs);
    waitForRestartedMeter();
}

// Pings until the meter answers again, for at most kRebootAnswerLimitMs; a
// meter that stays silent is reported and the dialog stays open.
void TConfigForm::waitForRestartedMeter()
{
    const LinkClock::Tick start = LinkClock::now();
    while (!port->sendNullCommand()) {
        if (port->stopped())
            return; // the window closed: nothing to wait for or to tell
        if (LinkClock::elapsed(start, kRebootAnswerLimitMs)) {
            Platform::showMessage(text(kNoAnswerAfterClear), this);
            return;
        }
        QCoreApplication::processEvents();
        port->DelayTicks(2);
    }
    Platform::showMessage(text(kLogsCleared), this);
    done(mrOk);
}

void TConfigForm::BackupDataLogsBtnClick()
{
    if (actionRunning_ || !port)
        return;
    ActionScope running(*this);
    port->backupLogsToSdcard(); // the meter shows its progress on its lamps; nothing to report here
}

// ---------------------------------------------------------------------------
// Zero the totalisers

void TConfigForm::ClearTotalsBtnClick()
{
    if (actionRunning_ || !port)
        return;
    ActionScope running(*this);
    ResetTotalisersSB->setEnabled(false);
    ResetTotalisersSB->setVisible(false);
    ResetTotalsMemo->clear();

    QString failure;
    bool schedulerStopped = false;
    bool success = false;
    if (Platform::messageDlg(text(kZeroQuestion), Platform::MsgIcon::Warning, Platform::MsgButtons::YesNo, this)
        != Platform::MsgResult::Yes) {
        failure = text(kCanceled);
    } else {
        try {
            [&] {
                if (!port->sendNullCommand()) {
                    failure = text(kNoComms);
                    return;
                }
                port->DelayTicks(5);
                if (!port->setState(kStateStopped)) {
                    failure = text(kStopFailed);
                    return;
                }
                schedulerStopped = true;
                ResetTotalsMemo->appendPlainText(QStringLiteral("Scheduler Stopped"));
                if (!port->sendNullCommand()) {
                    failure = text(kNoComms);
                    return;
                }
                if (!port->setAccessLevel(kAccessLevel3)) {
                    failure = text(kAccessFailed);
                    return;
                }
                std::array<unsigned char, 1024> reply{}; // the reply itself is not examined
                unsigned short replyLength = 0;
                if (!port->resetTotalisers(kAllTotals, reply.data(), &replyLength, kResetTimeoutSeconds,
                                           Z960Data::MODBUS_EMBEDDED, reply.size())) {
                    failure = text(kResetFailed);
                    return;
                }
                ResetTotalsMemo->appendPlainText(QStringLiteral("Totalisers cleared"));
                if (!port->setState(kStateRunning))
                    return; // the scheduler warning follows
                schedulerStopped = false;
                success = true;
                ResetTotalsMemo->appendPlainText(QStringLiteral("Scheduler Started"));
            }();
        } catch (const std::exception &error) {
            Platform::showMessage(QString::fromLocal8Bit(error.what()), this);
        }
    }
    endZeroing(failure, schedulerStopped, success);
}

void TConfigForm::endZeroing(const QString &failure, bool schedulerStopped, bool success)
{
    ResetTotalisersSB->setEnabled(true);
    ResetTotalisersSB->setVisible(true);
    if (success) {
        ResetTotalsMemo->appendPlainText(QString());
        ResetTotalsMemo->appendPlainText(text(kTotalsCleared));
        Platform::showMessage(text(kTotalsCleared) + QLatin1Char('.'), this);
        done(mrCancel); // nothing of the images is written back
        return;
    }
    if (!failure.isEmpty())
        Platform::showMessage(failure, this);
    if (schedulerStopped) {
        ResetTotalsMemo->appendPlainText(QString());
        ResetTotalsMemo->appendPlainText(text(kUnknownState));
        ResetTotalsMemo->appendPlainText(text(kPowerCycle));
        Platform::showMessage(text(kUnknownState) + QLatin1Char('\n') + text(kPowerCycle), this);
    }
}
