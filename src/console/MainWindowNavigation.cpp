// The main window's navigation column: one handler for every button, the
// buttons' enabling by the meter's access level, the setup write-back, login
// and logout, the monitor data file, the meter folder and the report launch.
#include "console/TZ960InterfaceForm.h"

#include "config/ConfigFormUnit.h"
#include "console/MonitorData.h"
#include "console/MonitorRecording.h"
#include "console/ProgramInfo.h"
#include "console/TStringQuery.h"
#include "link/Z960Port.h"
#include "platform/IntConvert.h"
#include "platform/Prompter.h"
#include "platform/ShellOpen.h"
#include "report/RptFonts.h"
#include "report/TTechMemoForm.h"

#include <QApplication>
#include <QButtonGroup>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QStackedWidget>
#include <QTimer>
#include <QToolButton>

#include <utility>

namespace {

constexpr const char *kSetupFailed = "Failed to update flowmeter, Please check communications connectivity.";
constexpr const char *kMonitorFileFailed =
    "Unable to open/create Monitor data file. If file is in use please close it before trying again.";
constexpr const char *kReportFailed =
    "Unable to open/create Report data file. If file is in use please close it before trying again.";
constexpr int kProloguePumps = 250;

// The memo's lines as the report takes them (an empty last line is none).
QStringList memoLines(const QPlainTextEdit &memo)
{
    QStringList lines = memo.toPlainText().split(QLatin1Char('\n'));
    const int count = TTechMemoForm::memoLineCount(memo);
    while (lines.size() > count)
        lines.removeLast();
    return lines;
}

} // namespace

std::array<QToolButton *, 6> TZ960InterfaceForm::navButtons() const
{
    return {ClockSB, SetupSB, StatusSB, DataSB, LogginSB, LogoutSB};
}

void TZ960InterfaceForm::pump(int times)
{
    for (int i = 0; i < times && !closing; ++i)
        QCoreApplication::processEvents();
}

// ---------------------------------------------------------------------------
// Access level

void TZ960InterfaceForm::ApplyAccessLevel(short level)
{
    switch (level) {
    case 0:
    case 1: navState = {false, false, true, true, true, true}; break;
    case 2:
    case 3: navState = {true, true, true, true, true, true}; break;
    default: return; // a level the meter should not report changes nothing
    }
    applyNavState();
}

void TZ960InterfaceForm::applyNavState()
{
    if (deviceOps > 0 || closing)
        return; // the end of the running operation applies it
    const auto buttons = navButtons();
    for (std::size_t i = 0; i < buttons.size(); ++i)
        buttons[i]->setEnabled(navState[i]);
}

void TZ960InterfaceForm::EnableNavButtons(bool enable)
{
    if (!enable) {
        for (QToolButton *b : navButtons())
            b->setEnabled(false);
        return;
    }
    if (port && !closing) {
        const unsigned short level = port->getCommsAccessLevel();
        if (closing)
            return;
        ApplyAccessLevel(static_cast<short>(level));
    }
    // Also for a level that changes nothing: the buttons come back as they were.
    applyNavState();
}

// ---------------------------------------------------------------------------
// The one click handler

void TZ960InterfaceForm::NavButtonClicked(QAbstractButton *button)
{
    if (closing || deviceOps > 0)
        return; // another device operation runs: the click is refused
    if (pollStepRunning) {
        // The poll step ends after its current device call; the click runs then.
        pendingClick = button;
        statusPolling = false;
        StatusTimer->stop();
        if (port)
            port->abortCommand();
        return;
    }
    StatusSBClick(button);
}

void TZ960InterfaceForm::dropPendingClick()
{
    if (std::exchange(pendingClick, nullptr) == nullptr)
        return;
    // As though it had never come: the status page goes on polling.
    StatusSB->setChecked(true);
    statusPolling = true;
}

void TZ960InterfaceForm::runPendingClick()
{
    QAbstractButton *button = pendingClick;
    pendingClick = nullptr;
    if (button && !closing)
        StatusSBClick(button);
}

void TZ960InterfaceForm::StatusSBClick(QObject *Sender)
{
    StatusTxt->clear();
    statusPolling = false;
    ViewMonitorDataSB->setVisible(false);
    GenerateReportSB->setVisible(false);
    OpenDataFolderSB->setVisible(false);
    if (!port || closing)
        return;

    DeviceOperation operation(*this);
    StatusTimer->stop();
    port->abortCommand();
    pump(kProloguePumps); // an interrupted exchange and pending events run out
    if (closing || !Sender)
        return;
    runStatusSBClick(Sender);
    PageControl->update();
}

void TZ960InterfaceForm::runStatusSBClick(QObject *Sender)
{
    using Branch = void (*)(TZ960InterfaceForm &);
    struct Row {
        const char *name;
        Branch branch;
    };
    static const Row branches[] = {
        {"StatusSB",
         [](TZ960InterfaceForm &f) {
             f.PageControl->setCurrentWidget(f.Monitor);
             f.StartStatusRecording();
             f.ResumePolling();
         }},
        {"ClockSB", [](TZ960InterfaceForm &f) { f.PageControl->setCurrentWidget(f.Clock); }},
        {"DataSB",
         [](TZ960InterfaceForm &f) {
             f.navState[3] = false; // DataSB; the file list re-applies the level when it ends
             f.DataSB->setEnabled(false);
             f.PageControl->setCurrentWidget(f.Data);
             f.pump();
             if (f.closing)
                 return;
             f.FilelistRefreshBtnClick(&f);
             f.pump();
         }},
        {"SetupSB",
         [](TZ960InterfaceForm &f) {
             f.PageControl->setCurrentWidget(f.Configuration);
             f.RunSetup();
         }},
        {"LogginSB",
         [](TZ960InterfaceForm &f) {
             f.PageControl->setCurrentWidget(f.Blank);
             f.Login();
         }},
        {"LogoutSB",
         [](TZ960InterfaceForm &f) {
             f.PageControl->setCurrentWidget(f.Blank);
             f.Logout();
         }},
        {"ViewMonitorDataSB", [](TZ960InterfaceForm &f) { f.ViewMonitorData(); }},
        {"GenerateReportSB", [](TZ960InterfaceForm &f) { f.LaunchReport(); }},
        {"OpenDataFolderSB", [](TZ960InterfaceForm &f) { f.OpenDataFolder(); }},
        // DiagnosticsSB and CommisionSB have no branch.
    };
    const QString name = Sender->objectName();
    for (const Row &row : branches) {
        if (name == QLatin1String(row.name)) {
            row.branch(*this);
            return;
        }
    }
}

void TZ960InterfaceForm::StartStatusRecording()
{
    if (!csvLines)
        return;
    csvLines->clear();
    csvLines->append(QString::fromLatin1(Console::StatusMonitorHeader));
}

void TZ960InterfaceForm::ResumePolling()
{
    if (closing)
        return;
    ViewMonitorDataSB->setVisible(true);
    GenerateReportSB->setVisible(true);
    OpenDataFolderSB->setVisible(true);
    StatusTimer->start();
    statusPolling = true;
}

void TZ960InterfaceForm::ReleaseButton(QAbstractButton *button)
{
    NavGroup->setExclusive(false);
    button->setChecked(false);
    NavGroup->setExclusive(true);
}

// ---------------------------------------------------------------------------
// Login and logout

void TZ960InterfaceForm::Login()
{
    TStringQuery query(this);
    query.Label->setText(QStringLiteral("Access Code"));
    query.Edit->setMaxLength(4);
    pump();
    const int result = Platform::prompter().runDialog(query);
    if (closing || result != QDialog::Accepted || query.Edit->text().isEmpty())
        return;
    // Letters pass the query's filter; such a code is refused before anything is sent.
    const int code = Platform::StrToInt(query.Edit->text());
    const unsigned short level = port->loggin(static_cast<unsigned short>(code));
    if (!closing)
        ApplyAccessLevel(static_cast<short>(level));
}

void TZ960InterfaceForm::Logout()
{
    const unsigned short level = port->logout();
    if (!closing)
        ApplyAccessLevel(static_cast<short>(level));
}

// ---------------------------------------------------------------------------
// Setup write-back

void TZ960InterfaceForm::RunSetup()
{
    const Z960Data::sCal calCopy = port->calImage;
    const Z960Data::sBasicCal basicCalCopy = port->basicCalImage;
    const Z960Data::sConfig configCopy = port->configImage;
    bool success = false;
    bool conversionDone = false;

    const unsigned short level = port->getCommsAccessLevel();
    if (closing)
        return;
    {
        TConfigForm form(this, this, port, static_cast<short>(level));
        const int result = form.ShowModal();
        if (closing)
            return;
        if (result == TConfigForm::mrOk) {
            bool folderReady = true;
            try {
                CreateMeterDataDir(); // the meter ID may have changed: its folder follows
            } catch (const std::exception &error) {
                Platform::showMessage(QString::fromUtf8(error.what()), this);
                folderReady = false;
            }
            if (folderReady) {
                conversionDone = form.conversionDone;
                technicianName = form.TechnicianName->text().toStdString();
                siteName = form.SiteName->text().toStdString();
                validatorLicenseNumber = form.ValidatorLicenseNumber->text().toStdString();
                if (reportNotes)
                    reportNotes->append(memoLines(*form.NotesMemo));

                if (port->sendNullCommand() && !closing) {
                    success = writeBackImages();
                    if (closing)
                        return;
                }
                pump();
                if (closing)
                    return;
                if (!success)
                    Platform::showMessage(QLatin1String(kSetupFailed), this);
            }
        }
    }
    if (!success) {
        port->calImage = calCopy;
        port->basicCalImage = basicCalCopy;
        port->configImage = configCopy;
    }
    setMeterCaption();
    pump();
    if (closing)
        return;
    Logout();
    if (closing)
        return;
    if (conversionDone) {
        GenerateReportSB->setChecked(true);
        StatusSBClick(GenerateReportSB);
    } else {
        PageControl->setCurrentWidget(Monitor);
        StatusSB->setChecked(true);
        StatusSBClick(StatusSB);
    }
}

// Stops the meter's scheduler, writes structures 5, 4 and 6, reads 0 and 1
// again and restarts the scheduler whatever the writes gave. A close that
// arrives meanwhile lets the writes and the restart run, so it never leaves
// the meter stopped; but the reads, which only refresh this window, are
// skipped, and so is every write after an exchange that failed: a meter
// that has stopped answering is asked once to run again, and the close is over.
bool TZ960InterfaceForm::writeBackImages()
{
    struct Step {
        bool write;
        bool (*run)(Z960Port &);
    };
    static const Step steps[] = {
        {true, [](Z960Port &p) { return p.putStucture(5); }},
        {true, [](Z960Port &p) { return p.putStucture(4); }},
        {true, [](Z960Port &p) { return p.putStucture(6); }},
        {false, [](Z960Port &p) { return p.getStucture(0); }},
        {false, [](Z960Port &p) { return p.getStucture(1); }},
    };
    writeBackRunning = true;
    bool failed = !port->setState(0); // not checked, unless a close has come
    bool allDone = true;
    for (const Step &step : steps) {
        if (closing && (failed || !step.write)) {
            allDone = false;
            break;
        }
        if (!step.run(*port)) {
            failed = true;
            allDone = false;
            break;
        }
    }
    port->setState(1);
    writeBackRunning = false;
    if (closing) {
        port->stop(); // what the close left to the write-back
        return false;
    }
    if (allDone)
        BuildInformationTree();
    return allDone;
}

// ---------------------------------------------------------------------------
// Monitor data, meter folder, report

void TZ960InterfaceForm::ViewMonitorData()
{
    const bool failed = !Console::SaveAndOpenMonitorData(csvLines.get(), dataRoot, nullptr, this);
    if (closing)
        return;
    ReleaseButton(ViewMonitorDataSB);
    StatusSB->setChecked(true);
    if (failed)
        Platform::showMessage(QLatin1String(kMonitorFileFailed), this);
    ResumePolling();
}

void TZ960InterfaceForm::OpenDataFolder()
{
    Platform::shellOpenOrTell(dataDir, this);
    ResumePolling();
    StatusSB->setChecked(true);
}

void TZ960InterfaceForm::LaunchReport()
{
    try {
        TTechMemoForm memo(this);
        if (!technicianName.empty())
            memo.TechnicianNameEB->setText(QString::fromStdString(technicianName));
        if (!siteName.empty())
            memo.SiteNameEB->setText(QString::fromStdString(siteName));
        if (!validatorLicenseNumber.empty())
            memo.ValidatorLicenseNumberEB->setText(QString::fromStdString(validatorLicenseNumber));
        if (reportNotes)
            for (const QString &line : *reportNotes)
                memo.Memo1->appendPlainText(line);
        const int result = Platform::prompter().runDialog(memo);
        if (closing)
            return;
        if (result == QDialog::Accepted) {
            technicianName = memo.TechnicianNameEB->text().toStdString();
            siteName = memo.SiteNameEB->text().toStdString();
            validatorLicenseNumber = memo.ValidatorLicenseNumberEB->text().toStdString();
            const QStringList lines = memoLines(*memo.Memo1);
            if (reportNotes)
                *reportNotes = lines;
            generateReport({this, port, dataDir, technicianName, validatorLicenseNumber, siteName, lines});
            if (closing)
                return;
            ReleaseButton(GenerateReportSB);
            technicianName.clear();
            siteName.clear();
            validatorLicenseNumber.clear();
            if (reportNotes)
                reportNotes->clear();
        }
    } catch (const Rpt::FontError &e) {
        // A font of the report that cannot be used says which and why.
        if (closing)
            return;
        Platform::showMessage(QString::fromUtf8(e.what()), this);
    } catch (...) {
        if (closing)
            return;
        Platform::showMessage(QLatin1String(kReportFailed), this);
    }
    if (closing)
        return;
    PageControl->setCurrentWidget(Monitor);
    ResumePolling();
    StatusSB->setChecked(true);
}
