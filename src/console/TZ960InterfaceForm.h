// The main window of one connection. It runs modally above the start-up
// window with a local event loop of its own, so hiding it (from the
// notification-area icon) does not end it; only closing does.
//
// 100 ms after it opens it creates the link, opens the port and reads the
// meter's five structures behind a progress dialog; afterwards a column of
// navigation buttons drives it (one handler, StatusSBClick) and the status
// page polls the meter every 5 s.
//
// Every device wait pumps GUI messages, so clicks, timer ticks and the close
// box arrive while an operation waits for the meter. Three rules keep that
// safe:
//  - One exchange with the meter at a time. While a device operation of
//    this window runs (the connection, a click's branch, a page's button),
//    the navigation buttons are disabled and every other operation is
//    refused (beginDeviceOperation); the window's own call into a page is
//    admitted once, by token. A click during a status poll step is deferred
//    until the step has ended, and dropped when the step ends in the
//    lost-link question.
//  - Closing marks the window closing, stops its timers and stops the link:
//    every wait of the link ends at once and nothing more is sent but the
//    abort of a transfer (a setup write-back that has stopped the meter's
//    scheduler makes its remaining writes and restarts it first, one try
//    each, within kWriteBackCloseMs). Every handler checks the mark after
//    each wait and makes no further device call. The link and the lists are
//    freed once no handler of this window is running any more.
//  - After the window has closed no poll step or branch runs.
#pragma once

#include "console/Lamp.h"
#include "console/DiagnosticsPage.h"
#include "console/PageHost.h"

#include <QString>
#include <QStringList>
#include <QWidget>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class QAbstractButton;
class QButtonGroup;
class QCheckBox;
class QEventLoop;
class QFrame;
class QLabel;
class QLineEdit;
class QStackedWidget;
class QSystemTrayIcon;
class QTabWidget;
class QTimer;
class QToolButton;
class ClockPage;
class DataPage;
class InfoPage;
class TDlProgForm;
class TVRStartupForm;
class Z960Port;

// What the report launch hands to the report: the window (Owner), the link,
// the meter folder, then technician, validator licence number, site and notes.
struct ReportRequest {
    QWidget *owner;
    Z960Port *port;
    QString reportDir;
    std::string technicianName;
    std::string validatorLicenseNumber;
    std::string siteName;
    QStringList notes;
};

// Builds the report for the request and writes its files (MainWindowReport.cpp).
void RunMeterReport(const ReportRequest &request);

class TZ960InterfaceForm : public QWidget, public DiagnosticsHost {
    Q_OBJECT
public:
    TZ960InterfaceForm(QWidget *Owner, TVRStartupForm *startupForm, const std::string &comPortText,
                       uint16_t modbusAddress);
    ~TZ960InterfaceForm() override;

    // Shows the window modally and returns once it has closed.
    int ShowModal();
    bool modalRunning() const { return modalLoop != nullptr; }

    const std::string &portText() const { return comPortText; }
    uint16_t address() const { return modbusAddress; }

    // ---- lifecycle and connection -------------------------------------------
    void LoadSettings();
    void SaveSettings();
    void CreateDataRoot();
    void CreateMeterDataDir();
    void StartupTimerTimer();
    void FormClose();
    // The program ends: the window closes and no wait of the link goes on,
    // whatever it was doing (a write-back only sends its restart).
    void EndProgram();
    // How long a close lets a setup write-back that has stopped the meter's
    // scheduler run on (link milliseconds).
    static constexpr unsigned long kWriteBackCloseMs = 15000;
    void CentreStartupForm();
    void TrayIcon1Click();

    // ---- navigation, access level, setup, login, report -----------------------
    void StatusSBClick(QObject *Sender);
    void ApplyAccessLevel(short level);
    void EnableNavButtons(bool enable) override;
    void RunSetup();

    // ---- status page ------------------------------------------------------------
    void ShowStatusValues();
    void StatusTimerTimer();
    void PortFault(QObject *Sender, const std::string &Data);
    void PortRxActivity(QObject *Sender);
    void PortTxActivity(QObject *Sender);
    void LedTimerTimer();

    // ---- what the pages provide (MainWindowPages.cpp) ------------------------------
    void BuildInformationTree();
    void FilelistRefreshBtnClick(QObject *Sender);
    void PortFileProgress(QObject *Sender, int size, int downloaded, int temp);
    void ClockTimerTimer();
    // The meter folder changed: the data page's folder lists follow it.
    void MeterDataDirChanged();

    // The report launch: RunMeterReport (MainWindowReport.cpp), which builds
    // the meter report; tests put a recorder in its place.
    std::function<void(const ReportRequest &)> generateReport;

    // ---- the pages' host ------------------------------------------------------------
    Z960Port *link() const override { return port; }
    bool closingDown() const override { return closing; }
    bool beginDeviceOperation() override;
    void endDeviceOperation() override;
    QString meterDataDir() const override { return dataDir; }
    QWidget *hostWindow() override { return this; }
    TDlProgForm *progressForm() const override { return progressDlg; }
    void setProgressForm(TDlProgForm *form) override { progressDlg = form; }
    bool LostLinkQuestion() override;
    void ShowMonitorPage() override;
    QStringList *monitorRecording() override { return csvLines.get(); }
    QString monitorDataRoot() const override { return dataRoot; }
    QLabel *pcClockText() const override { return TopPanelPcClockTxt; }
    QLabel *sensorClockText() const override { return TopPanelSensorClockTxt; }

    // ---- state that tests read -------------------------------------------------------
    bool polling() const { return statusPolling; }
    const QStringList *monitorLines() const { return csvLines.get(); }
    const QStringList *notes() const { return reportNotes.get(); }
    const QString &dataRootPath() const { return dataRoot; }
    const QString &dataDirPath() const { return dataDir; }
    const std::string &technician() const { return technicianName; }
    const std::string &site() const { return siteName; }
    const std::string &validatorLicense() const { return validatorLicenseNumber; }
    TDlProgForm *progress() const { return progressDlg; }
    bool deviceOperationRunning() const { return deviceOps > 0; }

    // Fires after each connection step's SetProgress, before its link call,
    // and once more after "Done" (tests watch the progress dialog with it).
    std::function<void(const std::string &text, int position)> onProgress;

    // ---- controls (objectName = member name) ----------------------------------------
    QFrame *TopPanel, *LeftPanel, *BottomPanel;
    QLabel *TopPanelImage, *TopPanelLbl3, *TopPanelLbl4, *TopPanelSensorClockTxt, *TopPanelPcClockTxt;

    QToolButton *StatusSB, *DataSB, *ClockSB, *SetupSB, *DiagnosticsSB, *CommisionSB, *GenerateReportSB,
        *OpenDataFolderSB, *ViewMonitorDataSB, *LogginSB, *LogoutSB;
    QButtonGroup *NavGroup;

    QLabel *StatusTxt, *RxLbl, *TxLbl;
    TLamp *RxLed, *TxLed;

    QStackedWidget *PageControl;
    QWidget *Monitor, *Configuration, *Clock, *Data, *Blank, *Diagnostics, *Commision;
    QTabWidget *PageControl1;
    QWidget *FlowTotalsSheet, *DiagnosticsSheet, *Information;
    DataPage *dataPage;
    ClockPage *clockPage;
    InfoPage *infoPage;
    QFrame *SetClockPanel;  // the clock page's
    QCheckBox *DlCheckBox;  // the data page's

    // Status page values and their unit labels.
    QLineEdit *FlowRateEB, *FlowVelocityEB, *MassFlowEB, *ForwardTotalEB, *PeakForwardTotalEB,
        *OffPeakForwardTotalEB, *YTDForwardTotalEB, *NettTotalEB, *ReverseTotalEB, *PeakReverseTotalEB,
        *OffPeakReverseTotalEB, *YTDNettTotalEB, *YTDReverseTotalEB;
    QLabel *FlowRateUL, *FlowVelocityUL, *MassFlowUL, *ForwardTotalUL, *PeakForwardTotalUL, *OffPeakForwardTotalUL,
        *YTDForwardTotalUL, *NettTotalUL, *ReverseTotalUL, *PeakReverseTotalUL, *OffPeakReverseTotalUL,
        *YTDNettTotalUL, *YTDReverseTotalUL;
    QLineEdit *BatteryVoltageEB, *SolarVoltageEB, *BatteryCurrentEB, *TemperatureEB, *CoilVoltageEB,
        *CoilCurrentEB, *CoilResistanceEB;

    QSystemTrayIcon *TrayIcon1;
    QTimer *StatusTimer, *ClockTimer, *LedTimer;
    // The diagnostics pages' 3 s timers.
    // The diagnostics page brings its own five test timers.
    DiagnosticsPage *diagnosticsPage = nullptr;
    class CommissioningPage *commissioningPage = nullptr;

protected:
    void closeEvent(QCloseEvent *event) override;
    void moveEvent(QMoveEvent *event) override;

private:
    // Counts this window's handlers on the stack; the last one out finishes
    // a close that arrived meanwhile.
    class HandlerScope {
    public:
        explicit HandlerScope(TZ960InterfaceForm &form);
        ~HandlerScope();
        HandlerScope(const HandlerScope &) = delete;
        HandlerScope &operator=(const HandlerScope &) = delete;

    private:
        TZ960InterfaceForm &form_;
    };
    // A device operation: navigation disabled for its duration.
    class DeviceOperation {
    public:
        explicit DeviceOperation(TZ960InterfaceForm &form);
        ~DeviceOperation();
        DeviceOperation(const DeviceOperation &) = delete;
        DeviceOperation &operator=(const DeviceOperation &) = delete;

    private:
        TZ960InterfaceForm &form_;
        HandlerScope scope_;
    };

    void buildWindow();
    void buildTopPanel();
    void buildLeftPanel();
    void buildBottomPanel();
    void buildPages();
    void buildStatusPage();
    void buildTimers();
    void buildTrayIcon();

    bool runConnectionSteps();
    void finishConnection();
    void setMeterCaption();
    void Teardown();
    void stopAllTimers();
    // The setup write-back between stopping and restarting the meter's scheduler.
    bool writeBackImages();

    // The six navigation buttons in the order ApplyAccessLevel enables them.
    std::array<QToolButton *, 6> navButtons() const;
    void applyNavState();
    void NavButtonClicked(QAbstractButton *button);
    void runStatusSBClick(QObject *Sender);
    void ResumePolling();
    void ReleaseButton(QAbstractButton *button);
    void StartStatusRecording();
    void Login();
    void Logout();
    void ViewMonitorData();
    void OpenDataFolder();
    void LaunchReport();
    void pollStep();
    void runPendingClick();
    void dropPendingClick();
    void pump(int times = 1);

    std::string comPortText;
    QString dataRoot;
    QString dataDir;
    QTimer *startupTimer = nullptr;
    TVRStartupForm *startupForm;
    TDlProgForm *progressDlg = nullptr; // the progress dialog while one is shown
    Z960Port *port = nullptr;
    bool rxActivity = false;
    bool txActivity = false;
    bool statusPolling = false;
    std::unique_ptr<QStringList> csvLines;
    QString customPath;
    int32_t pathOptionIndex = 0;
    int32_t graphChannel = 0;
    std::string technicianName, siteName, validatorLicenseNumber;
    std::unique_ptr<QStringList> reportNotes;
    uint16_t modbusAddress;

    QEventLoop *modalLoop = nullptr;
    bool closing = false;
    bool tornDown = false;
    bool writeBackRunning = false; // the meter's scheduler is stopped until the write-back ends
    int handlerDepth = 0;
    int deviceOps = 0;
    bool pollStepRunning = false;
    bool pageCallToken = false; // admits the page operation the window itself calls, once
    QAbstractButton *pendingClick = nullptr;
    // Enabled state of the six navigation buttons by the last access level applied.
    std::array<bool, 6> navState{};
};
