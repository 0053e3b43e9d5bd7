// The main window: construction, the connection sequence, the start-up
// window kept beneath it, the notification-area icon and the teardown.
#include "console/TZ960InterfaceForm.h"

#include "console/ClockPage.h"
#include "console/CommissioningPage.h"
#include "console/DataFolders.h"
#include "console/DataPage.h"
#include "console/InfoPage.h"
#include "console/ProgramIcon.h"
#include "console/ProgramInfo.h"
#include "console/ProgramPictures.h"
#include "console/TDlProgForm.h"
#include "console/TVRStartupForm.h"
#include "link/Z960Port.h"
#include "platform/DeviceAccess.h"
#include "platform/Prompter.h"
#include "platform/SettingsFile.h"
#include "platform/WindowFrame.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QEventLoop>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QStackedWidget>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <stdexcept>

namespace {

constexpr int kClientWidth = 794;
constexpr int kClientHeight = 572;
constexpr int kStartupDelayMs = 100;
constexpr const char *kInitCaption = "Vantoro Initialisation";
constexpr const char *kConnectFailed =
    "Failed to establish reliable communication with the sensor. please check modbus address, power supply and "
    "cable connections";

QString baseCaption()
{
    return QString::fromUtf8(Console::CaptionPrefix) + QString::fromUtf8(Console::VersionText);
}

// The connection's failure message. When the port itself could not be
// opened, the serial component's reason follows as a paragraph of its own,
// with what would let the user open the device when they may not.
QString connectFailedText(const Z960Port &port)
{
    QString text = QLatin1String(kConnectFailed);
    if (port.openFailure.empty())
        return text;
    text += QLatin1String("\n\n") + QString::fromLocal8Bit(port.openFailure.c_str());
    const QString advice = port.openDenied ? Platform::deviceAccessAdvice(port.openDevice) : QString();
    if (!advice.isEmpty())
        text += QLatin1Char('\n') + advice;
    return text;
}

QWidget *page(QStackedWidget *stack, const char *name)
{
    auto *w = new QWidget(stack);
    w->setObjectName(QLatin1String(name));
    stack->addWidget(w);
    return w;
}

QWidget *tab(QTabWidget *tabs, const char *name, const char *caption)
{
    auto *w = new QWidget(tabs);
    w->setObjectName(QLatin1String(name));
    tabs->addTab(w, QLatin1String(caption));
    return w;
}

QTimer *timer(QObject *owner, const char *name, int intervalMs)
{
    auto *t = new QTimer(owner);
    t->setObjectName(QLatin1String(name));
    t->setInterval(intervalMs);
    return t;
}

} // namespace

// ---------------------------------------------------------------------------
// Handler and operation scopes

TZ960InterfaceForm::HandlerScope::HandlerScope(TZ960InterfaceForm &form) : form_(form) { ++form_.handlerDepth; }

TZ960InterfaceForm::HandlerScope::~HandlerScope()
{
    if (--form_.handlerDepth == 0 && form_.closing)
        form_.Teardown();
}

TZ960InterfaceForm::DeviceOperation::DeviceOperation(TZ960InterfaceForm &form) : form_(form), scope_(form)
{
    if (form_.deviceOps++ == 0)
        for (QToolButton *b : form_.navButtons())
            b->setEnabled(false);
}

TZ960InterfaceForm::DeviceOperation::~DeviceOperation()
{
    if (--form_.deviceOps == 0 && !form_.closing)
        form_.applyNavState();
}

// ---------------------------------------------------------------------------
// Construction

TZ960InterfaceForm::TZ960InterfaceForm(QWidget *Owner, TVRStartupForm *startupForm_,
                                       const std::string &comPortText_, uint16_t modbusAddress_)
    : QWidget(Owner, Qt::Window),
      comPortText(comPortText_), startupForm(nullptr), modbusAddress(modbusAddress_)
{
    generateReport = [](const ReportRequest &request) { RunMeterReport(request); };
    buildWindow();

    // Pages are chosen by the program only: no tabs are shown.
    PageControl->setCurrentWidget(Blank);

    LoadSettings();
    CreateDataRoot(); // "Cannot create data directory." ends the construction

    startupForm = startupForm_;
    SetClockPanel->setEnabled(false);
    SetClockPanel->setVisible(false);
    setWindowTitle(baseCaption());
    ApplyAccessLevel(0);
    csvLines = std::make_unique<QStringList>();
    ViewMonitorDataSB->setVisible(false);
    GenerateReportSB->setVisible(false);
    OpenDataFolderSB->setVisible(false);
    // Nothing shows these two again: the diagnostics and commissioning pages
    // are not reached from the window.
    CommisionSB->setEnabled(false);
    CommisionSB->setVisible(false);
    DiagnosticsSB->setEnabled(false);
    DiagnosticsSB->setVisible(false);
    reportNotes = std::make_unique<QStringList>();
    QCoreApplication::processEvents();

    startupTimer = new QTimer(this);
    startupTimer->setObjectName(QStringLiteral("startupTimer"));
    startupTimer->setSingleShot(true);
    startupTimer->setInterval(kStartupDelayMs);
    connect(startupTimer, &QTimer::timeout, this, [this] { Platform::guarded([this] { StartupTimerTimer(); }); });
    startupTimer->start();
}

TZ960InterfaceForm::~TZ960InterfaceForm()
{
    if (modalLoop)
        modalLoop->quit();
    closing = true;
    stopAllTimers();
    Teardown();
}

void TZ960InterfaceForm::buildWindow()
{
    setObjectName(QStringLiteral("Z960InterfaceForm"));
    Platform::setFrameStyle(*this, Platform::FrameStyle::SystemMenuMinimise);
    setWindowTitle(baseCaption());
    setFixedSize(kClientWidth, kClientHeight);

    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    buildTopPanel();
    outer->addWidget(TopPanel);

    auto *middle = new QHBoxLayout;
    middle->setContentsMargins(0, 0, 0, 0);
    middle->setSpacing(0);
    buildLeftPanel();
    middle->addWidget(LeftPanel);
    buildPages();
    middle->addWidget(PageControl, 1);
    outer->addLayout(middle, 1);

    buildBottomPanel();
    outer->addWidget(BottomPanel);
    buildTimers();
    buildTrayIcon();
}

void TZ960InterfaceForm::buildTopPanel()
{
    TopPanel = new QFrame(this);
    TopPanel->setObjectName(QStringLiteral("TopPanel"));
    TopPanel->setFrameShape(QFrame::StyledPanel);
    TopPanel->setFixedHeight(64);
    auto *row = new QHBoxLayout(TopPanel);
    row->setContentsMargins(8, 4, 8, 4);

    TopPanelImage = new QLabel(TopPanel);
    TopPanelImage->setObjectName(QStringLiteral("TopPanelImage"));
    TopPanelImage->setFixedSize(Console::pictureSize(Console::Picture::TopPanel));
    TopPanelImage->setPixmap(Console::picture(Console::Picture::TopPanel));
    row->addWidget(TopPanelImage);
    auto *product = new QLabel(QString::fromUtf8(Console::ProductName), TopPanel);
    QFont big = product->font();
    big.setPointSize(big.pointSize() + 6);
    big.setBold(true);
    product->setFont(big);
    row->addWidget(product);
    row->addStretch(1);

    auto clock = [&](QLabel *&caption, const char *captionName, const char *captionText, QLabel *&text,
                     const char *textName) {
        auto *column = new QVBoxLayout;
        caption = new QLabel(QLatin1String(captionText), TopPanel);
        caption->setObjectName(QLatin1String(captionName));
        caption->setAlignment(Qt::AlignCenter);
        text = new QLabel(TopPanel);
        text->setObjectName(QLatin1String(textName));
        text->setAlignment(Qt::AlignCenter);
        text->setFrameShape(QFrame::Panel);
        text->setFrameShadow(QFrame::Sunken);
        text->setMinimumWidth(170);
        column->addWidget(caption);
        column->addWidget(text);
        row->addLayout(column);
    };
    clock(TopPanelLbl3, "TopPanelLbl3", "Flowmeter Clock", TopPanelSensorClockTxt, "TopPanelSensorClockTxt");
    clock(TopPanelLbl4, "TopPanelLbl4", "PC Clock", TopPanelPcClockTxt, "TopPanelPcClockTxt");
}

void TZ960InterfaceForm::buildLeftPanel()
{
    LeftPanel = new QFrame(this);
    LeftPanel->setObjectName(QStringLiteral("LeftPanel"));
    LeftPanel->setFrameShape(QFrame::StyledPanel);
    LeftPanel->setFixedWidth(136);
    auto *column = new QVBoxLayout(LeftPanel);
    column->setContentsMargins(6, 8, 6, 8);
    column->setSpacing(4);

    NavGroup = new QButtonGroup(this);
    NavGroup->setObjectName(QStringLiteral("NavGroup"));
    NavGroup->setExclusive(true);
    struct ButtonRow {
        QToolButton **button;
        const char *name;
        const char *caption;
    };
    const ButtonRow rows[] = {
        {&StatusSB, "StatusSB", "Status"},
        {&DataSB, "DataSB", "Data"},
        {&ClockSB, "ClockSB", "Clock"},
        {&SetupSB, "SetupSB", "Setup"},
        {&DiagnosticsSB, "DiagnosticsSB", "Diagnostics"},
        {&CommisionSB, "CommisionSB", "Commisioning"},
        {&GenerateReportSB, "GenerateReportSB", "Generate Report"},
        {&OpenDataFolderSB, "OpenDataFolderSB", "Open Data Folder"},
        {&ViewMonitorDataSB, "ViewMonitorDataSB", "View Monitor Data"},
        {&LogginSB, "LogginSB", "Login"},
        {&LogoutSB, "LogoutSB", "Logout"},
    };
    for (const ButtonRow &r : rows) {
        auto *b = new QToolButton(LeftPanel);
        b->setObjectName(QLatin1String(r.name));
        b->setText(QLatin1String(r.caption));
        b->setCheckable(true);
        b->setToolButtonStyle(Qt::ToolButtonTextOnly);
        b->setFixedSize(122, 30);
        NavGroup->addButton(b);
        column->addWidget(b);
        *r.button = b;
    }
    column->addStretch(1);
    connect(NavGroup, &QButtonGroup::buttonClicked, this,
            [this](QAbstractButton *b) { Platform::guarded([this, b] { NavButtonClicked(b); }); });
}

void TZ960InterfaceForm::buildBottomPanel()
{
    BottomPanel = new QFrame(this);
    BottomPanel->setObjectName(QStringLiteral("BottomPanel"));
    BottomPanel->setFrameShape(QFrame::StyledPanel);
    BottomPanel->setFixedHeight(28);
    auto *row = new QHBoxLayout(BottomPanel);
    row->setContentsMargins(8, 2, 8, 2);

    StatusTxt = new QLabel(BottomPanel);
    StatusTxt->setObjectName(QStringLiteral("StatusTxt"));
    StatusTxt->setMinimumWidth(100);
    StatusTxt->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    row->addWidget(StatusTxt, 1);

    auto lamp = [&](QLabel *&label, const char *labelName, const char *caption, TLamp *&led, const char *ledName) {
        label = new QLabel(QLatin1String(caption), BottomPanel);
        label->setObjectName(QLatin1String(labelName));
        led = new TLamp(BottomPanel);
        led->setObjectName(QLatin1String(ledName));
        led->setFixedSize(16, 16);
        row->addWidget(label);
        row->addWidget(led);
    };
    lamp(RxLbl, "RxLbl", "Rx", RxLed, "RxLed");
    lamp(TxLbl, "TxLbl", "Tx", TxLed, "TxLed");
}

void TZ960InterfaceForm::buildPages()
{
    PageControl = new QStackedWidget(this);
    PageControl->setObjectName(QStringLiteral("PageControl"));
    Monitor = page(PageControl, "Monitor");
    Configuration = page(PageControl, "Configuration");
    Clock = page(PageControl, "Clock");
    Data = page(PageControl, "Data");
    Blank = page(PageControl, "Blank");
    Diagnostics = page(PageControl, "Diagnostics");
    Commision = page(PageControl, "Commision");

    auto *monitorLayout = new QVBoxLayout(Monitor);
    monitorLayout->setContentsMargins(6, 6, 6, 6);
    PageControl1 = new QTabWidget(Monitor);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    FlowTotalsSheet = tab(PageControl1, "FlowTotalsSheet", "Flow/Totals");
    DiagnosticsSheet = tab(PageControl1, "DiagnosticsSheet", "Diagnostics");
    Information = tab(PageControl1, "Information", "Information");
    monitorLayout->addWidget(PageControl1);
    buildStatusPage();

    dataPage = new DataPage(*this, Data);
    DlCheckBox = dataPage->DlCheckBox;
    clockPage = new ClockPage(*this, dataPage, Clock);
    SetClockPanel = clockPage->SetClockPanel;
    infoPage = new InfoPage(*this, Information);

    diagnosticsPage = new DiagnosticsPage(*this, Diagnostics);
    commissioningPage = new CommissioningPage(*this, Commision);
}

void TZ960InterfaceForm::buildTimers()
{
    StatusTimer = timer(this, "StatusTimer", 5000);
    ClockTimer = timer(this, "ClockTimer", 1000);
    LedTimer = timer(this, "LedTimer", 100);
    connect(StatusTimer, &QTimer::timeout, this, [this] { Platform::guarded([this] { StatusTimerTimer(); }); });
    connect(ClockTimer, &QTimer::timeout, this, [this] { Platform::guarded([this] { ClockTimerTimer(); }); });
    connect(LedTimer, &QTimer::timeout, this, [this] { LedTimerTimer(); });
    LedTimer->start();
}

void TZ960InterfaceForm::buildTrayIcon()
{
    TrayIcon1 = new QSystemTrayIcon(Console::ProgramIcon(), this);
    TrayIcon1->setObjectName(QStringLiteral("TrayIcon1"));
    TrayIcon1->setToolTip(QString::fromUtf8(Console::ProductName));
    connect(TrayIcon1, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
            TrayIcon1Click();
    });
    // Without a notification area (a bare or headless desktop) there is
    // nothing to show it in.
    if (QSystemTrayIcon::isSystemTrayAvailable())
        TrayIcon1->show();
}

// ---------------------------------------------------------------------------
// Settings and folders

void TZ960InterfaceForm::LoadSettings()
{
    namespace S = Platform::Settings;
    const Platform::IniFile file = S::open();
    DlCheckBox->setChecked(S::read(file, S::AutoOpenFile));
    customPath = S::read(file, S::CustomPath);
    pathOptionIndex = S::read(file, S::PathOptionIndex);
}

void TZ960InterfaceForm::SaveSettings()
{
    namespace S = Platform::Settings;
    Platform::IniFile file = S::open();
    S::write(file, S::AutoOpenFile, DlCheckBox->isChecked());
}

void TZ960InterfaceForm::CreateDataRoot()
{
    dataRoot = Console::CreateDataRoot(pathOptionIndex, customPath);
    dataDir = Console::DataFolderOf(dataRoot);
}

void TZ960InterfaceForm::CreateMeterDataDir()
{
    dataDir = Console::CreateMeterDataDir(dataRoot, port->calImage.meterID());
    MeterDataDirChanged();
}

void TZ960InterfaceForm::setMeterCaption()
{
    setWindowTitle(baseCaption() + QStringLiteral("  Flowmeter: ") + QString::number(port->calImage.meterID()));
}

// ---------------------------------------------------------------------------
// Modal run

int TZ960InterfaceForm::ShowModal()
{
    setWindowModality(Qt::ApplicationModal);
    // Frame on frame, as the start-up window is then centred beneath this
    // one: it stays where it was.
    if (parentWidget())
        Platform::centreOnFrame(*this, *parentWidget());
    show();
    if (!closing) {
        QEventLoop loop;
        modalLoop = &loop;
        loop.exec();
        modalLoop = nullptr;
    }
    hide();
    Teardown();
    return 0;
}

// ---------------------------------------------------------------------------
// Connection sequence

void TZ960InterfaceForm::StartupTimerTimer()
{
    if (!startupTimer)
        return; // runs once
    startupTimer->stop();
    startupTimer->deleteLater();
    startupTimer = nullptr;
    if (closing)
        return;

    DeviceOperation operation(*this);
    port = new Z960Port(this, modbusAddress);
    port->OnPortDebugEvent = [this](QObject *sender, std::string data) { PortFault(sender, data); };
    port->OnDownLoadEvent = [this](QObject *sender, int size, int downloaded, int temp) {
        PortFileProgress(sender, size, downloaded, temp);
    };
    port->OnRxEvent = [this](QObject *sender) { PortRxActivity(sender); };
    port->OnTxEvent = [this](QObject *sender) { PortTxActivity(sender); };

    progressDlg = new TDlProgForm(this, false);
    progressDlg->setWindowTitle(QLatin1String(kInitCaption));
    progressDlg->show();

    bool connected = runConnectionSteps();
    if (connected) {
        try {
            finishConnection();
        } catch (const std::exception &error) {
            // The meter folder could not be made: report it and end the connection.
            if (!closing)
                Platform::showMessage(QString::fromUtf8(error.what()), this);
            connected = false;
        }
    } else if (!closing) {
        Platform::showMessage(connectFailedText(*port), this);
    }
    delete progressDlg;
    progressDlg = nullptr;
    if (!connected && !closing)
        close();
}

bool TZ960InterfaceForm::runConnectionSteps()
{
    struct Step {
        int position;
        const char *text;
        bool (*call)(TZ960InterfaceForm &form);
    };
    static const Step steps[] = {
        {0, "Initialising Sensor Communications",
         [](TZ960InterfaceForm &f) {
             return f.port->OpenPort(f.comPortText, 9600) && !f.closing && f.port->sendNullCommand();
         }},
        {25, "Retrieving Configuration data", [](TZ960InterfaceForm &f) { return f.port->getStucture(5); }},
        {50, "Retrieving Calibration data", [](TZ960InterfaceForm &f) { return f.port->getStucture(4); }},
        {75, "Retrieving Basic Calibration data", [](TZ960InterfaceForm &f) { return f.port->getStucture(6); }},
        {90, "Retrieving Sensor Status", [](TZ960InterfaceForm &f) { return f.port->getStucture(0); }},
        {95, "Retrieving System data", [](TZ960InterfaceForm &f) { return f.port->getStucture(1); }},
    };
    for (const Step &step : steps) {
        progressDlg->SetProgress(kInitCaption, step.text, step.position);
        if (onProgress)
            onProgress(step.text, step.position);
        bool ok = false;
        try {
            ok = step.call(*this);
        } catch (const std::exception &) {
            ok = false; // a port text the link cannot take is a failed step like any other
        }
        if (!ok || closing)
            return false;
    }
    return true;
}

void TZ960InterfaceForm::finishConnection()
{
    BuildInformationTree();
    ShowStatusValues();
    progressDlg->SetProgress(kInitCaption, "Done", 100);
    if (onProgress)
        onProgress("Done", 100);
    setMeterCaption();
    CreateMeterDataDir();
    ClockTimer->start();
    PageControl->setCurrentWidget(Monitor);
    PageControl1->setCurrentWidget(FlowTotalsSheet);
    StatusSB->setChecked(true);
    StatusSBClick(StatusSB);
}

// ---------------------------------------------------------------------------
// Closing

void TZ960InterfaceForm::closeEvent(QCloseEvent *event)
{
    event->accept();
    if (!closing)
        FormClose();
    if (modalLoop)
        modalLoop->quit();
}

void TZ960InterfaceForm::FormClose()
{
    closing = true;
    statusPolling = false;
    stopAllTimers();
    TrayIcon1->hide();
    if (progressDlg)
        progressDlg->hide(); // the operation that made it frees it once it has ended
    // A settings file that cannot be written is reported; the close goes on.
    Platform::guarded([this] { SaveSettings(); });
    // Every wait of the link ends now. A write-back that has stopped the
    // meter's scheduler gets the time to restart it first, and stops the
    // link itself.
    if (port && writeBackRunning)
        port->windDown(kWriteBackCloseMs);
    else if (port)
        port->stop();
    if (handlerDepth == 0 && !modalLoop)
        Teardown();
}

void TZ960InterfaceForm::EndProgram()
{
    if (!closing)
        close();
    // The program ends: nothing is waited for any more. A write-back still
    // sends the restart of the meter's scheduler, without waiting for its reply.
    if (port && writeBackRunning)
        port->windDown(0);
    else if (port)
        port->stop();
}

void TZ960InterfaceForm::stopAllTimers()
{
    if (startupTimer)
        startupTimer->stop();
    for (QTimer *t : {StatusTimer, ClockTimer, LedTimer})
        t->stop();
    if (diagnosticsPage)
        diagnosticsPage->StopTimers();
}

// Frees the lists and the link once nothing of this window uses them.
void TZ960InterfaceForm::Teardown()
{
    if (tornDown || handlerDepth > 0)
        return;
    tornDown = true;
    reportNotes.reset();
    csvLines.reset();
    if (port) {
        port->stop();
        Z960Port *link = port;
        port = nullptr;
        link->release();
    }
}

// ---------------------------------------------------------------------------
// The start-up window beneath, and the notification-area icon

void TZ960InterfaceForm::moveEvent(QMoveEvent *event)
{
    QWidget::moveEvent(event);
    CentreStartupForm();
}

void TZ960InterfaceForm::CentreStartupForm()
{
    if (!isVisible() || !startupForm || !Platform::frameKnown(*this))
        return;
    const QRect theirs = startupForm->frameGeometry();
    const QPoint place = Platform::centredFrameOrigin(theirs.size(), frameGeometry());
    if (theirs.topLeft() == place)
        return;
    startupForm->move(place); // a window's position is its frame's
    startupForm->update();
}

void TZ960InterfaceForm::TrayIcon1Click()
{
    if (isVisible()) {
        hide();
        if (startupForm)
            startupForm->hide();
        return;
    }
    show();
    if (startupForm)
        startupForm->show();
    raise();
    activateWindow();
}
