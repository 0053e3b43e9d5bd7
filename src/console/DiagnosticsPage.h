// The diagnostics page: the EC, input-signal and pipe-not-full tests and the
// maintenance and monitoring modes. A test or mode puts the meter into its
// state (the monitoring mode leaves it alone), reads it every 3 s, charts one
// value, lists it in a memo and records a row for "Monitor.csv".
//
// A test or mode runs exactly while its start/stop button shows its running
// caption: a click on the running caption only puts the start caption back,
// and the next tick sees it and performs the stop. Each tick switches its
// timer off while it talks to the meter and on again at its end, so the 3 s
// count from the end of the previous exchange and no tick re-enters itself.
//
// How the main window embeds the page: it implements DiagnosticsHost (the two
// members below: `return csvLines.get();` and `return dataRoot;`) and
//
//   diagnosticsPage = new DiagnosticsPage(*this, Diagnostics);   // fills the "Diagnostics" sheet
//   FormClose / the close path, before the link is freed: diagnosticsPage->StopTimers();
//
// The page owns its selectors, its sheets and its five timers; it replaces the
// window's own placeholder DiagnosticPageControl and test timers.
#pragma once

#include "console/PageHost.h"
#include "link/Z960Data.h"

#include <QChartView>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <array>
#include <memory>
#include <vector>

class QButtonGroup;
class QLineEdit;
class QLineSeries;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QStackedWidget;
class QTimer;
class QToolButton;
class QValueAxis;
class Z960Port;


// Puts a page into its parent sheet: into the sheet's layout, or into a new
// one when the sheet has none.
namespace Console {
void FillParent(QWidget *page, QWidget *parent);
} // namespace Console

// What the diagnostics page needs from the main window beyond PageHost.
class DiagnosticsHost : public PageHost {
public:
    // The window's monitor recording (csvLines); null once the window closed.
    virtual QStringList *monitorRecording() = 0;
    // The data root with its trailing "/"; "Monitor.csv" is written there.
    virtual QString monitorDataRoot() const = 0;
};

// A chart of the page: up to two line series with small circle markers, the
// legend hidden; each point takes the next X position of its series.
class TDiagChart : public QChartView {
    Q_OBJECT
public:
    TDiagChart(const char *name, const QString &title, std::vector<const char *> seriesNames, QWidget *parent);

    QLineSeries *series(int index) const { return series_.at(static_cast<std::size_t>(index)); }
    int seriesCount() const { return static_cast<int>(series_.size()); }
    void addPoint(int seriesIndex, double value);
    // Empties every series.
    void clearSeries();
    QString title() const;
    void setTitle(const QString &title);

private:
    void fitAxes();

    std::vector<QLineSeries *> series_;
    QValueAxis *axisX_;
    QValueAxis *axisY_;
};

class DiagnosticsPage : public QWidget {
    Q_OBJECT
public:
    explicit DiagnosticsPage(DiagnosticsHost &host, QWidget *parent = nullptr);
    ~DiagnosticsPage() override;

    // ---- page frame ------------------------------------------------------------
    void ECSBClick(QObject *Sender);
    void DisableDiagSelectors();
    void EnableDiagSelectors();
    void PNFChartClearBtnClick(QObject *Sender);
    // The five "Open Monitor Data" buttons: save the recording and open it.
    void OpenMonDataFileClick(QObject *Sender);
    // The window closes: no tick runs any more (nothing is sent to the meter).
    void StopTimers();

    // ---- tests -----------------------------------------------------------------
    void EcTestBtnClick(QObject *Sender);
    void ISTestBtnClick(QObject *Sender);
    void PNFTestBtnClick(QObject *Sender);
    void EcTestTimerTimer();
    void ISTimerTimer();
    void PNFTimerTimer();

    // ---- maintenance and monitoring modes --------------------------------------
    void MaintBtnClick(QObject *Sender);
    void MonBtnClick(QObject *Sender);
    void DiagTimerTimer();
    void MonTimerTimer();
    void ShowMaintenanceValues();
    void ShowMonitorValues();
    void mChanSelectionChange(QObject *Sender);
    void monChanSelectionChange(QObject *Sender);

    // The memo lines of the active alarms and system faults.
    static QStringList AlarmFaultLines(const Z960Data::sStatus &status, const Z960Data::sConfig &config);

    int graphChannel = 0;

    // ---- controls (objectName = member name) -----------------------------------
    QToolButton *ISSB, *ECSB, *PNFSB, *MaintenanceSB, *MonitorSB;
    QButtonGroup *DiagSelectorGroup;
    QStackedWidget *DiagnosticPageControl;
    QWidget *ECTestTS, *ISTestTS, *PNFTestTS, *MaintenanceTS, *MonitorTS;

    QPushButton *EcTestBtn, *OpenMonDataFile, *ECChartClearBtn;
    TDiagChart *ECChart;
    QLineSeries *LineSeries1;
    QPlainTextEdit *ECMemo;
    QTimer *EcTestTimer;

    QPushButton *ISTestBtn, *Button2, *ISChartClearBtn;
    TDiagChart *ISChart;
    QLineSeries *Series1;
    QPlainTextEdit *ISMemo;
    QTimer *ISTimer;

    QPushButton *PNFTestBtn, *Button3, *PNFChartClearBtn;
    TDiagChart *PNFChart;
    QLineSeries *LineSeries2;
    QPlainTextEdit *PNFMemo;
    QTimer *PNFTimer;

    QPushButton *MaintBtn, *Button4, *mDiagChartClearBtn;
    TDiagChart *mDiagChart;
    QLineSeries *LineSeries3, *Series2;
    QListWidget *mChanSelection;
    QPlainTextEdit *mDiagMemo;
    QTimer *DiagTimer;
    QLineEdit *mFlowRateEB, *mFlowVelocityEB, *mMassFlowEB, *mBatteryVoltageEB, *mSolarVoltageEB,
        *mTemperatureEB, *mCoilVoltageEB, *mCoilCurrentEB, *mCoilResistanceEB, *mFlowVoltageEB, *mInpPlusEB,
        *mInpNegEB, *mNetTotalEB;

    QPushButton *MonBtn, *Button5, *monChartClearBtn;
    TDiagChart *monChart;
    QLineSeries *LineSeries4, *LineSeries5;
    QListWidget *monChanSelection;
    QPlainTextEdit *monDiagMemo;
    QTimer *MonTimer;
    QLineEdit *monFlowRateEB, *monFlowVelocityEB, *monMassFlowEB, *monBatteryVoltageEB, *monSolarVoltageEB,
        *monTemperatureEB, *monCoilVoltageEB, *monCoilCurrentEB, *monCoilResistanceEB, *monFlowVoltageEB,
        *monInpPlusEB, *monInpNegEB, *monPnfSignal, *monEcSignal, *monNetTotalEB;

private:
    enum class TestKind { EC, InputSignal, Pnf };
    struct SignalTest;
    struct ModePage;

    void buildSelectors();
    QWidget *buildTestSheet(SignalTest &test, const char *sheet, const char *sheetCaption, const char *button,
                            const char *openButton, const char *chart, const char *chartTitle,
                            const char *series, const char *memo, const char *clearButton, const char *timer);
    QWidget *buildModeSheet(ModePage &mode, bool monitoring);

    // Fails (null) once the window closes or has no link.
    Z960Port *live() const;
    bool closing() const;
    bool anyRunning() const;
    // After a page operation ends the window restores its navigation; while
    // a test or mode runs it stays disabled.
    void keepNavigationOff();
    void restartScheduler();

    void startTest(SignalTest &test);
    bool runTestStart(SignalTest &test, bool &answered);
    void tickTest(SignalTest &test);
    void testExchange(SignalTest &test);
    void stopTest(SignalTest &test);

    void startMode(ModePage &mode);
    bool runModeStart(ModePage &mode, bool &answered);
    void tickMode(ModePage &mode);
    bool modeExchange(ModePage &mode);
    void stopMode(ModePage &mode);
    void showModeValues(ModePage &mode);
    void channelChange(ModePage &mode);
    void selectSheet(QPlainTextEdit *memo, TDiagChart *chart, QWidget *sheet);
    void selectModeSheet(ModePage &mode, QWidget *sheet);

    DiagnosticsHost &host_;
    std::array<std::unique_ptr<SignalTest>, 3> tests_;
    std::array<std::unique_ptr<ModePage>, 2> modes_;
};
