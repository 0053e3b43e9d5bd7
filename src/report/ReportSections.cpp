#include "report/ReportSections.h"

#include "link/DeviceTime.h"
#include "link/Z960Enums.h"
#include "platform/FileNumbers.h"

#include <QByteArray>
#include <QDate>
#include <QLocale>
#include <QString>
#include <QTime>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>

namespace ReportSections {

using namespace Z960Data;

namespace {

std::string text(const QString &s) { return s.toLocal8Bit().toStdString(); }

std::string orNothing(const std::optional<std::string> &t) { return t ? *t : std::string(); }

std::string report(EnumList list, long value) { return orNothing(enumText(list, value, Place::Report)); }

std::string num(unsigned long v) { return std::to_string(v); }
std::string num(long v) { return std::to_string(v); }

DateTime::Fields fieldsOf(DateTime::TDateTime value)
{
    const auto f = DateTime::decode(value);
    return f ? *f : DateTime::Fields{};
}

QDate dateOf(const DateTime::Fields &f) { return QDate(f.year, f.month, f.day); }

// The locale's long time format without its time-zone part.
QString longTimeFormat()
{
    const QString format = QLocale().timeFormat(QLocale::LongFormat);
    QString out;
    bool quoted = false;
    for (const QChar c : format) {
        if (c == QLatin1Char('\''))
            quoted = !quoted;
        if (!quoted && c == QLatin1Char('t'))
            continue;
        out += c;
    }
    return out.trimmed();
}

std::string withUnit(const std::string &value, const char *unit) { return value + unit; }

} // namespace

// ---- line format ------------------------------------------------------------

std::string sectionLine(const std::string &caption, const std::string &separator, const std::string &value)
{
    return flagLine(caption) + separator + value;
}

std::string flagLine(const std::string &t)
{
    std::string line = t;
    if (line.size() < kCaptionWidth)
        line.append(kCaptionWidth - line.size(), ' ');
    return line;
}

std::pair<std::string, std::string> splitColumns(const std::string &line)
{
    const std::size_t p = line.find('=');
    if (p == std::string::npos)
        return {std::string(), line};
    return {line.substr(0, p), line.substr(p + 1)};
}

// ---- value formats -------------------------------------------------------------

namespace {

std::optional<std::string> nonFinite(double value)
{
    if (std::isnan(value))
        return std::string("NAN");
    if (std::isinf(value))
        return std::string(value > 0 ? "INF" : "-INF");
    return std::nullopt;
}

// A minus sign in front of a text of zeros says nothing: drop it.
void dropNegativeZero(QString &s)
{
    if (s.startsWith(QLatin1Char('-')) && s.mid(1).remove(QLatin1Char('0')).remove(QLatin1Char('.')).isEmpty())
        s.remove(0, 1);
}

} // namespace

std::string fixed(double value, int decimals)
{
    if (auto t = nonFinite(value))
        return *t;
    QString s = QString::number(value, 'f', decimals); // always "." whatever the locale
    dropNegativeZero(s);
    return text(s);
}

std::string decimal(float value)
{
    if (auto t = nonFinite(value))
        return *t;
    QString s = QString::number(static_cast<double>(value), 'f', 5);
    const int dot = s.indexOf(QLatin1Char('.'));
    int keep = s.size();
    while (keep > dot + 2 && s.at(keep - 1) == QLatin1Char('0'))
        --keep;
    s.truncate(keep);
    dropNegativeZero(s);
    return text(s);
}

std::string dateTimeText(DateTime::TDateTime value)
{
    const DateTime::Fields f = fieldsOf(value);
    const QLocale locale;
    QString s = locale.toString(dateOf(f), locale.dateFormat(QLocale::ShortFormat));
    if (f.hour != 0 || f.minute != 0 || f.second != 0 || f.msec != 0)
        s += QLatin1Char(' ') + locale.toString(QTime(f.hour, f.minute, f.second), longTimeFormat());
    return text(Platform::asciiDigits(s));
}

std::string timeText(DateTime::TDateTime value)
{
    const DateTime::Fields f = fieldsOf(value);
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", f.hour, f.minute, f.second);
    return buf;
}

std::string dayMonthText(DateTime::TDateTime value)
{
    return text(Platform::asciiDigits(QLocale().toString(dateOf(fieldsOf(value)), QStringLiteral("dd MMM"))));
}

std::string longDateText(DateTime::TDateTime value)
{
    return text(Platform::asciiDigits(QLocale().toString(dateOf(fieldsOf(value)), QStringLiteral("dd MMM yyyy"))));
}

// ---- Information and Totals ----------------------------------------------------------

Lines informationLines(const TechnicianEntries &e, DateTime::TDateTime now, const sCal &cal, const sConfig &config,
                       const sSystem &system, const std::string &sep)
{
    Lines lines;
    lines.push_back(sectionLine("Technician's Name", sep, e.technicianName));
    if (!e.validatorLicenseNumber.empty())
        lines.push_back(sectionLine("Validator License Number", sep, e.validatorLicenseNumber));
    lines.push_back(sectionLine("Site Name", sep, e.siteName));
    lines.push_back(sectionLine("Date", sep, dateTimeText(now)));
    lines.push_back(sectionLine("Meter ID", sep, num(static_cast<unsigned long>(cal.meterID()))));
    lines.push_back(sectionLine("Site ID", sep, num(static_cast<unsigned long>(config.SiteID()))));
    lines.push_back(sectionLine("Firmware Version", sep, firmwareVersionText(system)));
    lines.push_back(sectionLine("Flowmeter HW Serial Number", sep, serialNumberText(system)));
    return lines;
}

std::optional<Totals> decodeTotals(const unsigned char *reply, std::size_t length)
{
    constexpr std::size_t dataBytes = 2 * kTotalsRegisterCount;
    if (reply == nullptr || length < 1 + dataBytes || reply[0] < dataBytes)
        return std::nullopt;
    Totals totals{};
    for (int g = 0; g < kTotalsCount; ++g) {
        const unsigned char *p = reply + 1 + 8 * g; // four registers per total, the first two hold it
        const std::uint32_t bits = (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) |
                                   (std::uint32_t(p[2]) << 8) | std::uint32_t(p[3]);
        std::memcpy(&totals[g], &bits, sizeof bits);
    }
    return totals;
}

Lines totalsLines(const std::optional<Totals> &totals, const std::string &sep)
{
    static const char *const captions[kTotalsCount] = {
        "ForwardTotal",       "ReverseTotal",    "NettTotal",       "PeakForwardTotal", "OffPeakForwardTotal",
        "PeakReverseTotal",   "OffPeakReverseTotal", "ForwardYTDTotal", "ReverseYTDTotal", "NettYTDTotal"};
    Lines lines;
    if (!totals)
        return lines;
    for (int k = 0; k < kTotalsCount; ++k)
        lines.push_back(sectionLine(captions[k], sep, fixed((*totals)[k], 3)));
    return lines;
}

// ---- Diagnostics ---------------------------------------------------------------------

std::optional<std::uint16_t> decodeRegister(const unsigned char *reply, std::size_t length)
{
    if (reply == nullptr || length < 3 || reply[0] < 2)
        return std::nullopt;
    return static_cast<std::uint16_t>(reply[1] * 256 + reply[2]);
}

namespace {

// A measured value printed with two decimals and its unit.
struct MeasuredLine {
    const char *caption;
    float (sStatus::*field)() const;
    double scale;
    const char *unit;
};

const MeasuredLine kMeasured[] = {
    {"Flow Velocity", &sStatus::flowVelocity, 1, " m/s"},
    {"Flow Rate", &sStatus::flowRate, 1, " L/s"},
    {"Mass Flow", &sStatus::massFlow, 1, " Kg/s"},
    {"Flow Voltage", &sStatus::flowVoltage, 1, " mV"},
    {"Coil Voltage", &sStatus::coilVoltage, 1, " Volts"},
    {"Coil Current", &sStatus::measuredCoilCurrent, 1000, " mA"}, // amperes in the image
    {"Coil Resistance", &sStatus::coilResistance, 1, " Ohms"},
    {"Battery Voltage", &sStatus::batteryVoltage, 1, " Volts"},
    {"Solar Voltage", &sStatus::solarVoltage, 1, " Volts"},
    {"Temperature", &sStatus::temperature, 1, " Degrees C"},
};

void appendFlagLines(Lines &lines, const std::vector<std::string> &flags)
{
    for (const std::string &f : flags)
        lines.push_back(flagLine(f));
}

} // namespace

Lines diagnosticLines(const sStatus &status, const sSystem &system, const Uptime &uptime, const std::string &sep)
{
    Lines lines;
    lines.push_back(sectionLine("Number of Resets", sep, num(static_cast<unsigned long>(status.resetCount()))));
    lines.push_back(sectionLine("Simulation Mode", sep, report(EnumList::SimulationMode, system.simulationMode())));
    lines.push_back(sectionLine("Z960 Date/Time", sep, dateTimeText(encodeTDateTime(status.dateTime()))));
    lines.push_back(sectionLine("Last Powerup", sep, dateTimeText(encodeTDateTime(system.lastPowerUp()))));
    if (uptime.days)
        lines.push_back(sectionLine("Uptime days ", sep, num(static_cast<unsigned long>(*uptime.days)) + " days"));
    if (uptime.hours)
        lines.push_back(sectionLine("Uptime hours ", sep, num(static_cast<unsigned long>(*uptime.hours)) + " hours"));
    for (const MeasuredLine &m : kMeasured)
        lines.push_back(sectionLine(m.caption, sep, fixed(double((status.*m.field)()) * m.scale, 2) + m.unit));

    const std::uint16_t selfTest = system.selfTest();
    lines.push_back(sectionLine(selfTestPassed(selfTest) ? "Self test result" : "Self test result *****", sep,
                                selfTestReportValue(selfTest)));
    lines.push_back(sectionLine("System Fault", sep, num(static_cast<unsigned long>(status.systemFault()))));
    appendFlagLines(lines, systemFaultFlagLines(status.systemFault()));
    lines.push_back(sectionLine("Alarm Status", sep, num(static_cast<unsigned long>(status.alarmStatus()))));
    appendFlagLines(lines, alarmStatusFlagLines(status.alarmStatus()));

    lines.push_back(sectionLine("Gate Position", sep, num(static_cast<unsigned long>(status.gatePosition()))));
    lines.push_back(sectionLine("Gate", sep, status.gateOpen() != 0 ? "OPEN" : "CLOSED"));
    lines.push_back(sectionLine("Gate Closed Flow", sep, fixed(status.gateClosedFlow(), 2)));
    lines.push_back(sectionLine("PNF", sep, pnfText(status.pnfEcFlags())));
    lines.push_back(sectionLine("EC", sep, ecText(status.pnfEcFlags())));
    for (int slot = 0; slot < sSystem::optionCardCount; ++slot)
        lines.push_back(sectionLine("Option Card Slot " + num(long(slot)), sep,
                                    report(EnumList::OptionCard, system.optionCard(slot))));
    return lines;
}

// ---- Configuration -----------------------------------------------------------------

namespace {

struct ConfigRow {
    const char *caption;
    std::function<std::string(const sConfig &)> value;
};

template <class T> std::string unsignedText(T v) { return num(static_cast<unsigned long>(v)); }

const std::vector<ConfigRow> &configRows()
{
    static const std::vector<ConfigRow> rows = {
        {"Site ID", [](const sConfig &c) { return unsignedText(c.SiteID()); }},
        {"Flow Volume Units", [](const sConfig &c) { return report(EnumList::VolumeUnit, c.flowVolumeUnit()); }},
        {"Flow Volume Special Factor", [](const sConfig &c) { return decimal(c.flowVolumeSpecFact()); }},
        {"Flow Time Units", [](const sConfig &c) { return report(EnumList::TimeUnit, c.flowTimeUnit()); }},
        {"Flow Time Special Factor", [](const sConfig &c) { return decimal(c.flowTimeSpecFact()); }},
        {"Totaliser Units", [](const sConfig &c) { return report(EnumList::VolumeUnit, c.totaliserUnit()); }},
        {"Totaliser Special Factor", [](const sConfig &c) { return decimal(c.totaliserSpecFact()); }},
        {"Reverse Flow", [](const sConfig &c) { return switchText(c.enableReverseFlow()); }},
        {"Gate Control", [](const sConfig &c) { return switchText(c.gateControl()); }},
        {"Empty Pipe Detection", [](const sConfig &c) { return switchText(c.emptyPipeDetect()); }},
        {"PNF Threshold", [](const sConfig &c) { return decimal(c.pnfThreshold()); }},
        {"EC Threshold", [](const sConfig &c) { return decimal(c.ecThreshold()); }},
        {"Zero Flow Cutoff", [](const sConfig &c) { return withUnit(decimal(c.zeroFlowCutOff()), " mm/s"); }},
        {"Low Flow Cutoff", [](const sConfig &c) { return withUnit(decimal(c.lowFlowSetpoint()), " mm/s"); }},
        {"Simulation Value", [](const sConfig &c) { return withUnit(decimal(c.simulationVal()), " L/s"); }},
        {"Fail Safe Mode Low", [](const sConfig &c) { return failSafeReportText(c.failSafeModeLow()); }},
        {"Battery Alarm Level", [](const sConfig &c) { return withUnit(decimal(c.batteryAlarmLevel()), " Volts"); }},
        {"On Time", [](const sConfig &c) { return withUnit(unsignedText(c.onTime()), " seconds"); }},
        {"Off Time", [](const sConfig &c) { return withUnit(unsignedText(c.offTime()), " seconds"); }},
        {"Zero Flow Off Time", [](const sConfig &c) { return withUnit(unsignedText(c.zeroFlowOffTime()), " seconds"); }},
        {"Response Time", [](const sConfig &c) { return unsignedText(c.responseTime()); }},
        {"Low Power Mode", [](const sConfig &c) { return switchText(c.lowPowerMode()); }},
        {"Halt on Signal Errors", [](const sConfig &c) { return switchText(c.haltScanOnSignalError()); }},
        {"Logging Interval", [](const sConfig &c) { return withUnit(unsignedText(c.logPeriod()), " seconds"); }},
        {"Register Logging Interval",
         [](const sConfig &c) { return withUnit(unsignedText(c.registerLogInterval()), " seconds"); }},
        {"Scans between Diagnostic Log", [](const sConfig &c) { return unsignedText(c.scansPerDiag()); }},
        {"Offpeak Start Time", [](const sConfig &c) { return timeText(encodeTDateTime(c.offPeakStart())); }},
        {"Offpeak Stop Time", [](const sConfig &c) { return timeText(encodeTDateTime(c.offPeakStop())); }},
        {"EOY Latch Date", [](const sConfig &c) { return dayMonthText(encodeTDateTime(c.eoyLatchDate())); }},
        {"LCD Contrast", [](const sConfig &c) { return unsignedText(c.lcdContrast()); }},
        {"LCD Timeout", [](const sConfig &c) { return withUnit(unsignedText(c.lcdTimeOut()), " seconds"); }},
        {"Backlight Timeout", [](const sConfig &c) { return withUnit(unsignedText(c.backlightTimeOut()), " seconds"); }},
    };
    return rows;
}

const std::vector<ConfigRow> &serialRows()
{
    static const std::vector<ConfigRow> rows = {
        {"Serialport Protocol Mode", [](const sConfig &c) { return report(EnumList::SerialMode, c.serialMode()); }},
        {"Baud Rate", [](const sConfig &c) { return report(EnumList::BaudRate, c.baudRate()); }},
        {"Serial Port Format", [](const sConfig &) { return std::string(kSerialFormatReport); }},
        {"Modbus ID(address)", [](const sConfig &c) { return unsignedText(c.modbusId()); }},
        {"Modem On Duration", [](const sConfig &c) { return withUnit(unsignedText(c.modemOnDuration()), " Minutes"); }},
        {"Modem Interval Time", [](const sConfig &c) { return withUnit(unsignedText(c.modemInterval()), " Minutes"); }},
        {"Modem Window Enabled", [](const sConfig &c) { return timeText(encodeTDateTime(c.ModemWindowEnabled())); }},
        {"Modem Window Disabled", [](const sConfig &c) { return timeText(encodeTDateTime(c.ModemWindowDisabled())); }},
    };
    return rows;
}

void appendRows(Lines &lines, const std::vector<ConfigRow> &rows, const sConfig &c, const std::string &sep)
{
    for (const ConfigRow &r : rows)
        lines.push_back(sectionLine(r.caption, sep, r.value(c)));
}

std::string indexed(const char *name, int k, const char *rest = "")
{
    return std::string(name) + "[" + num(long(k)) + "]" + rest;
}

std::string alarmValue(sAlarmConfig::ConstRef a)
{
    if (a.alarm_cause() == 0)
        return "OFF";
    return report(EnumList::AlarmCause, a.alarm_cause()) + alarmLoggingText(a.recordOnAlarm());
}

void appendAnalogOutput(Lines &lines, int k, sAnalogOut::ConstRef a, const std::string &sep)
{
    if (a.mode() == 0) {
        lines.push_back(sectionLine(indexed("Analog Output", k), sep, "OFF"));
        return;
    }
    lines.push_back(sectionLine(indexed("Analog Output", k, " Mode"), sep, report(EnumList::AnalogOutMode, a.mode())));
    const std::string params = report(EnumList::AnalogOutChannel, a.channel()) + "4mA fact(" + decimal(a.zero()) +
                               "), " + "20mA fact(" + decimal(a.span()) + "), " + "Damping(" + decimal(a.damping()) +
                               "), " + "Alarm(" + decimal(a.limit()) + " mA)";
    lines.push_back(sectionLine(indexed("Analog Output", k, " Parameters"), sep, params));
}

std::string digitalOutputValue(sDigitalOut::ConstRef d)
{
    if (d.type() == 0)
        return "OFF";
    std::string v = report(EnumList::DigitalOutChannel, d.channel());
    switch (d.type()) {
    case 1:
        return v + report(EnumList::DigitalOutType, 1) + "Fullscale Frequency(" + num(long(d.frequency())) +
               " Hertz), ";
    case 2:
        return v + report(EnumList::DigitalOutType, 2) + "Pulse Scale(" + unsignedText(d.pulseScale()) + "), " +
               "Pulse Width(" + unsignedText(d.pulseWidth()) + " ms)";
    case 3: return v + report(EnumList::DigitalOutType, 3);
    default: return v;
    }
}

} // namespace

Lines configurationLines(const sConfig &config, const std::string &sep)
{
    Lines lines;
    appendRows(lines, configRows(), config, sep);
    for (int k = 0; k < sConfig::alarmCount; ++k)
        lines.push_back(sectionLine(indexed("Alarm", k), sep, alarmValue(config.alarm(k))));
    for (int k = 0; k < sConfig::analogOutCount; ++k)
        appendAnalogOutput(lines, k, config.analogOut(k), sep);
    for (int k = 0; k < sConfig::digitalOutCount; ++k)
        lines.push_back(sectionLine(indexed("Digital Output", k), sep, digitalOutputValue(config.digitalOut(k))));
    appendRows(lines, serialRows(), config, sep);
    return lines;
}

// ---- Calibration and HW Calibration -------------------------------------------------------

namespace {

std::string floatList(const sCal &cal, float (sCal::*element)(int) const, int n)
{
    std::string v;
    for (int i = 0; i < n; ++i) {
        if (i > 0)
            v += ", ";
        v += decimal((cal.*element)(i));
    }
    return v;
}

struct BasicCalRow {
    const char *caption;
    float (sBasicCal::*field)() const;
    const char *unit;
};

const BasicCalRow kBasicCalRows[] = {
    {"Coil Offset", &sBasicCal::coilZero, ""},
    {"Coil Span", &sBasicCal::coilSpan, ""},
    {"Coil Voltage Offset", &sBasicCal::coilVoltageZero, ""},
    {"Coil Voltage Span", &sBasicCal::coilVoltageSpan, ""},
    {"Coil Current Offset", &sBasicCal::coilCurrentZero, ""},
    {"Coil Current Span", &sBasicCal::coilCurrentSpan, ""},
    {"Battery Charge Voltage Offset", &sBasicCal::batVoltageZero, ""},
    {"Battery Charge Voltage Span", &sBasicCal::batVoltageSpan, ""},
    {"Battery Charge Current Offset", &sBasicCal::batChargeCurrentZero, ""},
    {"Battery Charge Current Span", &sBasicCal::batChargeCurrentSpan, ""},
    {"Solar Voltage Offset", &sBasicCal::solarVoltageZero, ""},
    {"Solar Voltage Span", &sBasicCal::solarVoltageSpan, ""},
    {"Temperature Offset", &sBasicCal::temperatureZero, ""},
    {"Temperature Span", &sBasicCal::temperatureSpan, ""},
    {"Battery Safety Limit", &sBasicCal::loBatterySafetyLimit, " Volts"},
    {"Low Battery System Alarm Level", &sBasicCal::loBatteryAlarmLevel, " Volts"},
};

std::string compensationValue(sCompensation::ConstRef c)
{
    std::string v = "Formula(" + num(long(c.formula())) + "), " + "Chan{" + "(" + num(long(c.chan(0))) + ")" + "(" +
                    num(long(c.chan(1))) + ")" + "}, " + "coeffs[";
    for (int i = 0; i < sCompensation::coeffsCount; ++i)
        v += "(" + decimal(c.coeffs(i)) + ")";
    return v + "]";
}

} // namespace

Lines calibrationLines(const sCal &cal, const std::string &sep)
{
    Lines lines;
    lines.push_back(sectionLine("Meter ID", sep, unsignedText(cal.meterID())));
    lines.push_back(sectionLine("Flow fullscale", sep, withUnit(decimal(cal.flowFullScale()), " L/s")));
    lines.push_back(sectionLine("Density", sep, decimal(cal.density())));
    lines.push_back(sectionLine("Z640K Factor", sep, decimal(cal.detectorType())));
    lines.push_back(sectionLine("Model replacing", sep, unsignedText(cal.modelReplacing())));
    lines.push_back(sectionLine("Pipe Diameter", sep, unsignedText(cal.pipeDiam())));
    lines.push_back(sectionLine("Pipe Size Units", sep, report(EnumList::PipeUnits, cal.pipeUnitsMetric())));
    lines.push_back(sectionLine("Coil Current", sep, withUnit(unsignedText(cal.coilCurrent()), " mA")));
    lines.push_back(sectionLine("Coil frequency", sep, withUnit(decimal(cal.coilFreq()), " Hertz")));
    lines.push_back(sectionLine("Filter Frequency", sep, report(EnumList::FilterFrequency, cal.filterNumber())));
    lines.push_back(sectionLine("Tube Select", sep, floatList(cal, &sCal::tubeSetSelect, sCal::tubeSetSelectCount)));
    lines.push_back(
        sectionLine("FlowTube Factors", sep, floatList(cal, &sCal::flowTubeFactor, sCal::flowTubeFactorCount)));
    lines.push_back(sectionLine("FlowTube Zero", sep, floatList(cal, &sCal::flowTubeZero, sCal::flowTubeZeroCount)));
    // The second "Tube Select" line carries the density three times.
    const std::string density = decimal(cal.density()) + ", ";
    lines.push_back(sectionLine("Tube Select", sep, density + density + density));
    for (int k = 0; k < sCal::zero4_20Count; ++k) {
        lines.push_back(sectionLine(indexed("4-20mA Offset", k), sep, decimal(cal.zero4_20(k))));
        lines.push_back(sectionLine(indexed("4-20mA Span", k), sep, decimal(cal.span4_20(k))));
    }
    lines.push_back(sectionLine("Calibration Date", sep, longDateText(encodeTDateTime(cal.calibrationDate()))));
    lines.push_back(sectionLine("Verification Date", sep, longDateText(encodeTDateTime(cal.verificationDate()))));
    return lines;
}

Lines basicCalibrationLines(const sBasicCal &basicCal, const std::string &sep)
{
    Lines lines;
    for (int i = 0; i < sBasicCal::compensationCount; ++i)
        lines.push_back(sectionLine(indexed("Compensation", i), sep, compensationValue(basicCal.compensation(i))));
    for (const BasicCalRow &r : kBasicCalRows)
        lines.push_back(sectionLine(r.caption, sep, decimal((basicCal.*r.field)()) + r.unit));
    return lines;
}

std::string reportTitle(const sCal &cal, const sBasicCal &basicCal)
{
    const char *model = basicCal.loBatterySafetyLimit() < 7.5f ? "Z720" : "Z960"; // NaN compares false: Z960
    return std::string(model) + " Report MeterID - " + unsignedText(cal.meterID());
}

// ---- the CSV file -------------------------------------------------------------------

Lines csvLines(const std::string &title, const Sections &s)
{
    const std::pair<const char *, const Lines *> blocks[] = {
        {"[Information]", &s.info},           {"[Totals]", &s.totals},
        {"[Diagnostics]", &s.diagnostics},    {"[Configuration]", &s.configuration},
        {"[Calibration]", &s.calibration},    {"[HW Calibration]", &s.basicCalibration},
        {"[Technician's Notes]", &s.notes},
    };
    Lines out{title};
    for (const auto &[heading, lines] : blocks) {
        if (lines == &s.notes && lines->empty())
            break;
        out.emplace_back();
        out.emplace_back(heading);
        out.insert(out.end(), lines->begin(), lines->end());
    }
    return out;
}

QByteArray csvBytes(const Lines &lines)
{
    QByteArray bytes;
    for (const std::string &l : lines) {
        bytes.append(l.data(), static_cast<qsizetype>(l.size()));
        bytes.append("\r\n");
    }
    return bytes;
}

} // namespace ReportSections
