#include "console/DiagnosticsPage.h"

#include "console/MonitorData.h"
#include "console/MonitorRecording.h"
#include "link/Z960Enums.h"
#include "link/Z960Port.h"
#include "platform/Prompter.h"

#include <QButtonGroup>
#include <QCoreApplication>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStackedWidget>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <QValueAxis>

#include <algorithm>
#include <cmath>
#include <exception>

namespace {

using Status = Z960Data::sStatus;

constexpr int kTickMs = 3000;

constexpr const char *kCalibrationQuestion =
    "This test puts the meter in CALIBRATION mode.\nDo NOT close the program while this test is in progress.\n"
    "Always check meter for correct operation after diagnostic testing\nDo you want to continue?";
constexpr const char *kMaintenanceQuestion =
    "This test puts the meter in MAINTENANCE mode.\nDo NOT close the program while this test is in progress.\n"
    "Always check meter for correct operation after diagnostic testing\nDo you want to continue?";
constexpr const char *kSeriousError =
    "A serious communications error has occured.\r\nPlease powercycle Z960 and restart this program";
constexpr const char *kMonitorFileFailed =
    "Unable to open/create Monitor data file. If file is in use please close it before trying again.";

// Meter states sent by the page.
constexpr unsigned char kSchedulerStopped = 0;
constexpr unsigned char kSchedulerRunning = 1;
constexpr unsigned char kCalibrationMode = 2;
constexpr unsigned char kMaintenanceState = 4;

void pump() { QCoreApplication::processEvents(); }

QString stateLine(unsigned char state)
{
    return QString::fromStdString(Z960Data::meterStateConfirmation(state).value_or(std::string()));
}

void addLine(QPlainTextEdit *memo, const QString &line) { memo->appendPlainText(line); }

// One value field of the two mode pages, in the order they are filled.
struct ValueField {
    const char *caption;
    const char *maintenanceName; // nullptr: the maintenance page has no such field
    const char *monitoringName;
    double (*value)(const Status &);
    int decimals;
};

const ValueField kValueFields[] = {
    {"Flow Rate", "mFlowRateEB", "monFlowRateEB", [](const Status &s) -> double { return s.flowRate(); }, 3},
    {"Flow Velocity", "mFlowVelocityEB", "monFlowVelocityEB", [](const Status &s) -> double { return s.flowVelocity(); }, 3},
    {"Mass Flow", "mMassFlowEB", "monMassFlowEB", [](const Status &s) -> double { return s.massFlow(); }, 3},
    {"Battery Voltage", "mBatteryVoltageEB", "monBatteryVoltageEB", [](const Status &s) -> double { return s.batteryVoltage(); }, 3},
    {"Solar Voltage", "mSolarVoltageEB", "monSolarVoltageEB", [](const Status &s) -> double { return s.solarVoltage(); }, 3},
    {"Temperature", "mTemperatureEB", "monTemperatureEB", [](const Status &s) -> double { return s.temperature(); }, 3},
    {"Coil Voltage", "mCoilVoltageEB", "monCoilVoltageEB", [](const Status &s) -> double { return s.coilVoltage(); }, 3},
    {"Coil Current", "mCoilCurrentEB", "monCoilCurrentEB", [](const Status &s) -> double { return s.measuredCoilCurrent(); }, 3},
    {"Coil Resistance", "mCoilResistanceEB", "monCoilResistanceEB", [](const Status &s) -> double { return s.coilResistance(); }, 3},
    {"Flow voltage", "mFlowVoltageEB", "monFlowVoltageEB", [](const Status &s) -> double { return s.flowVoltage(); }, 5},
    {"Inp+", "mInpPlusEB", "monInpPlusEB", [](const Status &s) -> double { return s.inpPos(); }, 5},
    {"Inp-", "mInpNegEB", "monInpNegEB", [](const Status &s) -> double { return s.inpNeg(); }, 5},
    {"Pnf", nullptr, "monPnfSignal", [](const Status &s) -> double { return s.pnfSignal(); }, 5},
    {"Ec", nullptr, "monEcSignal", [](const Status &s) -> double { return s.ecSignal(); }, 5},
    {"Net Total", "mNetTotalEB", "monNetTotalEB", [](const Status &s) -> double { return s.nettTotal(); }, 3},
};
constexpr int kValueFieldCount = static_cast<int>(std::size(kValueFields));
// The fields whose values start a mode's row, by index into kValueFields:
// net total, then flow rate to coil resistance.
constexpr int kRowFields[] = {14, 0, 1, 2, 3, 4, 5, 6, 7, 8};

// The items of both channel lists.
struct ChannelItem {
    const char *text;
    const char *title;
    int code; // -1: charted from a field of its own
};
const ChannelItem kChannelItems[] = {
    {"FLOW VELOCITY", "Flow velocity - m/s", 0},   {"FLOW RATE", "Flow rate - L/s", 1},
    {"MASS FLOW", "Mass flow - Kg/s", 2},          {"COIL CURRENT", "Coil current - Amps", 14},
    {"BATTERY VOLTS", "Battery voltage - Volts", 15}, {"SOLAR VOLTS", "Solar voltage - Volts", 17},
    {"TEMPERATURE", "Temperature - Degrees C", 18}, {"FLOW VOLTAGE", "Flow voltage - mVolts", -1},
    {"INP SIGNALS", "Inp signals - mVolts", -1},
};
constexpr int kFlowVoltageItem = 7;
constexpr int kInpSignalsItem = 8;

QPushButton *pushButton(QWidget *parent, const char *name, const char *caption)
{
    auto *b = new QPushButton(QLatin1String(caption), parent);
    b->setObjectName(QLatin1String(name));
    return b;
}

QPlainTextEdit *memoBox(QWidget *parent, const char *name)
{
    auto *m = new QPlainTextEdit(parent);
    m->setObjectName(QLatin1String(name));
    m->setLineWrapMode(QPlainTextEdit::NoWrap);
    m->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    return m;
}

QTimer *tickTimer(QObject *parent, const char *name)
{
    auto *t = new QTimer(parent);
    t->setObjectName(QLatin1String(name));
    t->setInterval(kTickMs);
    return t;
}

// Enables a button again when a handler ends, however it ends.
class ButtonBack {
public:
    explicit ButtonBack(QPushButton *button) : button_(button) { button_->setEnabled(false); }
    ~ButtonBack() { button_->setEnabled(true); }
    ButtonBack(const ButtonBack &) = delete;
    ButtonBack &operator=(const ButtonBack &) = delete;

private:
    QPushButton *button_;
};

} // namespace

void Console::FillParent(QWidget *page, QWidget *parent)
{
    if (parent == nullptr)
        return;
    if (parent->layout() == nullptr)
        new QVBoxLayout(parent);
    parent->layout()->addWidget(page);
}

// ---------------------------------------------------------------------------
// Chart

TDiagChart::TDiagChart(const char *name, const QString &title, std::vector<const char *> seriesNames,
                       QWidget *parent)
    : QChartView(parent), axisX_(new QValueAxis), axisY_(new QValueAxis)
{
    setObjectName(QLatin1String(name));
    auto *c = new QChart;
    c->legend()->hide();
    c->setTitle(title);
    c->addAxis(axisX_, Qt::AlignBottom);
    c->addAxis(axisY_, Qt::AlignLeft);
    axisX_->setLabelFormat(QStringLiteral("%d"));
    axisY_->setLabelFormat(QStringLiteral("%.4f"));
    const QColor colours[] = {QColor(255, 0, 0), QColor(0, 0, 160)};
    for (std::size_t i = 0; i < seriesNames.size(); ++i) {
        auto *s = new QLineSeries(c);
        s->setObjectName(QLatin1String(seriesNames[i]));
        s->setColor(colours[std::min<std::size_t>(i, 1)]);
        s->setPointsVisible(true);
        s->setMarkerSize(5);
        c->addSeries(s);
        s->attachAxis(axisX_);
        s->attachAxis(axisY_);
        series_.push_back(s);
    }
    setChart(c);
    setRenderHint(QPainter::Antialiasing);
    setMinimumHeight(220);
    fitAxes();
}

void TDiagChart::addPoint(int seriesIndex, double value)
{
    QLineSeries *s = series(seriesIndex);
    s->append(s->count(), value);
    fitAxes();
}

void TDiagChart::clearSeries()
{
    for (QLineSeries *s : series_)
        s->clear();
    fitAxes();
}

QString TDiagChart::title() const { return chart()->title(); }

void TDiagChart::setTitle(const QString &title) { chart()->setTitle(title); }

void TDiagChart::fitAxes()
{
    int points = 0;
    double low = 0.0, high = 0.0;
    bool any = false;
    for (const QLineSeries *s : series_) {
        points = std::max(points, static_cast<int>(s->count()));
        for (const QPointF &p : s->points()) {
            if (!std::isfinite(p.y()))
                continue;
            low = any ? std::min(low, p.y()) : p.y();
            high = any ? std::max(high, p.y()) : p.y();
            any = true;
        }
    }
    axisX_->setRange(0, std::max(points - 1, 1));
    const double pad = std::max((high - low) * 0.05, std::max(std::abs(high) * 0.01, 1e-4));
    axisY_->setRange(low - pad, high + pad);
}

// ---------------------------------------------------------------------------
// The tests' and modes' descriptions

struct DiagnosticsPage::SignalTest {
    TestKind kind;
    const char *idle;
    const char *running;
    const char *question;
    const char *header;
    int decimals;
    bool (Z960Port::*read)(float *);
    QPushButton *button = nullptr;
    QPushButton *openButton = nullptr;
    QPushButton *clearButton = nullptr;
    TDiagChart *chart = nullptr;
    QPlainTextEdit *memo = nullptr;
    QTimer *timer = nullptr;

    bool isRunning() const { return button->text() == QLatin1String(running); }
};

struct DiagnosticsPage::ModePage {
    bool monitoring;
    const char *idle;
    const char *running;
    QPushButton *button = nullptr;
    QPushButton *openButton = nullptr;
    QPushButton *clearButton = nullptr;
    TDiagChart *chart = nullptr;
    QListWidget *channels = nullptr;
    QPlainTextEdit *memo = nullptr;
    QTimer *timer = nullptr;
    std::array<QLineEdit *, kValueFieldCount> fields{};

    bool isRunning() const { return button->text() == QLatin1String(running); }
};

// ---------------------------------------------------------------------------
// Construction

DiagnosticsPage::DiagnosticsPage(DiagnosticsHost &host, QWidget *parent) : QWidget(parent), host_(host)
{
    setObjectName(QStringLiteral("DiagnosticsPage"));
    tests_[0].reset(new SignalTest{TestKind::EC, "Start EC Test", "Stop EC Test", kCalibrationQuestion,
                                   Console::EcMonitorHeader, 3, &Z960Port::readECSignal});
    tests_[1].reset(new SignalTest{TestKind::InputSignal, "Start Input Signal Test", "Stop Input Signal Test",
                                   kMaintenanceQuestion, Console::InputSignalMonitorHeader, 5,
                                   &Z960Port::readInputSignal});
    tests_[2].reset(new SignalTest{TestKind::Pnf, "Start PNF Test", "Stop PNF Test", kCalibrationQuestion,
                                   Console::PnfMonitorHeader, 3, &Z960Port::readPNFSignal});
    modes_[0].reset(new ModePage{false, "Start Maintenance", "Stop Maintenance"});
    modes_[1].reset(new ModePage{true, "Start Monitoring", "Stop Monitoring"});

    auto *layout = new QVBoxLayout(this);
    buildSelectors();
    auto *selectorRow = new QHBoxLayout;
    for (QToolButton *b : {ISSB, ECSB, PNFSB, MaintenanceSB, MonitorSB})
        selectorRow->addWidget(b);
    selectorRow->addStretch(1);
    layout->addLayout(selectorRow);

    DiagnosticPageControl = new QStackedWidget(this);
    DiagnosticPageControl->setObjectName(QStringLiteral("DiagnosticPageControl"));
    layout->addWidget(DiagnosticPageControl, 1);

    ECTestTS = buildTestSheet(*tests_[0], "ECTestTS", "EC Test", "EcTestBtn", "OpenMonDataFile", "ECChart",
                              "Electrical Conductivity", "LineSeries1", "ECMemo", "ECChartClearBtn", "EcTestTimer");
    ISTestTS = buildTestSheet(*tests_[1], "ISTestTS", "Input Signal", "ISTestBtn", "Button2", "ISChart",
                              "Input Signal", "Series1", "ISMemo", "ISChartClearBtn", "ISTimer");
    PNFTestTS = buildTestSheet(*tests_[2], "PNFTestTS", "PNFTestTS", "PNFTestBtn", "Button3", "PNFChart",
                               "PNF differential", "LineSeries2", "PNFMemo", "PNFChartClearBtn", "PNFTimer");
    MaintenanceTS = buildModeSheet(*modes_[0], false);
    MonitorTS = buildModeSheet(*modes_[1], true);

    const SignalTest &ec = *tests_[0], &is = *tests_[1], &pnf = *tests_[2];
    EcTestBtn = ec.button, OpenMonDataFile = ec.openButton, ECChartClearBtn = ec.clearButton;
    ECChart = ec.chart, LineSeries1 = ec.chart->series(0), ECMemo = ec.memo, EcTestTimer = ec.timer;
    ISTestBtn = is.button, Button2 = is.openButton, ISChartClearBtn = is.clearButton;
    ISChart = is.chart, Series1 = is.chart->series(0), ISMemo = is.memo, ISTimer = is.timer;
    PNFTestBtn = pnf.button, Button3 = pnf.openButton, PNFChartClearBtn = pnf.clearButton;
    PNFChart = pnf.chart, LineSeries2 = pnf.chart->series(0), PNFMemo = pnf.memo, PNFTimer = pnf.timer;

    const ModePage &m = *modes_[0], &mon = *modes_[1];
    MaintBtn = m.button, Button4 = m.openButton, mDiagChartClearBtn = m.clearButton, mDiagChart = m.chart;
    LineSeries3 = m.chart->series(0), Series2 = m.chart->series(1), mChanSelection = m.channels;
    mDiagMemo = m.memo, DiagTimer = m.timer;
    MonBtn = mon.button, Button5 = mon.openButton, monChartClearBtn = mon.clearButton, monChart = mon.chart;
    LineSeries4 = mon.chart->series(0), LineSeries5 = mon.chart->series(1), monChanSelection = mon.channels;
    monDiagMemo = mon.memo, MonTimer = mon.timer;
    QLineEdit **maintenanceFields[] = {&mFlowRateEB, &mFlowVelocityEB, &mMassFlowEB, &mBatteryVoltageEB,
                                       &mSolarVoltageEB, &mTemperatureEB, &mCoilVoltageEB, &mCoilCurrentEB,
                                       &mCoilResistanceEB, &mFlowVoltageEB, &mInpPlusEB, &mInpNegEB,
                                       nullptr, nullptr, &mNetTotalEB};
    QLineEdit **monitoringFields[] = {&monFlowRateEB, &monFlowVelocityEB, &monMassFlowEB, &monBatteryVoltageEB,
                                      &monSolarVoltageEB, &monTemperatureEB, &monCoilVoltageEB,
                                      &monCoilCurrentEB, &monCoilResistanceEB, &monFlowVoltageEB,
                                      &monInpPlusEB, &monInpNegEB, &monPnfSignal, &monEcSignal, &monNetTotalEB};
    static_assert(std::size(maintenanceFields) == kValueFieldCount && std::size(monitoringFields) == kValueFieldCount);
    for (int i = 0; i < kValueFieldCount; ++i) {
        if (maintenanceFields[i] != nullptr)
            *maintenanceFields[i] = m.fields[i];
        *monitoringFields[i] = mon.fields[i];
    }

    Console::FillParent(this, parent);
    // The tabs stay hidden: only the selectors change the sheet.
    DiagnosticPageControl->setCurrentWidget(ISTestTS);
    ISSB->setChecked(true);
}

DiagnosticsPage::~DiagnosticsPage()
{
    // The handlers refer to the descriptions, which go before the child controls.
    StopTimers();
    for (QObject *child : findChildren<QObject *>())
        QObject::disconnect(child, nullptr, this, nullptr);
}

void DiagnosticsPage::buildSelectors()
{
    DiagSelectorGroup = new QButtonGroup(this);
    DiagSelectorGroup->setExclusive(true);
    const auto selector = [this](QToolButton *&b, const char *name, const char *caption) {
        b = new QToolButton(this);
        b->setObjectName(QLatin1String(name));
        b->setText(QLatin1String(caption));
        b->setCheckable(true);
        b->setAutoRaise(false);
        b->setMinimumWidth(90);
        DiagSelectorGroup->addButton(b);
        connect(b, &QToolButton::clicked, this, [this, b] { ECSBClick(b); });
    };
    selector(ISSB, "ISSB", "Input Signal");
    selector(ECSB, "ECSB", "EC");
    selector(PNFSB, "PNFSB", " PNF");
    selector(MaintenanceSB, "MaintenanceSB", "Maintenance");
    selector(MonitorSB, "MonitorSB", "Monitor");
}

QWidget *DiagnosticsPage::buildTestSheet(SignalTest &test, const char *sheet, const char *sheetCaption,
                                         const char *button, const char *openButton, const char *chart,
                                         const char *chartTitle, const char *series, const char *memo,
                                         const char *clearButton, const char *timer)
{
    auto *page = new QWidget(DiagnosticPageControl);
    page->setObjectName(QLatin1String(sheet));
    page->setWindowTitle(QLatin1String(sheetCaption));
    DiagnosticPageControl->addWidget(page);

    test.button = pushButton(page, button, test.idle);
    test.button->setMinimumWidth(170);
    test.openButton = pushButton(page, openButton, "Open Monitor Data");
    test.clearButton = pushButton(page, clearButton, "Clear Graph");
    test.chart = new TDiagChart(chart, QLatin1String(chartTitle), {series}, page);
    test.memo = memoBox(page, memo);
    test.memo->setMaximumWidth(180);
    test.timer = tickTimer(this, timer);

    auto *grid = new QGridLayout(page);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(test.button);
    buttons->addWidget(test.openButton);
    buttons->addStretch(1);
    buttons->addWidget(test.clearButton);
    grid->addLayout(buttons, 0, 0, 1, 2);
    grid->addWidget(test.chart, 1, 0);
    grid->addWidget(test.memo, 1, 1);
    grid->setColumnStretch(0, 1);

    SignalTest *t = &test;
    connect(test.button, &QPushButton::clicked, this, [this, t] { startTest(*t); });
    connect(test.openButton, &QPushButton::clicked, this, [this, t] { OpenMonDataFileClick(t->openButton); });
    connect(test.clearButton, &QPushButton::clicked, this, [this, t] { PNFChartClearBtnClick(t->clearButton); });
    connect(test.timer, &QTimer::timeout, this, [this, t] { tickTest(*t); });
    return page;
}

QWidget *DiagnosticsPage::buildModeSheet(ModePage &mode, bool monitoring)
{
    auto *page = new QWidget(DiagnosticPageControl);
    page->setObjectName(QLatin1String(monitoring ? "MonitorTS" : "MaintenanceTS"));
    page->setWindowTitle(QLatin1String(monitoring ? "Monitor" : "Maintenance"));
    DiagnosticPageControl->addWidget(page);

    mode.button = pushButton(page, monitoring ? "MonBtn" : "MaintBtn", mode.idle);
    mode.button->setMinimumWidth(150);
    mode.openButton = pushButton(page, monitoring ? "Button5" : "Button4", "Open Monitor Data");
    mode.clearButton = pushButton(page, monitoring ? "monChartClearBtn" : "mDiagChartClearBtn", "Clear Graph");
    mode.chart = new TDiagChart(monitoring ? "monChart" : "mDiagChart", QStringLiteral("Flow Rate"),
                                monitoring ? std::vector<const char *>{"LineSeries4", "LineSeries5"}
                                           : std::vector<const char *>{"LineSeries3", "Series2"},
                                page);
    mode.memo = memoBox(page, monitoring ? "monDiagMemo" : "mDiagMemo");
    mode.memo->setMaximumHeight(90);
    mode.timer = tickTimer(this, monitoring ? "MonTimer" : "DiagTimer");

    auto *channelBox = new QGroupBox(QStringLiteral("Graph channel"), page);
    channelBox->setObjectName(QLatin1String(monitoring ? "monChanGB" : "mChanGB"));
    auto *channelLayout = new QVBoxLayout(channelBox);
    mode.channels = new QListWidget(channelBox);
    mode.channels->setObjectName(QLatin1String(monitoring ? "monChanSelection" : "mChanSelection"));
    for (const ChannelItem &item : kChannelItems)
        mode.channels->addItem(QLatin1String(item.text));
    mode.channels->setFixedWidth(150);
    channelLayout->addWidget(mode.channels);

    auto *values = new QGroupBox(page);
    auto *valueGrid = new QGridLayout(values);
    int row = 0;
    for (int i = 0; i < kValueFieldCount; ++i) {
        const ValueField &f = kValueFields[i];
        const char *name = monitoring ? f.monitoringName : f.maintenanceName;
        if (name == nullptr)
            continue;
        auto *edit = new QLineEdit(values);
        edit->setObjectName(QLatin1String(name));
        edit->setReadOnly(true);
        edit->setFixedWidth(110);
        auto *label = new QLabel(QLatin1String(f.caption), values);
        label->setBuddy(edit);
        valueGrid->addWidget(label, row % 8, (row / 8) * 2);
        valueGrid->addWidget(edit, row % 8, (row / 8) * 2 + 1);
        mode.fields[static_cast<std::size_t>(i)] = edit;
        ++row;
    }

    auto *grid = new QGridLayout(page);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(mode.button);
    buttons->addWidget(mode.openButton);
    buttons->addStretch(1);
    buttons->addWidget(mode.clearButton);
    grid->addLayout(buttons, 0, 0, 1, 3);
    grid->addWidget(values, 1, 0, 1, 2);
    grid->addWidget(mode.memo, 1, 2);
    grid->addWidget(mode.chart, 2, 0, 1, 2);
    grid->addWidget(channelBox, 2, 2);
    grid->setColumnStretch(1, 1);
    grid->setRowStretch(2, 1);

    ModePage *md = &mode;
    connect(mode.button, &QPushButton::clicked, this, [this, md] { startMode(*md); });
    connect(mode.openButton, &QPushButton::clicked, this, [this, md] { OpenMonDataFileClick(md->openButton); });
    connect(mode.clearButton, &QPushButton::clicked, this, [this, md] { PNFChartClearBtnClick(md->clearButton); });
    connect(mode.timer, &QTimer::timeout, this, [this, md] { tickMode(*md); });
    connect(mode.channels, &QListWidget::currentRowChanged, this, [this, md] { channelChange(*md); });
    return page;
}

// ---------------------------------------------------------------------------
// Page frame

Z960Port *DiagnosticsPage::live() const { return host_.closingDown() ? nullptr : host_.link(); }

bool DiagnosticsPage::closing() const { return host_.closingDown(); }

bool DiagnosticsPage::anyRunning() const
{
    return std::any_of(tests_.begin(), tests_.end(), [](const auto &t) { return t->isRunning(); }) ||
           std::any_of(modes_.begin(), modes_.end(), [](const auto &m) { return m->isRunning(); });
}

void DiagnosticsPage::keepNavigationOff()
{
    if (!closing() && anyRunning())
        host_.EnableNavButtons(false);
}

void DiagnosticsPage::StopTimers()
{
    for (const auto &t : tests_)
        if (t && t->timer)
            t->timer->stop();
    for (const auto &m : modes_)
        if (m && m->timer)
            m->timer->stop();
}

// After a refused start: the meter's scheduler back on; only a refusal of
// that too is told.
void DiagnosticsPage::restartScheduler()
{
    Platform::guarded([this] {
        Z960Port *p = live();
        if (p != nullptr && !p->setState(kSchedulerRunning) && !closing())
            Platform::showMessage(QLatin1String(kSeriousError), this);
    });
}

void DiagnosticsPage::DisableDiagSelectors()
{
    for (QToolButton *b : {ECSB, ISSB, PNFSB, MonitorSB, MaintenanceSB})
        b->setEnabled(false);
}

void DiagnosticsPage::EnableDiagSelectors()
{
    for (QToolButton *b : {ECSB, ISSB, PNFSB, MonitorSB, MaintenanceSB})
        b->setEnabled(true);
}

void DiagnosticsPage::selectSheet(QPlainTextEdit *memo, TDiagChart *chart, QWidget *sheet)
{
    memo->clear();
    chart->clearSeries();
    DiagnosticPageControl->setCurrentWidget(sheet);
}

void DiagnosticsPage::selectModeSheet(ModePage &mode, QWidget *sheet)
{
    {
        const QSignalBlocker quiet(mode.channels);
        mode.channels->setCurrentRow(0);
    }
    channelChange(mode);
    selectSheet(mode.memo, mode.chart, sheet);
}

void DiagnosticsPage::ECSBClick(QObject *Sender)
{
    const QString name = Sender != nullptr ? Sender->objectName() : QString();
    if (name == QLatin1String("ECSB"))
        selectSheet(ECMemo, ECChart, ECTestTS);
    else if (name == QLatin1String("ISSB"))
        selectSheet(ISMemo, ISChart, ISTestTS);
    else if (name == QLatin1String("PNFSB"))
        selectSheet(PNFMemo, PNFChart, PNFTestTS);
    else if (name == QLatin1String("MaintenanceSB"))
        selectModeSheet(*modes_[0], MaintenanceTS);
    else if (name == QLatin1String("MonitorSB"))
        selectModeSheet(*modes_[1], MonitorTS);
}

void DiagnosticsPage::PNFChartClearBtnClick(QObject *Sender)
{
    const QString name = Sender != nullptr ? Sender->objectName() : QString();
    for (TDiagChart *chart : {ECChart, ISChart, PNFChart, mDiagChart, monChart})
        if (name == chart->objectName() + QLatin1String("ClearBtn"))
            chart->clearSeries();
}

void DiagnosticsPage::OpenMonDataFileClick(QObject *)
{
    QString error;
    if (!Console::SaveAndOpenMonitorData(host_.monitorRecording(), host_.monitorDataRoot(), &error, this))
        Platform::showMessage(QLatin1String(kMonitorFileFailed) + QLatin1Char('\n') + error, this);
}

// ---------------------------------------------------------------------------
// Tests

void DiagnosticsPage::EcTestBtnClick(QObject *) { startTest(*tests_[0]); }
void DiagnosticsPage::ISTestBtnClick(QObject *) { startTest(*tests_[1]); }
void DiagnosticsPage::PNFTestBtnClick(QObject *) { startTest(*tests_[2]); }
void DiagnosticsPage::EcTestTimerTimer() { tickTest(*tests_[0]); }
void DiagnosticsPage::ISTimerTimer() { tickTest(*tests_[1]); }
void DiagnosticsPage::PNFTimerTimer() { tickTest(*tests_[2]); }

void DiagnosticsPage::startTest(SignalTest &test)
{
    {
        ButtonBack back(test.button);
        if (test.button->text() != QLatin1String(test.idle)) {
            test.button->setText(QLatin1String(test.idle)); // the next tick stops the test
            return;
        }
        PageOperation op(host_);
        if (!op)
            return;
        if (Platform::messageDlg(QLatin1String(test.question), Platform::MsgIcon::Warning,
                                 Platform::MsgButtons::YesNo, this) != Platform::MsgResult::Yes)
            return;
        test.button->setText(QLatin1String(test.running));
        host_.EnableNavButtons(false);
        DisableDiagSelectors();
        bool answered = false;
        bool started = false;
        try {
            started = runTestStart(test, answered);
        } catch (...) {
            Platform::handleException(std::current_exception());
        }
        if (closing())
            return;
        if (!started) {
            // A refused state change may have left the scheduler stopped.
            if (answered)
                restartScheduler();
            if (closing())
                return;
            test.button->setText(QLatin1String(test.idle));
            EnableDiagSelectors();
            Platform::guarded([this] { host_.EnableNavButtons(true); });
        }
    }
    keepNavigationOff();
}

// Ping and state changes; true once the timer runs. answered: the meter answered the ping.
bool DiagnosticsPage::runTestStart(SignalTest &test, bool &answered)
{
    Z960Port *p = live();
    if (p == nullptr || !p->sendNullCommand() || closing())
        return false;
    answered = true;
    if (test.kind == TestKind::InputSignal) {
        if (!p->setState(kMaintenanceState) || closing())
            return false;
        addLine(test.memo, stateLine(kMaintenanceState));
    } else {
        if (test.kind == TestKind::Pnf) {
            p->DelayTicks(5);
            if (closing())
                return false;
        }
        if (!p->setState(kSchedulerStopped) || closing())
            return false;
        addLine(test.memo, stateLine(kSchedulerStopped));
        if (!p->setState(kCalibrationMode) || closing())
            return false;
        addLine(test.memo, stateLine(kCalibrationMode));
        if (!p->setState(kCalibrationMode) || closing())
            return false;
    }
    Console::StartMonitorRecording(host_.monitorRecording(), test.header);
    test.timer->start();
    return true;
}

void DiagnosticsPage::tickTest(SignalTest &test)
{
    test.timer->stop();
    if (closing())
        return;
    {
        PageOperation op(host_);
        if (!op) {
            // Another operation of the window talks to the meter: the next
            // tick reads, or performs the stop that was asked for.
            test.timer->start();
            return;
        }
        // A thrown link error counts as a failed exchange.
        Platform::guarded([&] { testExchange(test); });
        if (closing())
            return;
        if (test.isRunning())
            test.timer->start();
        else
            stopTest(test);
    }
    keepNavigationOff();
}

void DiagnosticsPage::testExchange(SignalTest &test)
{
    Z960Port *p = live();
    if (p == nullptr || !p->sendNullCommand() || closing())
        return;
    p->DelayTicks(5);
    if (closing())
        return;
    float value = 0.0f;
    const bool read = (p->*test.read)(&value);
    if (closing())
        return;
    if (read) {
        test.chart->addPoint(0, value);
        addLine(test.memo, Console::DisplayNumber(value, test.decimals));
        Console::AppendMonitorRow(host_.monitorRecording(), {Console::MonitorNumber(value, test.decimals)});
    }
    if (test.kind != TestKind::InputSignal)
        return;
    // Keeps the meter in maintenance mode should it have left it.
    if (!p->getStucture(Z960Data::SYSTEM) || closing())
        return;
    pump();
    if (!closing() && p->systemImage.maintenanceMode() == 0 && test.isRunning())
        p->setState(kMaintenanceState);
}

void DiagnosticsPage::stopTest(SignalTest &test)
{
    test.button->setEnabled(false);
    Platform::guarded([&] {
        Z960Port *p = live();
        if (p == nullptr || !p->sendNullCommand() || closing())
            return;
        if (test.kind == TestKind::Pnf) {
            p->DelayTicks(5);
            if (closing())
                return;
        }
        const bool restarted = p->setState(kSchedulerRunning);
        if (!closing())
            addLine(test.memo, restarted ? stateLine(kSchedulerRunning) : QStringLiteral("FAILED to start Scheduler"));
    });
    if (closing())
        return;
    Platform::guarded([this] { host_.EnableNavButtons(true); });
    test.button->setEnabled(true);
    EnableDiagSelectors();
}

// ---------------------------------------------------------------------------
// Maintenance and monitoring modes

void DiagnosticsPage::MaintBtnClick(QObject *) { startMode(*modes_[0]); }
void DiagnosticsPage::MonBtnClick(QObject *) { startMode(*modes_[1]); }
void DiagnosticsPage::DiagTimerTimer() { tickMode(*modes_[0]); }
void DiagnosticsPage::MonTimerTimer() { tickMode(*modes_[1]); }
void DiagnosticsPage::ShowMaintenanceValues() { showModeValues(*modes_[0]); }
void DiagnosticsPage::ShowMonitorValues() { showModeValues(*modes_[1]); }
void DiagnosticsPage::mChanSelectionChange(QObject *) { channelChange(*modes_[0]); }
void DiagnosticsPage::monChanSelectionChange(QObject *) { channelChange(*modes_[1]); }

void DiagnosticsPage::startMode(ModePage &mode)
{
    {
        ButtonBack back(mode.button);
        if (mode.button->text() != QLatin1String(mode.idle)) {
            mode.button->setText(QLatin1String(mode.idle));
            return;
        }
        PageOperation op(host_);
        if (!op)
            return;
        if (!mode.monitoring &&
            Platform::messageDlg(QLatin1String(kMaintenanceQuestion), Platform::MsgIcon::Warning,
                                 Platform::MsgButtons::YesNo, this) != Platform::MsgResult::Yes)
            return;
        mode.button->setText(QLatin1String(mode.running));
        host_.EnableNavButtons(false);
        DisableDiagSelectors();
        bool answered = false;
        bool started = false;
        try {
            started = runModeStart(mode, answered);
        } catch (...) {
            Platform::handleException(std::current_exception());
        }
        if (closing())
            return;
        if (!started) {
            if (!mode.monitoring && answered)
                restartScheduler();
            if (closing())
                return;
            mode.button->setText(QLatin1String(mode.idle));
            EnableDiagSelectors();
            Platform::guarded([this] { host_.EnableNavButtons(true); });
        }
    }
    keepNavigationOff();
}

bool DiagnosticsPage::runModeStart(ModePage &mode, bool &answered)
{
    Z960Port *p = live();
    if (p == nullptr || !p->sendNullCommand() || closing())
        return false;
    answered = true;
    pump();
    if (closing())
        return false;
    p->DelayTicks(5);
    if (closing())
        return false;
    if (mode.monitoring) {
        pump();
    } else {
        if (!p->setState(kMaintenanceState) || closing())
            return false;
        pump();
    }
    if (closing())
        return false;
    Console::StartMonitorRecording(host_.monitorRecording(), mode.monitoring ? Console::MonitoringMonitorHeader
                                                                             : Console::MaintenanceMonitorHeader);
    mode.timer->start();
    return true;
}

void DiagnosticsPage::tickMode(ModePage &mode)
{
    mode.timer->stop();
    pump();
    if (closing())
        return;
    {
        PageOperation op(host_);
        if (!op) {
            mode.timer->start(); // as a refused test tick
            return;
        }
        bool goOn = true;
        if (mode.isRunning())
            Platform::guarded([&] { goOn = modeExchange(mode); });
        if (!goOn || closing())
            return; // the technician closed the connection
        if (mode.isRunning())
            mode.timer->start();
        else
            stopMode(mode);
    }
    keepNavigationOff();
}

// One tick's exchange; false when the technician chose to close the connection.
bool DiagnosticsPage::modeExchange(ModePage &mode)
{
    Z960Port *p = live();
    if (p == nullptr)
        return true;
    if (!p->sendNullCommand()) {
        if (closing())
            return false;
        return !host_.LostLinkQuestion();
    }
    if (closing())
        return false;
    p->DelayTicks(5);
    pump();
    if (closing())
        return false;
    // The caption is looked at again before each read: a stop click skips the rest.
    if (mode.isRunning() && p->getStucture(Z960Data::STATUS) && !closing()) {
        p->DelayTicks(5);
        if (!closing() && mode.isRunning() && p->getStucture(Z960Data::SYSTEM) && !closing()) {
            pump();
            if (!closing())
                showModeValues(mode);
        }
    }
    if (closing())
        return false;
    if (!mode.monitoring && p->systemImage.maintenanceMode() == 0 && mode.isRunning())
        p->setState(kMaintenanceState);
    return !closing();
}

void DiagnosticsPage::stopMode(ModePage &mode)
{
    mode.button->setEnabled(false);
    if (!mode.monitoring)
        Platform::guarded([this] {
            Z960Port *p = live();
            if (p != nullptr && p->sendNullCommand() && !closing())
                p->setState(kSchedulerRunning);
        });
    if (closing())
        return;
    Platform::guarded([this] { host_.EnableNavButtons(true); });
    mode.button->setEnabled(true);
    EnableDiagSelectors();
}

void DiagnosticsPage::showModeValues(ModePage &mode)
{
    const Z960Port *p = host_.link();
    if (p == nullptr)
        return;
    const Status &status = p->statusImage;
    for (int i = 0; i < kValueFieldCount; ++i)
        if (QLineEdit *edit = mode.fields[static_cast<std::size_t>(i)])
            edit->setText(Console::DisplayNumber(kValueFields[i].value(status), kValueFields[i].decimals));

    const int item = mode.channels->currentRow();
    if (item >= 0 && item < kFlowVoltageItem) {
        if (const auto value = Z960Data::channelValue(status, graphChannel))
            mode.chart->addPoint(0, *value);
    } else if (item == kFlowVoltageItem) {
        mode.chart->addPoint(0, status.flowVoltage());
    } else if (item == kInpSignalsItem) {
        mode.chart->addPoint(0, status.inpPos());
        mode.chart->addPoint(1, status.inpNeg());
    }
    pump();
    if (closing())
        return;

    mode.memo->setPlainText(AlarmFaultLines(status, p->configImage).join(QLatin1Char('\n')));
    pump();
    if (closing() || host_.monitorRecording() == nullptr || !mode.isRunning())
        return;
    // The row holds the values the fields show, in the file's own number form.
    QStringList values;
    for (int index : kRowFields)
        values << Console::MonitorNumber(kValueFields[index].value(status), kValueFields[index].decimals);
    values << Console::MonitorNumber(status.flowVoltage(), 5) << Console::MonitorNumber(status.inpPos(), 5)
           << Console::MonitorNumber(status.inpNeg(), 5) << QString::number(status.systemFault());
    if (mode.monitoring)
        values << QString::number(status.pnfEcFlags()) << Console::MonitorNumber(status.pnfSignal(), 5)
               << Console::MonitorNumber(status.ecSignal(), 5);
    Console::AppendMonitorRow(host_.monitorRecording(), values);
    pump();
}

QStringList DiagnosticsPage::AlarmFaultLines(const Status &status, const Z960Data::sConfig &config)
{
    QStringList lines;
    for (int k = 0; k < 4; ++k) {
        const auto state = status.alarmState(k);
        if (state.active() == 0)
            continue;
        const auto cause = Z960Data::enumText(Z960Data::EnumList::AlarmCause, config.alarm(k).alarm_cause(),
                                              Z960Data::Place::Maintenance);
        lines << QStringLiteral("Alarm") + QString::number(k + 1) + QStringLiteral(" = ") +
                     QString::fromStdString(cause.value_or(std::string())) + Console::DisplayNumber(state.value(), 3) +
                     QStringLiteral("), ");
    }
    if (status.systemFault() != 0)
        lines << QString::fromStdString(Z960Data::systemFaultLine(status.systemFault(), Z960Data::Place::Maintenance));
    return lines;
}

void DiagnosticsPage::channelChange(ModePage &mode)
{
    mode.chart->clearSeries();
    mode.chart->setTitle(QString());
    const int item = mode.channels->currentRow();
    if (item < 0 || item >= static_cast<int>(std::size(kChannelItems)))
        return;
    mode.chart->setTitle(QLatin1String(kChannelItems[item].title));
    if (kChannelItems[item].code >= 0)
        graphChannel = kChannelItems[item].code;
}
