// The main window's status page: its value fields, the poll every 5 s with
// the lost-link question, the status line and the activity lamps.
#include "console/MainWindowStatus.h"

#include "console/MonitorData.h"
#include "console/MonitorRecording.h"
#include "console/TZ960InterfaceForm.h"
#include "link/Z960Enums.h"
#include "link/Z960Port.h"
#include "platform/FormControls.h"
#include "platform/Prompter.h"

#include <QApplication>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QTimer>
#include <QVBoxLayout>

namespace Console {

QString FormatStatusValue(double value)
{
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    return locale.toString(value, 'f', 3);
}

QString StatusLineText(const Z960Data::sStatus &status, const Z960Data::sConfig &config)
{
    QString line;
    for (int k = 1; k <= 4; ++k) {
        const auto state = status.alarmState(k - 1);
        if (state.active() == 0)
            continue;
        const auto cause =
            Z960Data::enumText(Z960Data::EnumList::AlarmCause, config.alarm(k - 1).alarm_cause(), Z960Data::Place::StatusPage);
        line += QStringLiteral("Alarm") + QString::number(k) + QStringLiteral(" = ")
                + QString::fromStdString(cause.value_or(std::string())) + FormatStatusValue(state.value())
                + QStringLiteral("), ");
    }
    line += QString::fromStdString(Z960Data::systemFaultLine(status.systemFault(), Z960Data::Place::StatusPage));
    return line;
}

} // namespace Console

namespace {

using Form = TZ960InterfaceForm;
using Status = Z960Data::sStatus;

// One value of the page: its edit, its caption, its unit label and where the value comes from.
struct ValueRow {
    QLineEdit *Form::*edit;
    const char *editName;
    const char *caption;
    QLabel *Form::*unit; // nullptr: no unit label
    const char *unitName;
    const char *unitText;
    double (*value)(const Status &);
};

const ValueRow kFlowRows[] = {
    {&Form::FlowRateEB, "FlowRateEB", "Flow Rate", &Form::FlowRateUL, "FlowRateUL", "L/second",
     [](const Status &s) { return double(s.flowRate()); }},
    {&Form::FlowVelocityEB, "FlowVelocityEB", "Flow Velocity", &Form::FlowVelocityUL, "FlowVelocityUL", "m/second",
     [](const Status &s) { return double(s.flowVelocity()); }},
    {&Form::MassFlowEB, "MassFlowEB", "Mass Flow", &Form::MassFlowUL, "MassFlowUL", "Kg/second",
     [](const Status &s) { return double(s.massFlow()); }},
};

// The totals always read "KL", whatever totaliser unit the meter is set to.
const ValueRow kForwardTotalRows[] = {
    {&Form::ForwardTotalEB, "ForwardTotalEB", "Forward Total", &Form::ForwardTotalUL, "ForwardTotalUL", "KL",
     [](const Status &s) { return s.forwardTotal(); }},
    {&Form::PeakForwardTotalEB, "PeakForwardTotalEB", "Peak Forward Total", &Form::PeakForwardTotalUL,
     "PeakForwardTotalUL", "KL", [](const Status &s) { return s.peakForwardTotal(); }},
    {&Form::OffPeakForwardTotalEB, "OffPeakForwardTotalEB", "Off Peak Foward Total", &Form::OffPeakForwardTotalUL,
     "OffPeakForwardTotalUL", "KL", [](const Status &s) { return s.offPeakForwardTotal(); }},
    {&Form::YTDForwardTotalEB, "YTDForwardTotalEB", "YTD Forward Total", &Form::YTDForwardTotalUL,
     "YTDForwardTotalUL", "KL", [](const Status &s) { return s.ytdForwardTotal(); }},
};

// Shown only while the meter has reverse flow enabled.
const ValueRow kReverseTotalRows[] = {
    {&Form::NettTotalEB, "NettTotalEB", "Nett Total", &Form::NettTotalUL, "NettTotalUL", "KL",
     [](const Status &s) { return s.nettTotal(); }},
    {&Form::ReverseTotalEB, "ReverseTotalEB", "Reverse Total", &Form::ReverseTotalUL, "ReverseTotalUL", "KL",
     [](const Status &s) { return s.reverseTotal(); }},
    {&Form::PeakReverseTotalEB, "PeakReverseTotalEB", "Peak Reverse Total", &Form::PeakReverseTotalUL,
     "PeakReverseTotalUL", "KL", [](const Status &s) { return s.peakReverseTotal(); }},
    {&Form::OffPeakReverseTotalEB, "OffPeakReverseTotalEB", "Off Peak Reverse Total", &Form::OffPeakReverseTotalUL,
     "OffPeakReverseTotalUL", "KL", [](const Status &s) { return s.offPeakReverseTotal(); }},
    {&Form::YTDNettTotalEB, "YTDNettTotalEB", "YTD Nett Total", &Form::YTDNettTotalUL, "YTDNettTotalUL", "KL",
     [](const Status &s) { return s.ytdNettTotal(); }},
    {&Form::YTDReverseTotalEB, "YTDReverseTotalEB", "YTD Reverse Total", &Form::YTDReverseTotalUL,
     "YTDReverseTotalUL", "KL", [](const Status &s) { return s.ytdReverseTotal(); }},
};

const ValueRow kDiagnosticRows[] = {
    {&Form::BatteryVoltageEB, "BatteryVoltageEB", "Battery Voltage", nullptr, nullptr, nullptr,
     [](const Status &s) { return double(s.batteryVoltage()); }},
    {&Form::SolarVoltageEB, "SolarVoltageEB", "Solar Voltage", nullptr, nullptr, nullptr,
     [](const Status &s) { return double(s.solarVoltage()); }},
    {&Form::BatteryCurrentEB, "BatteryCurrentEB", "Battery Current", nullptr, nullptr, nullptr,
     [](const Status &s) { return double(s.batteryCurrent()); }},
    {&Form::TemperatureEB, "TemperatureEB", "Temperature", nullptr, nullptr, nullptr,
     [](const Status &s) { return double(s.temperature()); }},
    {&Form::CoilVoltageEB, "CoilVoltageEB", "Coil Voltage", nullptr, nullptr, nullptr,
     [](const Status &s) { return double(s.coilVoltage()); }},
    {&Form::CoilCurrentEB, "CoilCurrentEB", "Coil Current", nullptr, nullptr, nullptr,
     [](const Status &s) { return double(s.measuredCoilCurrent()); }},
    {&Form::CoilResistanceEB, "CoilResistanceEB", "Coil Resistance", nullptr, nullptr, nullptr,
     [](const Status &s) { return double(s.coilResistance()); }},
};

// The values of a monitor row, in their order: what the page shows, but
// written in the file's own number form, whatever the locale.
const ValueRow *const kMonitorRowValues[] = {
    &kFlowRows[0],         &kFlowRows[1],         &kFlowRows[2],         &kForwardTotalRows[0],
    &kForwardTotalRows[1], &kForwardTotalRows[2], &kDiagnosticRows[0],   &kDiagnosticRows[1],
    &kDiagnosticRows[3],   &kDiagnosticRows[4],   &kDiagnosticRows[5],   &kDiagnosticRows[6],
};

template <std::size_t N>
void addRows(Form &form, QWidget *parent, QGridLayout *grid, const ValueRow (&rows)[N], bool readOnly)
{
    for (const ValueRow &row : rows) {
        const int r = grid->rowCount();
        auto *caption = new QLabel(QLatin1String(row.caption), parent);
        auto *edit = new QLineEdit(parent);
        edit->setObjectName(QLatin1String(row.editName));
        edit->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        edit->setReadOnly(readOnly);
        edit->setFixedWidth(150);
        caption->setBuddy(edit);
        grid->addWidget(caption, r, 0);
        grid->addWidget(edit, r, 1);
        form.*row.edit = edit;
        if (row.unit) {
            auto *unit = new QLabel(parent);
            unit->setObjectName(QLatin1String(row.unitName));
            unit->setMinimumWidth(70);
            grid->addWidget(unit, r, 2);
            form.*row.unit = unit;
        }
    }
}

QGroupBox *group(QWidget *parent, const char *title, QGridLayout *&grid)
{
    auto *box = new QGroupBox(QLatin1String(title), parent);
    grid = new QGridLayout(box);
    grid->setColumnStretch(3, 1);
    return box;
}

template <std::size_t N>
void showRows(Form &form, const Status &status, const ValueRow (&rows)[N])
{
    for (const ValueRow &row : rows) {
        (form.*row.edit)->setText(Console::FormatStatusValue(row.value(status)));
        if (row.unit)
            (form.*row.unit)->setText(QLatin1String(row.unitText));
    }
}

template <std::size_t N>
void setRowsVisible(Form &form, const ValueRow (&rows)[N], bool visible)
{
    for (const ValueRow &row : rows) {
        (form.*row.edit)->setVisible(visible);
        (form.*row.unit)->setVisible(visible);
        // The caption goes with its edit.
        if (auto *caption = qobject_cast<QWidget *>((form.*row.edit)->parentWidget()))
            for (QLabel *label : caption->findChildren<QLabel *>())
                if (label->buddy() == form.*row.edit)
                    label->setVisible(visible);
    }
}

} // namespace

void TZ960InterfaceForm::buildStatusPage()
{
    auto *flowTotals = new QVBoxLayout(FlowTotalsSheet);
    QGridLayout *flowGrid = nullptr;
    QGroupBox *flow = group(FlowTotalsSheet, "FLOW", flowGrid);
    flow->setObjectName(QStringLiteral("FlowGB"));
    addRows(*this, flow, flowGrid, kFlowRows, true);
    flowTotals->addWidget(flow);
    QGridLayout *totalsGrid = nullptr;
    QGroupBox *totals = group(FlowTotalsSheet, "TOTALS", totalsGrid);
    totals->setObjectName(QStringLiteral("TotalsGB"));
    addRows(*this, totals, totalsGrid, kForwardTotalRows, true);
    addRows(*this, totals, totalsGrid, kReverseTotalRows, true);
    flowTotals->addWidget(totals);
    // The values and their units stand in one column under both headings.
    Platform::alignFirstColumns({flowGrid, totalsGrid});
    flowTotals->addStretch(1);

    auto *diagnostics = new QVBoxLayout(DiagnosticsSheet);
    auto *diagGrid = new QGridLayout;
    diagGrid->setColumnStretch(3, 1);
    addRows(*this, DiagnosticsSheet, diagGrid, kDiagnosticRows, false);
    diagnostics->addLayout(diagGrid);
    diagnostics->addStretch(1);
}

void TZ960InterfaceForm::ShowStatusValues()
{
    if (!port || closing)
        return;
    HandlerScope scope(*this);
    showRows(*this, port->statusImage, kFlowRows);
    showRows(*this, port->statusImage, kForwardTotalRows);
    pump();
    if (closing)
        return;
    if (port->configImage.enableReverseFlow() != 0) {
        showRows(*this, port->statusImage, kReverseTotalRows);
        setRowsVisible(*this, kReverseTotalRows, true);
    } else {
        setRowsVisible(*this, kReverseTotalRows, false);
    }
    pump();
    if (closing)
        return;
    showRows(*this, port->statusImage, kDiagnosticRows);
    // Taken with the texts just shown: the link may read the meter again
    // while messages are pumped.
    QStringList values;
    for (const ValueRow *row : kMonitorRowValues)
        values << Console::MonitorNumber(row->value(port->statusImage), 3);
    StatusTxt->setText(Console::StatusLineText(port->statusImage, port->configImage));
    pump();
    if (closing || !csvLines || !statusPolling)
        return;
    pump();
    const QString row = Console::MonitorRow(QDateTime::currentDateTime(), values);
    pump();
    if (closing || !csvLines)
        return;
    csvLines->append(row);
    pump();
}

void TZ960InterfaceForm::StatusTimerTimer()
{
    StatusTimer->stop();
    pump();
    if (closing || !port)
        return;
    if (deviceOps > 0) {
        // Another operation talks to the meter: the poll waits for the next tick.
        if (statusPolling)
            StatusTimer->start();
        return;
    }
    {
        HandlerScope scope(*this);
        pollStepRunning = true;
        pollStep();
        pollStepRunning = false;
        if (statusPolling && !closing)
            StatusTimer->start();
    }
    runPendingClick();
}

void TZ960InterfaceForm::pollStep()
{
    if (!statusPolling)
        return;
    if (!port->sendNullCommand()) {
        if (closing)
            return;
        // One outage asks once: a click taken meanwhile would only meet the
        // same silence and ask again.
        dropPendingClick();
        LostLinkQuestion(); // after Yes no device call follows: the step only unwinds
        return;
    }
    pump(2);
    if (closing || !statusPolling || !port->getStucture(0))
        return;
    pump();
    if (closing || !statusPolling || !port->getStucture(1))
        return;
    pump();
    if (!closing)
        ShowStatusValues();
}

void TZ960InterfaceForm::PortFault(QObject *, const std::string &Data)
{
    StatusTxt->setText(QString::fromStdString(Data));
}

void TZ960InterfaceForm::PortRxActivity(QObject *) { rxActivity = true; }
void TZ960InterfaceForm::PortTxActivity(QObject *) { txActivity = true; }

// Every 100 ms; a lamp is drawn only when its colour changes.
void TZ960InterfaceForm::LedTimerTimer()
{
    const QColor active(255, 0, 0);
    const QColor idle(0, 128, 0);
    RxLed->showColor(rxActivity ? active : idle);
    rxActivity = false;
    TxLed->showColor(txActivity ? active : idle);
    txActivity = false;
}
