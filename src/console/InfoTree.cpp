#include "console/InfoTree.h"

#include "link/DeviceTime.h"
#include "link/Z960Enums.h"

#include <cmath>
#include <string>

namespace InfoTree {

using namespace Z960Data;
using DateTime::TDateTime;

namespace {

// What one value function sees.
struct Context {
    const Images &im;
    const QLocale &locale;
};

using ValueFn = QString (*)(const Context &, int k);

struct Row {
    const char *caption;
    bool numbered;  // k follows the caption ("Alarm" + k + " Cause")
    const char *suffix; // caption text after k
    ValueFn value;
    const char *unit;
};

struct GroupDef {
    const char *caption;
    int repeat; // rows repeated for k = 0 .. repeat-1
    std::vector<Row> rows;
};

QString text8(const std::string &s) { return QString::fromLatin1(s.data(), static_cast<int>(s.size())); }

QString u32(std::uint32_t v) { return QString::number(v); }
QString i32(std::int32_t v) { return QString::number(v); }
QString u16(std::uint16_t v) { return QString::number(v); }
QString i16(std::int16_t v) { return QString::number(v); }
QString sw(long v) { return text8(switchText(v)); }
QString en(EnumList list, long v) { return text8(enumText(list, v, Place::InformationTree).value_or(std::string())); }

// The first separator after a field letter in a locale's format ("HH:mm" -> ':').
QChar separatorOf(const QString &format, QChar fallback)
{
    bool afterLetter = false;
    bool quoted = false;
    for (const QChar c : format) {
        if (c == QLatin1Char('\'')) {
            quoted = !quoted;
            continue;
        }
        if (quoted)
            continue;
        if (c.isLetter()) {
            afterLetter = true;
            continue;
        }
        if (afterLetter && !c.isSpace())
            return c;
        afterLetter = false;
    }
    return fallback;
}

DateTime::Fields fieldsOf(TDateTime value)
{
    return DateTime::decode(value).value_or(DateTime::Fields{});
}

QString two(int v) { return QStringLiteral("%1").arg(v, 2, 10, QLatin1Char('0')); }

QString tm(const Context &c, const Timestamp &t) { return formatTime(encodeTDateTime(t), c.locale); }
QString dm(const Context &c, const Timestamp &t) { return formatDayMonth(encodeTDateTime(t), c.locale); }
QString fl(const Context &c, double v) { return formatFloat(v, c.locale); }

// clang-format off
const std::vector<GroupDef> &groups()
{
    static const std::vector<GroupDef> table = {
        {"General Information", 1, {
            {"Firmware Version", false, "", [](const Context &c, int) { return text8(firmwareVersionText(c.im.system)); }, ""},
            {"Flowmeter Serial Number", false, "", [](const Context &c, int) { return text8(serialNumberText(c.im.system)); }, ""},
            {"Meter ID", false, "", [](const Context &c, int) { return i32(static_cast<std::int32_t>(c.im.cal.meterID())); }, ""},
            {"Site ID", false, "", [](const Context &c, int) { return u32(c.im.config.SiteID()); }, ""},
            {"Number of Resets", false, "", [](const Context &c, int) { return u16(c.im.status.resetCount()); }, ""},
        }},
        {"Flow Settings", 1, {
            {"Simulation Mode", false, "", [](const Context &c, int) { return en(EnumList::SimulationMode, c.im.system.simulationMode()); }, ""},
            {"Simulation Value", false, "", [](const Context &c, int) { return fl(c, c.im.config.simulationVal()); }, "l/s"},
            {"Reverse Flow", false, "", [](const Context &c, int) { return sw(c.im.config.enableReverseFlow()); }, ""},
            {"Gate Control", false, "", [](const Context &c, int) { return sw(c.im.config.gateControl()); }, ""},
            {"Empty Pipe Detection", false, "", [](const Context &c, int) { return sw(c.im.config.emptyPipeDetect()); }, ""},
            {"PNF Threshold", false, "", [](const Context &c, int) { return fl(c, c.im.config.pnfThreshold()); }, ""},
            {"EC Threshold", false, "", [](const Context &c, int) { return fl(c, c.im.config.ecThreshold()); }, ""},
            {"Zero Flow Cutoff", false, "", [](const Context &c, int) { return fl(c, c.im.config.zeroFlowCutOff()); }, ""},
            {"Low Flow Cutoff", false, "", [](const Context &c, int) { return fl(c, c.im.config.lowFlowSetpoint()); }, ""},
            {"Response Time", false, "", [](const Context &c, int) { return u16(c.im.config.responseTime()); }, ""},
            {"Filter Frequency", false, "", [](const Context &c, int) { return en(EnumList::FilterFrequency, c.im.cal.filterNumber()); }, ""},
        }},
        {"Pipe Information", 1, {
            {"Pipe Diameter", false, "", [](const Context &c, int) { return u16(c.im.cal.pipeDiam()); }, ""},
            {"Pipe Size Units", false, "", [](const Context &c, int) { return en(EnumList::PipeUnits, c.im.cal.pipeUnitsMetric()); }, ""},
        }},
        {"Coil Information", 1, {
            {"Coil Current", false, "", [](const Context &c, int) { return u16(c.im.cal.coilCurrent()); }, " mA"},
            {"Coil frequency", false, "", [](const Context &c, int) { return fl(c, c.im.cal.coilFreq()); }, " Hertz"},
        }},
        {"Scan Settings", 1, {
            {"On Time", false, "", [](const Context &c, int) { return u16(c.im.config.onTime()); }, " seconds"},
            {"Off Time", false, "", [](const Context &c, int) { return u16(c.im.config.offTime()); }, " seconds"},
            {"Zero Flow Off Time", false, "", [](const Context &c, int) { return u16(c.im.config.zeroFlowOffTime()); }, " seconds"},
            {"Low Power Mode", false, "", [](const Context &c, int) { return sw(c.im.config.lowPowerMode()); }, ""},
            {"Halt on Signal Errors", false, "", [](const Context &c, int) { return sw(c.im.config.haltScanOnSignalError()); }, ""},
        }},
        {"Log Settings", 1, {
            {"Logging Interval", false, "", [](const Context &c, int) { return u16(c.im.config.logPeriod()); }, " seconds"},
            {"Register Logging Interval", false, "", [](const Context &c, int) { return u16(c.im.config.registerLogInterval()); }, " seconds"},
            {"Scans between Diagnostic Log", false, "", [](const Context &c, int) { return u16(c.im.config.scansPerDiag()); }, ""},
            {"Offpeak Start Time", false, "", [](const Context &c, int) { return tm(c, c.im.config.offPeakStart()); }, ""},
            {"Offpeak Stop Time", false, "", [](const Context &c, int) { return tm(c, c.im.config.offPeakStop()); }, ""},
            {"EOY Latch Date", false, "", [](const Context &c, int) { return dm(c, c.im.config.eoyLatchDate()); }, ""},
        }},
        {"LCD Settings", 1, {
            {"LCD Contrast", false, "", [](const Context &c, int) { return u16(c.im.config.lcdContrast()); }, ""},
            {"LCD Timeout", false, "", [](const Context &c, int) { return u16(c.im.config.lcdTimeOut()); }, " seconds"},
            {"Backlight Timeout", false, "", [](const Context &c, int) { return u16(c.im.config.backlightTimeOut()); }, " seconds"},
        }},
        {"Alarms", sConfig::alarmCount, {
            {"Alarm", true, " Cause", [](const Context &c, int k) { return en(EnumList::AlarmCause, c.im.config.alarm(k).alarm_cause()); }, ""},
            {"Alarm", true, " Record", [](const Context &c, int k) { return sw(c.im.config.alarm(k).recordOnAlarm()); }, ""},
        }},
        {"Analog Outputs", sConfig::analogOutCount, {
            {"Analog Output Channel ", true, "", [](const Context &c, int k) { return en(EnumList::AnalogOutMode, c.im.config.analogOut(k).mode()); }, ""},
            {"Analog Input Channel ", true, "", [](const Context &c, int k) { return en(EnumList::AnalogOutChannel, c.im.config.analogOut(k).channel()); }, ""},
            {"Factor 4mA", false, "", [](const Context &c, int k) { return fl(c, c.im.config.analogOut(k).zero()); }, ""},
            {"Factor 20mA", false, "", [](const Context &c, int k) { return fl(c, c.im.config.analogOut(k).span()); }, ""},
            {"Damping", false, "", [](const Context &c, int k) { return fl(c, c.im.config.analogOut(k).damping()); }, ""},
            {"Alarm Limit", false, "", [](const Context &c, int k) { return fl(c, c.im.config.analogOut(k).limit()); }, " mA"},
        }},
        {"Digital Outputs", sConfig::digitalOutCount, {
            {"DO Type", true, "", [](const Context &c, int k) { return en(EnumList::DigitalOutType, c.im.config.digitalOut(k).type()); }, ""},
            {"DO Input Channel ", true, "", [](const Context &c, int k) { return en(EnumList::DigitalOutChannel, c.im.config.digitalOut(k).channel()); }, ""},
            {"DO Frequency Set", false, "", [](const Context &c, int k) { return i16(c.im.config.digitalOut(k).frequency()); }, " Hertz"},
            {"DO Pulse Scale", false, "", [](const Context &c, int k) { return u16(c.im.config.digitalOut(k).pulseScale()); }, ""},
            {"DO Pulse Width", false, "", [](const Context &c, int k) { return u16(c.im.config.digitalOut(k).pulseWidth()); }, " milliseconds"},
        }},
        {"Modem Settings", 1, {
            {"Modem On Duration", false, "", [](const Context &c, int) { return u16(c.im.config.modemOnDuration()); }, " Minutes"},
            {"Modem Interval Time", false, "", [](const Context &c, int) { return u16(c.im.config.modemInterval()); }, " Minutes"},
            {"Modem Window Enabled", false, "", [](const Context &c, int) { return tm(c, c.im.config.ModemWindowEnabled()); }, ""},
            {"Modem Window Disabled", false, "", [](const Context &c, int) { return tm(c, c.im.config.ModemWindowDisabled()); }, ""},
        }},
        {"Display Units", 1, {
            {"Flow Volume", false, "", [](const Context &c, int) { return en(EnumList::VolumeUnit, c.im.config.flowVolumeUnit()); }, ""},
            {"Flow Volume Special Factor", false, "", [](const Context &c, int) { return fl(c, c.im.config.flowVolumeSpecFact()); }, ""},
            {"Flow Time Units", false, "", [](const Context &c, int) { return en(EnumList::TimeUnit, c.im.config.flowTimeUnit()); }, ""},
            {"Flow Time Special Factor", false, "", [](const Context &c, int) { return fl(c, c.im.config.flowTimeSpecFact()); }, ""},
            {"Totaliser", false, "", [](const Context &c, int) { return en(EnumList::VolumeUnit, c.im.config.totaliserUnit()); }, ""},
            {"Totaliser Special Factor", false, "", [](const Context &c, int) { return fl(c, c.im.config.totaliserSpecFact()); }, ""},
        }},
        {"Option Cards Installed", sSystem::optionCardCount, {
            {"Option card slot ", true, "", [](const Context &c, int k) { return en(EnumList::OptionCard, c.im.system.optionCard(k)); }, ""},
        }},
        {"Serial Communications", 1, {
            {"Protocol Mode", false, "", [](const Context &c, int) { return en(EnumList::SerialMode, c.im.config.serialMode()); }, ""},
            {"Baud Rate", false, "", [](const Context &c, int) { return en(EnumList::BaudRate, c.im.config.baudRate()); }, ""},
            // The line settings are fixed; the constant carries its own "= ".
            {"Serial Port Format", false, "", [](const Context &, int) { return QString::fromLatin1(kSerialFormatTree + 2); }, ""},
            {"Modbus ID(address)", false, "", [](const Context &c, int) { return u16(c.im.config.modbusId()); }, ""},
        }},
        {"Misc Settings", 1, {
            {"Battery Alarm Level", false, "", [](const Context &c, int) { return fl(c, c.im.config.batteryAlarmLevel()); }, " Volts"},
            {"Low Battery System Alarm Level", false, "", [](const Context &c, int) { return fl(c, c.im.basicCal.loBatteryAlarmLevel()); }, " Volts"},
            {"Battery Safety limit", false, "", [](const Context &c, int) { return fl(c, c.im.basicCal.loBatterySafetyLimit()); }, " Volts"},
        }},
    };
    return table;
}
// clang-format on

QString captionOf(const Row &row, int k)
{
    QString caption = QString::fromLatin1(row.caption);
    if (row.numbered)
        caption += QString::number(k) + QString::fromLatin1(row.suffix);
    return caption;
}

} // namespace

QString lineText(const QString &caption, const QString &value)
{
    return caption.leftJustified(kCaptionWidth, QLatin1Char(' ')) + QStringLiteral("= ") + value;
}

QString formatFloat(double value, const QLocale &locale)
{
    if (std::isnan(value))
        return QStringLiteral("NAN");
    if (std::isinf(value))
        return value < 0 ? QStringLiteral("-INF") : QStringLiteral("INF");
    constexpr int kDecimals = 5;
    // A value that rounds to zero reads 0.0, never -0.0.
    if (std::fabs(value) < 0.5e-5)
        value = 0.0;
    QLocale plain = locale;
    plain.setNumberOptions(QLocale::OmitGroupSeparator);
    QString text = plain.toString(value, 'f', kDecimals);
    const QString point = plain.decimalPoint();
    const QString zero = plain.zeroDigit();
    const int at = text.lastIndexOf(point);
    if (at < 0)
        return text;
    const int keep = at + point.size() + zero.size(); // one decimal stays
    while (text.size() > keep && text.endsWith(zero))
        text.chop(zero.size());
    return text;
}

QString formatTime(TDateTime value, const QLocale &locale)
{
    const QChar sep = separatorOf(locale.timeFormat(QLocale::LongFormat), QLatin1Char(':'));
    const DateTime::Fields f = fieldsOf(value);
    return two(f.hour) + sep + two(f.minute) + sep + two(f.second);
}

QString formatDayMonth(TDateTime value, const QLocale &locale)
{
    const QChar sep = separatorOf(locale.dateFormat(QLocale::ShortFormat), QLatin1Char('/'));
    const DateTime::Fields f = fieldsOf(value);
    return two(f.day) + sep + locale.monthName(f.month, QLocale::ShortFormat);
}

Tree build(const Images &images, const QLocale &locale)
{
    const Context context{images, locale};
    Tree tree;
    tree.root = QStringLiteral("Meter ID(") + u32(images.cal.meterID()) + QStringLiteral(")");
    for (const GroupDef &def : groups()) {
        Group group{QString::fromLatin1(def.caption), {}};
        for (int k = 0; k < def.repeat; ++k)
            for (const Row &row : def.rows)
                group.lines << lineText(captionOf(row, k), row.value(context, k) + QString::fromLatin1(row.unit));
        tree.groups.push_back(std::move(group));
    }
    return tree;
}

} // namespace InfoTree
