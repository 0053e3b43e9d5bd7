#include "config/ConfigFields.h"

#include <array>
#include <initializer_list>

namespace Config {

namespace {

constexpr FieldDesc edit(const char *name, Place place, Image image, uint16_t offset, Kind kind, Width width,
                         double min, double max, const char *hint, const char *label = nullptr)
{
    return FieldDesc{name, place, image, offset, kind, width, min, max, hint, label};
}

// Decimal edits (float32).
constexpr FieldDesc dec(const char *name, Place place, Image image, uint16_t offset, double min, double max,
                        const char *hint, const char *label = nullptr)
{
    return edit(name, place, image, offset, Kind::Decimal, Width::F32, min, max, hint, label);
}

constexpr FieldDesc cfgDec(const char *name, Place place, uint16_t offset, double min, double max,
                           const char *hint, const char *label = nullptr)
{
    return dec(name, place, Image::Config, offset, min, max, hint, label);
}

constexpr FieldDesc cfgU16(const char *name, Place place, uint16_t offset, double min, double max,
                           const char *hint, const char *label = nullptr)
{
    return edit(name, place, Image::Config, offset, Kind::Unsigned, Width::U16, min, max, hint, label);
}

constexpr FieldDesc combo(const char *name, Place place, Image image, uint16_t offset, Items items,
                          const char *label = nullptr)
{
    FieldDesc f{name, place, image, offset, Kind::Combo, Width::U16, 0, 0, nullptr, label};
    f.items = items;
    return f;
}

constexpr FieldDesc check(const char *name, Place place, uint16_t offset, const char *caption)
{
    return FieldDesc{name, place, Image::Config, offset, Kind::Check, Width::U16, 0, 1, nullptr, caption};
}

constexpr FieldDesc flagBit(const char *name, uint8_t bit, const char *caption)
{
    FieldDesc f{name, Place::Values, Image::Config, 280, Kind::FlagBit, Width::U16, 0, 1, nullptr, caption};
    f.bit = bit;
    return f;
}

constexpr FieldDesc picker(const char *name, Kind kind, uint16_t offset, const char *label)
{
    return FieldDesc{name, Place::Totals, Image::Config, offset,
                     kind, Width::Stamp, 0, 0, nullptr, label};
}

constexpr FieldDesc at(FieldDesc f, Place place, uint8_t row, uint8_t col)
{
    f.place = place;
    f.row = row;
    f.col = col;
    return f;
}

constexpr FieldDesc bind(FieldDesc f, const Z960Data::FieldDesc &data)
{
    f.data = data;
    return f;
}

namespace CF = Z960Data::ConfigField;
namespace KF = Z960Data::CalField;
namespace BF = Z960Data::BasicCalField;
constexpr Z960Data::FieldDesc alarmField(int k, const Z960Data::FieldDesc &sub)
{
    return CF::alarm.at(k - 1).field(sub);
}
constexpr Z960Data::FieldDesc digitalOutField(int k, const Z960Data::FieldDesc &sub)
{
    return CF::digitalOut.at(k - 1).field(sub);
}
constexpr Z960Data::FieldDesc analogOutField(int k, const Z960Data::FieldDesc &sub)
{
    return CF::analogOut.at(k - 1).field(sub);
}

constexpr FieldDesc unfiltered(FieldDesc f)
{
    f.unfiltered = true;
    return f;
}

// Alarm k (1..4) record at 112 + 12(k-1); digital output k at 200 + 10(k-1);
// analog output k (1, 2) at 160 + 20(k-1).
constexpr uint16_t alarmAt(int k) { return uint16_t(112 + 12 * (k - 1)); }
constexpr uint16_t digitalOutAt(int k) { return uint16_t(200 + 10 * (k - 1)); }
constexpr uint16_t analogOutAt(int k) { return uint16_t(160 + 20 * (k - 1)); }

// A field of a repeated sub-record: its grid cell and its structure field.
constexpr FieldDesc alarmCell(FieldDesc f, int k, uint8_t col, const Z960Data::FieldDesc &sub)
{
    return bind(at(f, Place::Alarms, uint8_t(k), col), alarmField(k, sub));
}
constexpr FieldDesc digitalOutCell(FieldDesc f, int k, uint8_t col, const Z960Data::FieldDesc &sub)
{
    return bind(at(f, Place::DigitalOutputs, uint8_t(k), col), digitalOutField(k, sub));
}
constexpr FieldDesc analogOutCell(FieldDesc f, int k, uint8_t row, const Z960Data::FieldDesc &sub)
{
    return bind(at(f, Place::AnalogOutputs, row, uint8_t(k)), analogOutField(k, sub));
}

namespace ACF = Z960Data::AlarmConfigField;
namespace DOF = Z960Data::DigitalOutField;
namespace AOF = Z960Data::AnalogOutField;

#define ALARM_CHECK(k)                                                                                       \
    alarmCell(check("recordOnAlarm" #k, Place::Alarms, alarmAt(k), "Record in log file"), k, 1, ACF::recordOnAlarm)
#define ALARM_CAUSE(k)                                                                                       \
    alarmCell(combo("alarm_cause" #k, Place::Alarms, Image::Config, alarmAt(k) + 2, Items::AlarmCause), k, 2,   \
              ACF::alarm_cause)

#define DIGITAL_OUT(k)                                                                                       \
    digitalOutCell(combo("DO_type" #k, Place::DigitalOutputs, Image::Config, digitalOutAt(k),                 \
                         Items::DigitalOutType),                                                             \
                   k, 1, DOF::type),                                                                         \
    digitalOutCell(edit("DO_Frequency" #k, Place::DigitalOutputs, Image::Config, digitalOutAt(k) + 2,         \
                        Kind::Signed, Width::I16, -1000, 1000, "Frequency valid range from -1000 to1000"),    \
                   k, 2, DOF::frequency),                                                                    \
    digitalOutCell(combo("DO_Channel" #k, Place::DigitalOutputs, Image::Config, digitalOutAt(k) + 4,          \
                         Items::DigitalOutChannel),                                                          \
                   k, 3, DOF::channel),                                                                      \
    digitalOutCell(cfgU16("DO_PulseScale" #k, Place::DigitalOutputs, digitalOutAt(k) + 6, 1, 50000,           \
                          "Pulse Scale valid range from 1 to 50000"),                                        \
                   k, 4, DOF::pulseScale),                                                                   \
    digitalOutCell(cfgU16("DO_PulseWidth" #k, Place::DigitalOutputs, digitalOutAt(k) + 8, 20, 125,            \
                          "Pulse Width valid range from 20 to 125"),                                         \
                   k, 5, DOF::pulseWidth)

#define ANALOG_OUT(k)                                                                                        \
    analogOutCell(combo("AnalogOut_mode" #k, Place::AnalogOutputs, Image::Config, analogOutAt(k),             \
                        Items::AnalogOutMode),                                                               \
                  k, 1, AOF::mode),                                                                          \
    analogOutCell(combo("AnalogOut_Channel" #k, Place::AnalogOutputs, Image::Config, analogOutAt(k) + 2,      \
                        Items::AnalogOutChannel),                                                            \
                  k, 2, AOF::channel),                                                                       \
    analogOutCell(cfgDec("AnalogOut_damping" #k, Place::AnalogOutputs, analogOutAt(k) + 4, 0.0, 1000.0,       \
                         "Damping valid range from 0.0 to 1000.0"),                                          \
                  k, 3, AOF::damping),                                                                       \
    analogOutCell(cfgDec("AnalogOut_zero" #k, Place::AnalogOutputs, analogOutAt(k) + 8, 0.0, 1000.0,          \
                         "Zero 4-20mA valid range from 0.0 to 1000.0"),                                      \
                  k, 4, AOF::zero),                                                                          \
    analogOutCell(cfgDec("AnalogOut_span" #k, Place::AnalogOutputs, analogOutAt(k) + 12, 0.0, 99999.0,        \
                         "Span 4-20mA valid range from 0.0 to 99999.0"),                                     \
                  k, 5, AOF::span),                                                                          \
    analogOutCell(cfgDec("AnalogOut_limit" #k, Place::AnalogOutputs, analogOutAt(k) + 16, 20.0, 120.0,        \
                         "Alarm Limit valid range from 20.0 to 120.0"),                                      \
                  k, 6, AOF::limit)

constexpr FieldDesc kConfigFieldsRaw[] = {
    // Units
    combo("flowVolumeUnit", Place::Units, Image::Config, 50, Items::VolumeUnit, "Flow Volume Unit"),
    combo("flowTimeUnit", Place::Units, Image::Config, 56, Items::TimeUnit, "Flow Time Unit"),
    combo("totaliserUnit", Place::Units, Image::Config, 62, Items::VolumeUnit, "Totaliser Unit"),
    cfgDec("flowTimeSpecFact", Place::Units, 58, -1000000.0, 10000000.0,
           "Flow Time Special Factor valid range from -1000000.0 to 10000000.0"),
    cfgDec("flowVolumeSpecFact", Place::Units, 52, -1000000.0, 10000000.0,
           "Flow Volume Special Factor valid range from -1000000.0 to 10000000.0"),
    cfgDec("totaliserSpecFact", Place::Units, 64, 0.0, 10000000.0,
           "Totaliser Special Factor valid range from 0.0 to 10000000.0"),
    // Values
    cfgDec("zeroFlowCutOff", Place::Values, 34, 0.0, 80.0, "Zero Flow Cutoff valid range from 0.0 to 80.0",
           "Zero Flow CutOff"),
    cfgDec("lowFlowSetpoint", Place::Values, 30, 0.0, 80.0, "Low Flow Setpoint valid range from 0.0 to 80.0"),
    check("emptyPipeDetect", Place::Values, 18, "Empty Pipe Detection"),
    check("enableReverseFlow", Place::Values, 276, "Enable Reverse Flow"),
    check("gateControl", Place::Values, 278, "Enable Gate Control"),
    combo("failSafeModeLow", Place::Values, Image::Config, 28, Items::FailSafeMode, "Fail Safe Mode Low"),
    cfgU16("responseTime", Place::Values, 38, 1, 100, "Response Time valid range from 1 to 100"),
    cfgDec("pnfThreshold", Place::Values, 20, 0.0, 10.0, "Pnf Threshold valid range from 0.0 to 10.0",
           "PNF Threshold"),
    cfgDec("ecThreshold", Place::Values, 24, 0.0, 10.0, "Ec Threshold valid range from 0.0 to 10.0",
           "EC Threshold"),
    cfgDec("simulationVal", Place::Values, 12, -999.0, 999.0,
           "Simulation value valid range from -999.0 to 999.0", "Simulation Value"),
    flagBit("lowPowerMode", 0, "Low Power Mode"),
    flagBit("haltScanOnSignalError", 1, "Halt Scan On Signal Error"),
    edit("batteryAlarmLevel", Place::Values, Image::Config, 282, Kind::FreeDecimal, Width::F32, 4.0, 30.0,
         "Battery Alarm Level valid range from 4.0 to 30.0"),
    // Totals
    picker("offPeakStart", Kind::TimePicker, 70, "OffPeak Start Time"),
    picker("offPeakStop", Kind::TimePicker, 80, "OffPeak Stop Time"),
    picker("eoyLatchDate", Kind::DatePicker, 90, "EOY Latch Date"),
    // Scanning
    cfgU16("onTime", Place::Scanning, 40, 20, 3600, "Scan Duration valid range from 20 to 3600", "Scan Duration"),
    cfgU16("offTime", Place::Scanning, 42, 0, 3600, "Scan Off Time valid range from 0 to 3600", "Scan Off Time"),
    cfgU16("logPeriod", Place::Scanning, 44, 60, 43200, "Logging Interval valid range from 60 to 43200",
           "Logging Interval "),
    cfgU16("scansPerDiag", Place::Scanning, 46, 1, 20,
           "Number of Scans Per Diagnostic log valid range from 1 to 20", "Number of Scans Per Diagnostic log"),
    cfgU16("zeroFlowOffTime", Place::Scanning, 48, 0, 3600, "Zero Flow Off Time valid range from 0 to 3600",
           "Zero Flow Off Time"),
    cfgU16("registerLogInterval", Place::Scanning, 274, 900, 43200,
           "RT Log Interval valid range from 900 to 43200", "RT Log Interval"),
    // Alarms, in their creation order
    ALARM_CHECK(1), ALARM_CAUSE(1), ALARM_CAUSE(2), ALARM_CHECK(2),
    ALARM_CHECK(3), ALARM_CAUSE(4), ALARM_CHECK(4), ALARM_CAUSE(3),
    // Digital outputs, created in the order 1, 3, 2, 4
    DIGITAL_OUT(1), DIGITAL_OUT(3), DIGITAL_OUT(2), DIGITAL_OUT(4),
    // Analog outputs
    ANALOG_OUT(1), ANALOG_OUT(2),
    // General
    edit("SiteID", Place::General, Image::Config, 4, Kind::Unsigned, Width::U32, 0, 999999,
         "Site ID valid range from 0 to 999999", "Site ID"),
    cfgU16("backlightTimeOut", Place::General, 8, 0, 999, "LCD Backlight Time Out valid range from 0 to 999",
           "LCD Backlight Time Out"),
    cfgU16("lcdTimeOut", Place::General, 10, 0, 999, "LCD Time Out valid range from 0 to 999", "LCD Time Out"),
    cfgU16("lcdContrast", Place::General, 248, 0, 100, "LCD Contrast valid range from 0 to 100", "LCD Contrast"),
    // Modem
    at(picker("ModemWindowEnabled", Kind::TimePicker, 254, "Modem Window Enabled"), Place::Modem, 0, 0),
    at(picker("ModemWindowDisabled", Kind::TimePicker, 264, "Modem Window Disabled"), Place::Modem, 0, 0),
    cfgU16("modemOnDuration", Place::Modem, 250, 0, 1440, "Modem On Duration valid range from 0 to 1440",
           "Modem On Duration"),
    cfgU16("modemInterval", Place::Modem, 252, 0, 1440, "Modem Interval valid range from 0 to 1440",
           "Modem Interval"),
};

constexpr FieldDesc calDec(const char *name, Place place, uint16_t offset, double min, double max,
                           const char *hint, const char *label)
{
    return dec(name, place, Image::Cal, offset, min, max, hint, label);
}

constexpr FieldDesc calU16(const char *name, Place place, uint16_t offset, double min, double max,
                           const char *hint, const char *label)
{
    return edit(name, place, Image::Cal, offset, Kind::Unsigned, Width::U16, min, max, hint, label);
}

constexpr FieldDesc kCalFieldsRaw[] = {
    // "Flow meter "
    edit("meterID", Place::FlowMeter, Image::Cal, 2, Kind::Unsigned, Width::U32, 0, 999999,
         "Meter ID valid range from 0 to 999999", "meterID"),
    unfiltered(calDec("density", Place::FlowMeter, 60, 0.0, 5.0, "Density valid range from 0.0 to 5.0", "density")),
    calU16("pipeDiam", Place::FlowMeter, 18, 0, 2000, "Pipe Diam valid range from 0 to 2000", "pipeDiam"),
    unfiltered(calDec("flowFullScale", Place::FlowMeter, 6, 0.0, 99999.0,
                      "Flow Full Scale valid range from 0.0 to 99999.0", "flowFullScale")),
    combo("filterNumber", Place::FlowMeter, Image::Cal, 12, Items::FilterFrequency, "Filter Frequency"),
    // The unit of the pipe diameter stands beside it (row 2, column 2).
    at(combo("pipeUnitsMetric", Place::FlowMeter, Image::Cal, 10, Items::PipeUnits), Place::FlowMeter, 2, 2),
    // "Flow tube"
    bind(edit("flowTubeZero", Place::FlowTube, Image::Cal, 48, Kind::TubeZero, Width::F32, -100, 100,
         "Flow Tube Zero valid range from -100.0 to 100.0", "Tube Zero"), KF::flowTubeZero.at(0)),
    bind(calDec("flowTubeFactor1", Place::FlowTube, 32, 0.0, 10000.0, "Tube Factor valid range from 0.0 to 10000.0",
           "Tube Factor 1"), KF::flowTubeFactor.at(0)),
    bind(calDec("flowTubeFactor2", Place::FlowTube, 36, 0.0, 10000.0, "Tube Factor valid range from 0.0 to 10000.0",
           "Tube Factor 2"), KF::flowTubeFactor.at(1)),
    bind(calDec("flowTubeFactor3", Place::FlowTube, 40, 0.0, 10000.0, "Tube Factor valid range from 0.0 to 10000.0",
           "Tube Factor 3"), KF::flowTubeFactor.at(2)),
    bind(calDec("flowTubeFactor4", Place::FlowTube, 44, 0.0, 10000.0, "Tube Factor valid range from 0.0 to 10000.0",
           "Tube Factor 4"), KF::flowTubeFactor.at(3)),
    bind(calDec("tubeSetSelect1", Place::FlowTube, 20, -40.0, 40.0, "Changeover valid range from -40.0 to 40.0",
           "Changeover 1->2"), KF::tubeSetSelect.at(0)),
    bind(calDec("tubeSetSelect2", Place::FlowTube, 24, -40.0, 40.0, "Changeover valid range from -40.0 to 40.0",
           "Changeover 2->3"), KF::tubeSetSelect.at(1)),
    bind(calDec("tubeSetSelect3", Place::FlowTube, 28, -40.0, 40.0, "Changeover valid range from -40.0 to 40.0",
           "Changeover 3->4"), KF::tubeSetSelect.at(2)),
    // "Coil driver"
    calU16("coilCurrent", Place::CoilDriver, 14, 80, 300, "Coil Current valid range from 80 to 300", "coilCurrent"),
    calDec("coilFreq", Place::CoilDriver, 64, 0.0, 8.0, "Coil Frequency valid range from 0.0 to 8.0", "coilFreq"),
    // "Analog outputs"
    bind(calDec("zero4_20_1", Place::CalAnalogOutputs, 76, -10.0, 10.0, "Zero 4_20mA valid range from -10.0 to 10.0",
           "zero4_20_1"), KF::zero4_20.at(0)),
    bind(calDec("span4_20_1", Place::CalAnalogOutputs, 68, -10.0, 10.0, "Span 4_20mA valid range from -10.0 to 10.0",
           "span4_20 1"), KF::span4_20.at(0)),
    bind(calDec("zero4_20_2", Place::CalAnalogOutputs, 80, -10.0, 10.0, "Zero 4_20mA valid range from -10.0 to 10.0",
           "zero4_20 2"), KF::zero4_20.at(1)),
    bind(calDec("span4_20_2", Place::CalAnalogOutputs, 72, -10.0, 10.0, "Span 4_20mA valid range from -10.0 to 10.0",
           "span4_20 2"), KF::span4_20.at(1)),
};

#define TRIM(name, offset, label)                                                                                \
    dec(#name, Place::BasicCal, Image::BasicCal, offset, -10.0, 10.0, label " valid range from -10.0 to 10.0", label)

constexpr FieldDesc kBasicCalFieldsRaw[] = {
    TRIM(coilZero, 82, "Coil Zero"),
    TRIM(coilSpan, 86, "Coil Span"),
    TRIM(coilVoltageZero, 90, "Coil Voltage Zero"),
    TRIM(coilVoltageSpan, 94, "Coil Voltage Span"),
    TRIM(coilCurrentZero, 98, "Coil Current Zero"),
    TRIM(coilCurrentSpan, 102, "Coil Current Span"),
    TRIM(batVoltageZero, 106, "Battery Voltage Zero"),
    TRIM(batVoltageSpan, 110, "Battery Voltage Span"),
    TRIM(batChargeCurrentZero, 114, "Battery Charge Current Zero"),
    TRIM(batChargeCurrentSpan, 118, "Battery Charge Current Span"),
    TRIM(solarVoltageZero, 122, "Solar Voltage Zero"),
    TRIM(solarVoltageSpan, 126, "Solar Voltage Span"),
    TRIM(temperatureZero, 130, "Temperature Zero"),
    TRIM(temperatureSpan, 134, "Temperature Span"),
    dec("loBatterySafetyLimit", Place::BasicCal, Image::BasicCal, 168, 1.0, 30.0,
        "Low Battery Safety Limit valid range from 1.0 to 30.0", "Low Battery Safety Limit"),
    dec("loBatteryAlarmLevel", Place::BasicCal, Image::BasicCal, 172, 1.0, 30.0,
        "Low Battery Alarm Level valid range from 1.0 to 30.0", "Low Battery Alarm Level"),
};

// Access codes: labelled with their own names, no hint.
constexpr FieldDesc code(const char *name, Place place, uint16_t offset, uint8_t col)
{
    return at(edit(name, place, Image::Config, offset, Kind::AccessCode, Width::U16, 0, 9999, nullptr, name),
              place, 0, col);
}

constexpr FieldDesc kAccessFieldsRaw[] = {
    code("pwdU0", Place::AccessFront, 100, 0), code("pwdU1", Place::AccessFront, 102, 1),
    code("pwdU2", Place::AccessFront, 104, 2), code("pwdC0", Place::AccessComms, 106, 0),
    code("pwdC1", Place::AccessComms, 108, 1), code("pwdC2", Place::AccessComms, 110, 2),
};

#undef ALARM_CHECK
#undef ALARM_CAUSE
#undef DIGITAL_OUT
#undef ANALOG_OUT
#undef TRIM

// Fields that carry no explicit structure field are bound to the field of
// their own name.
constexpr bool sameName(const char *a, const char *b)
{
    while (*a && *a == *b) {
        ++a;
        ++b;
    }
    return *a == *b;
}

template <std::size_t N>
constexpr Z960Data::FieldDesc byName(const Z960Data::FieldDesc (&list)[N], const char *name)
{
    for (const Z960Data::FieldDesc &d : list)
        if (sameName(d.name, name))
            return d;
    return Z960Data::FieldDesc{};
}

constexpr FieldDesc resolve(FieldDesc f)
{
    if (f.data.name)
        return f;
    f.data = f.image == Image::Config ? byName(CF::kAll, f.name)
             : f.image == Image::Cal  ? byName(KF::kAll, f.name)
                                      : byName(BF::kAll, f.name);
    return f;
}

template <std::size_t N>
constexpr std::array<FieldDesc, N> resolveAll(const FieldDesc (&raw)[N])
{
    std::array<FieldDesc, N> out{};
    for (std::size_t i = 0; i < N; ++i)
        out[i] = resolve(raw[i]);
    return out;
}

constexpr auto kConfigFields = resolveAll(kConfigFieldsRaw);
constexpr auto kCalFields = resolveAll(kCalFieldsRaw);
constexpr auto kBasicCalFields = resolveAll(kBasicCalFieldsRaw);
constexpr auto kAccessFields = resolveAll(kAccessFieldsRaw);

constexpr Z960Data::Layout layoutOf(Image image)
{
    return image == Image::Config ? Z960Data::Layout::Config
           : image == Image::Cal  ? Z960Data::Layout::Cal
                                  : Z960Data::Layout::BasicCal;
}

constexpr bool typeFits(const FieldDesc &f)
{
    using VT = Z960Data::ValueType;
    const VT t = f.data.type;
    switch (f.width) {
    case Width::U16:
    case Width::I16: return t == VT::UInt16 || t == VT::Int16;
    case Width::U32: return t == VT::UInt32;
    case Width::F32: return t == VT::Float32;
    case Width::Stamp: return t == VT::Timestamp;
    }
    return false;
}

// Each field is bound to the structure field at its own offset, of a fitting
// type, inside its image; a flag bit to its own bit.
template <std::size_t N>
constexpr bool bound(const std::array<FieldDesc, N> &table)
{
    for (const FieldDesc &f : table) {
        if (!f.data.name || f.data.layout != layoutOf(f.image) || f.data.offset != f.offset || !typeFits(f)
            || f.offset + widthBytes(f.width) > imageSize(f.image)
            || (f.kind == Kind::FlagBit) != (f.data.bitMask != 0)
            || (f.kind == Kind::FlagBit && f.data.bitMask != (1u << f.bit)))
            return false;
    }
    return true;
}

static_assert(bound(kConfigFields), "configuration fields match the configuration structure");
static_assert(bound(kCalFields), "calibration fields match the calibration structure");
static_assert(bound(kBasicCalFields), "basic-calibration fields match their structure");
static_assert(bound(kAccessFields), "access codes match the configuration structure");
static_assert(imageSize(Image::Config) == Z960Data::sConfig::kSize && imageSize(Image::Cal) == Z960Data::sCal::kSize
              && imageSize(Image::BasicCal) == Z960Data::sBasicCal::kSize);

template <std::size_t N>
FieldTable table(const std::array<FieldDesc, N> &t)
{
    return FieldTable{t.data(), N};
}

} // namespace

FieldTable configurationFields() { return table(kConfigFields); }
FieldTable calibrationFields() { return table(kCalFields); }
FieldTable basicCalibrationFields() { return table(kBasicCalFields); }
FieldTable accessFields() { return table(kAccessFields); }

Filter filterOf(const FieldDesc &field)
{
    switch (field.kind) {
    case Kind::Decimal:
    case Kind::TubeZero:
    case Kind::FreeDecimal: return field.unfiltered ? Filter::None : Filter::Decimal;
    case Kind::Unsigned:
    case Kind::AccessCode: return Filter::Unsigned;
    case Kind::Signed: return Filter::Signed;
    default: return Filter::None;
    }
}

} // namespace Config
