#include "console/CommissioningPage.h"

#include "console/DiagnosticsPage.h"
#include "console/PageHost.h"
#include "console/TDlProgForm.h"
#include "link/DateTime.h"
#include "link/LinkClock.h"
#include "link/LinkWait.h"
#include "link/Z960Port.h"
#include "platform/Prompter.h"

#include <QCoreApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <exception>
#include <new>

namespace {

constexpr const char *kInstructions[] = {
    "The commisioning process will perform the following items:",
    "",
    "1 Set date and time",
    "2 Clear reset counter",
    "3 Clear totals",
    "4 Clear logs",
    "5 Backup Cal and Config files to sdcard",
    "",
    "",
    "NOTE: ",
    "A clean formatted sdcard is required at the start of the process",
};

constexpr const char *kClearQuestion =
    "Proceeding with this process will clear all totalisers and all logged data.\nDo you want to continue?";
constexpr const char *kRtcQuestion = "Is the RTC clock battery fitted?";
constexpr const char *kCardQuestion =
    "Please insert a cleanly formatted sdcard into the board's sdcard holder and verify card is locked in.\n"
    "Do you want to continue?";

constexpr const char *kCanceled = "Process canceled";
constexpr const char *kNoComms = "Failed to establish reliable communication with the sensor. please check power "
                                 "supply and cable connections";
constexpr const char *kNoReplyAfterReboot =
    "The sensor did not answer after clearing its data flash memory logs. please check power supply and cable "
    "connections";
constexpr const char *kUnknownScheduler = "Scheduler may be in an unknown state\nPlease power cycle the board";

constexpr const char *kProgressLabel = "Progress";

// Commands of the run.
constexpr unsigned char kClearResetCounter = 72;
constexpr unsigned char kBackupCalConfig = 99;
constexpr unsigned short kAllTotals = 0xFFFF;

// The pause of one pass of the reboot wait before the bar is set (and
// between two pings).
constexpr LinkClock::Tick kRebootPassMs = 2;

void pump() { QCoreApplication::processEvents(); }

} // namespace

struct CommissioningPage::Run {
    QString failure;              // set by the step that ended the run
    bool success = false;         // set only by the last step
    bool schedulerStopped = false;
    DateTime::TDateTime startTime = 0.0;
};

CommissioningPage::CommissioningPage(PageHost &host, QWidget *parent) : QWidget(parent), host_(host)
{
    setObjectName(QStringLiteral("CommissioningPage"));
    StartCommisioningBtn = new QPushButton(QStringLiteral("Start"), this);
    StartCommisioningBtn->setObjectName(QStringLiteral("StartCommisioningBtn"));
    StartCommisioningBtn->setFixedWidth(100);
    CommisioningMemo = new QPlainTextEdit(this);
    CommisioningMemo->setObjectName(QStringLiteral("CommisioningMemo"));
    QStringList lines;
    for (const char *line : kInstructions)
        lines << QLatin1String(line);
    CommisioningMemo->setPlainText(lines.join(QLatin1Char('\n')));

    Console::FillParent(this, parent);
    auto *own = new QVBoxLayout(this);
    own->addWidget(StartCommisioningBtn);
    own->addWidget(CommisioningMemo, 1);

    connect(StartCommisioningBtn, &QPushButton::clicked, this,
            [this] { Platform::guarded([this] { StartCommisioningBtnClick(StartCommisioningBtn); }); });
}

int CommissioningPage::RebootProgress(long long elapsedSeconds)
{
    return static_cast<int>(std::clamp<long long>(elapsedSeconds * 100 / 180, 0, 100));
}

Z960Port *CommissioningPage::live() const { return host_.closingDown() ? nullptr : host_.link(); }

bool CommissioningPage::confirm(const char *question)
{
    return Platform::messageDlg(QLatin1String(question), Platform::MsgIcon::Warning, Platform::MsgButtons::YesNo,
                                this) == Platform::MsgResult::Yes;
}

void CommissioningPage::setProgress(const char *caption, int position)
{
    if (progress_ != nullptr)
        progress_->SetProgress(caption, kProgressLabel, std::clamp(position, 0, 100));
}

void CommissioningPage::StartCommisioningBtnClick(QObject *)
{
    PageOperation op(host_);
    if (!op)
        return;
    StartCommisioningBtn->setEnabled(false);
    StartCommisioningBtn->setVisible(false);
    Run run;
    run.startTime = DateTime::now();
    CommisioningMemo->clear();
    try {
        runSteps(run);
    } catch (const std::exception &e) {
        if (!host_.closingDown())
            Platform::showMessage(QString::fromLocal8Bit(e.what()), this);
    } catch (...) {
        finish(run);
        throw;
    }
    finish(run);
}

// Each step runs only when the one before went through; false ends the run.
bool CommissioningPage::runSteps(Run &run)
{
    // A step's outcome: false ends the run, with its failure text unless the
    // window closes (then nothing more is sent or shown).
    const auto step = [&](bool done, const char *failure) {
        if (host_.closingDown())
            return false;
        if (!done)
            run.failure = QLatin1String(failure);
        return done;
    };
    const auto line = [this](const char *text) { CommisioningMemo->appendPlainText(QLatin1String(text)); };

    if (!step(confirm(kClearQuestion), kCanceled))
        return false;
    Z960Port *p = live();
    if (!step(p != nullptr && p->sendNullCommand(), kNoComms) || !step(confirm(kRtcQuestion), kCanceled))
        return false;
    p->DelayTicks(5);
    if (!step(p->setState(0), "Failed to stop scheduler"))
        return false;
    run.schedulerStopped = true;
    line("Scheduler Stopped");
    if (!confirm(kCardQuestion)) {
        if (live() != nullptr)
            p->setState(1); // its result is not looked at: the warning follows anyway
        return step(false, kCanceled);
    }
    if (!step(p->sendNullCommand(), kNoComms))
        return false;

    try {
        progress_ = new TDlProgForm(host_.hostWindow(), false);
    } catch (const std::bad_alloc &) {
        return step(false, "Memory  error");
    }
    host_.setProgressForm(progress_);
    progress_->setWindowTitle(QStringLiteral("Commisioning board"));
    progress_->show();

    setProgress("Setting acces level", 0);
    if (!step(p->setAccessLevel(3), "Failed to set access level"))
        return false;
    setProgress("Updating date/time", 10);
    if (!step(p->setDateTime(run.startTime, true), "Failed to update date/time"))
        return false;
    line("Time updated");
    setProgress("Clearing reset counter", 20);
    if (!step(p->sendSimpleCommand(kClearResetCounter), "Failed to clear reset counter"))
        return false;
    line("Reset counter cleared");
    setProgress("Clearing totals", 30);
    if (!step(p->setAccessLevel(3), "Failed to set access level"))
        return false;
    unsigned char reply[Z960Port::kCommandBufferSize] = {};
    unsigned short replyLength = 0;
    if (!step(p->resetTotalisers(kAllTotals, reply, &replyLength, 5, Z960Data::MODBUS_EMBEDDED),
              "Failed to reset totals"))
        return false;
    line("Totalisers cleared");

    run.startTime = DateTime::now();
    if (!step(p->ClearAllDataFlashLogs(), "Failed to clear data flash memory logs"))
        return false;
    line("Rebooting board");
    if (!waitForReboot(run, p))
        return false;

    line("Flash memory data logs cleared");
    p->DelayTicks(18);
    if (host_.closingDown())
        return false;
    setProgress("Backing up CC files", 95);
    p->getStucture(Z960Data::STATUS); // refreshes the images; the backup goes ahead either way
    if (host_.closingDown())
        return false;
    if (!step(p->sendSimpleCommand(kBackupCalConfig), "Failed to backup CC files"))
        return false;
    line("CC Files backed up");
    run.success = true;
    return true;
}

// The meter reboots after its logs were cleared: it is left alone for a
// while, then pinged until it answers; the wait has a limit. Closing the
// window ends it at once.
bool CommissioningPage::waitForReboot(Run &run, Z960Port *&p)
{
    const LinkClock::Tick clearedAt = LinkClock::now();
    const auto closing = [this] { return host_.closingDown(); };
    // Waits ms in the event loop, then shows how long the meter has been rebooting.
    const auto pass = [&](LinkClock::Tick ms) {
        pump();
        if (closing())
            return false;
        LinkWait::until(closing, LinkClock::now(), ms);
        if (closing())
            return false;
        setProgress("Clearing flash memory data logs", RebootProgress(LinkClock::since(clearedAt) / 1000));
        return !closing();
    };
    // While the meter is left alone the bar can only move at a whole
    // second, so the wait sleeps until then.
    LinkClock::Tick slice = kRebootPassMs;
    while (!LinkClock::elapsed(clearedAt, rebootQuietMs)) {
        if (!pass(slice))
            return false;
        const LinkClock::Tick gone = LinkClock::since(clearedAt);
        slice = gone >= rebootQuietMs ? 0 : std::min<LinkClock::Tick>(1000 - gone % 1000, rebootQuietMs - gone);
    }
    for (;;) {
        const bool answered = p->sendNullCommand();
        if (closing())
            return false;
        if (answered)
            return true;
        if (LinkClock::elapsed(clearedAt, rebootLimitMs)) {
            run.failure = QLatin1String(kNoReplyAfterReboot);
            return false;
        }
        if (!pass(kRebootPassMs))
            return false;
    }
}

// The closing steps: always, also after an exception.
void CommissioningPage::finish(Run &run)
{
    if (progress_ != nullptr) {
        if (host_.progressForm() == progress_)
            host_.setProgressForm(nullptr);
        delete progress_;
        progress_ = nullptr;
    }
    if (!host_.closingDown()) {
        const auto line = [this](const char *text) { CommisioningMemo->appendPlainText(QLatin1String(text)); };
        if (run.success) {
            line("");
            line("Commisioning proccess completed successfully");
            Platform::showMessage(QStringLiteral("Process completed successfully."), this);
        } else {
            Platform::showMessage(run.failure, this);
            if (run.schedulerStopped) {
                line("");
                line("Scheduler may be in an unknown state");
                line("Please power cycle the board");
                Platform::showMessage(QLatin1String(kUnknownScheduler), this);
            }
        }
    }
    StartCommisioningBtn->setEnabled(true);
    StartCommisioningBtn->setVisible(true);
}
