#include "link/Z960Enums.h"

#include <cstring>

namespace Z960Data {

namespace {

constexpr const char *none = nullptr;

// value, enumerator, setup dialog, information tree, status page, maintenance, report
constexpr EnumText kVolumeUnit[] = {
    {0, "MEGA_LITRES", "MEGA_LITRES ", "MEGA LITRES", none, none, "MEGA LITRES"},
    {1, "CUBIC_METRES", "CUBIC_METRES", "CUBIC METRES", none, none, "CUBIC METRES"},
    {2, "KILO_LITRES", "KILO_LITRES", "KILO LITRES", none, none, "KILO LITRES"},
    {3, "LITRES", "LITRES", "LITRES", none, none, "LITRES"},
    {4, "CUBIC_FEET", "CUBIC_FEET", "CUBIC FEET", none, none, "CUBIC FEET"},
    {5, "IMPERIAL_GALLONS", "IMPERIAL_GALLONS", "IMPERIAL GALLONS", none, none, "IMPERIAL GALLONS"},
    {6, "IMPERIAL_MEGA_GALLONS", "IMPERIAL_MEGA_GALLONS", "IMPERIAL MEGA_GALLONS", none, none,
     "IMPERIAL MEGA_GALLONS"},
    {7, "US_GALLONS", "US_GALLONS", "US GALLONS", none, none, "US GALLONS"},
    {8, "US_MEGA_GALLONS", "US_MEGA_GALLONS", "US MEGA GALLONS", none, none, "US MEGA GALLONS"},
    {9, "ACRE_FEET", "ACRE_FEET", "ACRE FEET", none, none, "ACRE FEET"},
    {10, "SPECIAL_UNITS_FACTOR", "SPECIAL_UNITS_FACTOR", "SPECIAL UNITS FACTOR", none, none,
     "SPECIAL UNITS FACTOR"},
    {11, "METER", "METER", "METER", none, none, "METER"},
};

constexpr EnumText kTimeUnit[] = {
    {0, "SECONDS", "SECONDS", "Seconds", none, none, "Seconds"},
    {1, "MINUTES", "MINUTES", "Minutes", none, none, "Minutes"},
    {2, "HOURS", "HOURS", "Hours", none, none, "Hours"},
    {3, "DAYS", "DAYS", "Days", none, none, "Days"},
    {4, "SPECIAL_TIME_FACTOR", "SPECIAL_TIME_FACTOR", "Special Factor", none, none, "Special Factor"},
};

// The report pads causes 3 to 7 with blanks to 13 characters; the status and
// maintenance texts open the bracket that the alarm's value closes.
constexpr EnumText kAlarmCause[] = {
    {0, "OFF", "Off", "OFF", none, none, "OFF"},
    {1, "LOW_BATTERY", "Low Battery", "LOW_BATTERY", "Low Battery(", "Low Battery(", "LOW_BATTERY"},
    {2, "PIPE_NOT_FULL", "Pipe Not Full", "PIPE_NOT_FULL", "Pipe Not Full(", "Pipe Not Full(",
     "PIPE_NOT_FULL"},
    {3, "SYSTEM_FAULT", "System Fault", "SYSTEM_FAULT", "System Fault(", "System Fault(",
     "SYSTEM_FAULT "},
    {4, "LO_FLOW", "Low Flow", "LO_FLOW", "Low Flow(", "Low Flow(", "LO_FLOW      "},
    {5, "HI_FLOW", "Hi Flow", "HI_FLOW", "Hi Flow(", "Hi Flow(", "HI_FLOW      "},
    {6, "FWD_FLOW", "Forward Flow", "FWD_FLOW", "Forward Flow(", "Forward Flow(", "FWD_FLOW     "},
    {7, "REV_FLOW", "Reverse Flow", "REV_FLOW", "Reverse Flow(", "Reverse Flow(", "REV_FLOW     "},
};

constexpr EnumText kDigitalOutType[] = {
    {0, "OFF", "OFF", "OFF", none, none, "OFF"},
    {1, "FREQUENCY", "FREQUENCY ", "Frequency", none, none, "FREQUENCY, "},
    {2, "PULSE", "PULSE", "Pulse", none, none, "PULSE, "},
    {3, "ALARM", "ALARM", "Alarm", none, none, "ALARM, "},
};

constexpr EnumText kDigitalOutChannel[] = {
    {0, "VELOCITY", "Velocity", "Velocity", none, none, "Velocity, "},
    {1, "FLOW_RATE", "Flow rate", "Flow rate", none, none, "Flow rate, "},
    {2, "MASS_FLOW", "Mass Flow", "Mass Flow", none, none, "Mass Flow, "},
    {3, "FWD_FLOW", "Fwd Flow", "Fwd Flow", none, none, "Fwd Flow, "},
    {4, "REV_FLOW", "Rev Flow", "Rev Flow", none, none, "Rev Flow, "},
    {5, "NET_TOTAL", "Net Total", "Net Total", none, none, "Net Total, "},
};

constexpr EnumText kAnalogOutMode[] = {
    {0, "OFF", "Off", "Off", none, none, "OFF"},
    {1, "FORWARD", "Forward", "Forward", none, none, "Forward direction"},
    {2, "REVERSE", "Reverse", "Reverse", none, none, "Reverse direction"},
    {3, "BI_DIRECTIONAL", "Bi directional", "Bi directional", none, none, "Bi directional"},
};

constexpr EnumText kAnalogOutChannel[] = {
    {0, "VELOCITY", "Velocity", "Velocity", none, none, "Velocity, "},
    {1, "FLOW_RATE", "Flow rate", "Flow rate", none, none, "Flow rate, "},
    {2, "MASS_FLOW", "Mass Flow", "Mass Flow", none, none, "Mass Flow, "},
};

constexpr EnumText kFilterFrequency[] = {
    {0, "HZ_50", "50 HZ", "50 Hertz", none, none, "50 Hertz"},
    {1, "HZ_60", "60 HZ", "60 Hertz", none, none, "60 Hertz"},
    {2, "HZ_50_AND_60", "50 & 60 HZ", "Combined 50/60 Hertz", none, none, "Combined 50/60 Hertz"},
};

constexpr EnumText kPipeUnits[] = {
    {0, "MILLIMETRES", "milimeters", "millimeters", none, none, "millimeters"},
    {1, "INCHES", "inches", "inches", none, none, "inches"},
};

constexpr EnumText kSerialMode[] = {
    {0, "RS232", none, "RS232", none, none, "RS232"},
    {1, "RS485", none, "RS485", none, none, "RS485"},
    {2, "RS422", none, "RS422", none, none, "RS422"},
};

constexpr EnumText kBaudRate[] = {
    {0, "BAUD_9600", none, "9600", none, none, "9600"},
    {1, "BAUD_19200", none, "19200", none, none, "19200"},
    {2, "BAUD_38400", none, "38400", none, none, "38400"},
};

constexpr EnumText kOptionCard[] = {
    {0, "EMPTY_SLOT", none, "EMPTY SLOT", none, none, "EMPTY SLOT"},
    {1, "CARD_BLUETOOTH", none, "CARD BLUETOOTH", none, none, "CARD BLUETOOTH"},
    {2, "CARD_ISOL_COMMS", none, "CARD ISOL COMMS", none, none, "CARD ISOL COMMS"},
    {3, "CARD_DIO_EXPANS", none, "CARD DIO EXPANS", none, none, "CARD DIO EXPANS"},
    {8, "CARD_DEBUG", none, "CARD DEBUG", none, none, "CARD DEBUG"},
    {10, "CARD_MODEM", none, "CARD MODEM", none, none, "CARD MODEM"},
    {12, "CARD_4TO20AB", none, "CARD 4TO20AB", none, none, "CARD 4TO20AB"},
    {31, "EMPTY_SLOT_31", none, "EMPTY SLOT", none, none, "EMPTY SLOT"},
};

constexpr EnumText kSimulationMode[] = {
    {0, "OFF", none, "OFF", none, none, "OFF"},
    {1, "ON", none, "ON", none, none, "ON"},
    {2, "ON_2", none, "ON", none, none, "ON"},
};

constexpr EnumText kFailSafeMode[] = {
    {0, "FAIL_LOW", "FAIL LOW", none, none, none, none},
    {1, "FAIL_HIGH", "FAIL HIGH", none, none, none, none},
};

// bit, enumerator, status page, maintenance, report, report text while clear
constexpr BitText kAlarmStatusBits[] = {
    {0, "LOW_BATTERY", none, none, "***** LOW BATTERY", none},
    {1, "PIPE_NOT_FULL", none, none, "***** PIPE NOT FULL", none},
    {2, "SYSTEM_FAULT", none, none, "***** SYSTEM FAULT", none},
    {3, "LOW_FLOW", none, none, "***** LOW FLOW", none},
    {4, "HIGH_FLOW", none, none, "***** HIGH FLOW", none},
    {5, "FORWARD_FLOW", none, none, "***** FORWARD FLOW", none},
    {6, "REVERSE_FLOW", none, none, "***** REVERSE FLOW", none},
};

// The status page's bit-2 text has no blank after its comma; the maintenance one has.
constexpr BitText kSystemFaultBits[] = {
    {0, "COIL_INDUCTANCE_LOW", "Coil inductance low, ", "Coil inductance low, ",
     "***** Coil inductance low", none},
    {1, "COIL_INDUCTANCE_HIGH", "Coil inductance high, ", "Coil inductance high, ",
     "***** Coil inductance high", none},
    {2, "COIL_RESISTANCE_LOW", "Coil Resistance low,", "Coil Resistance low, ",
     "***** Coil resistance low", none},
    {3, "COIL_RESISTANCE_HIGH", "Coil Resistance high, ", "Coil Resistance high, ",
     "***** Coil resistance high", none},
    {4, "SIGNAL_RANGE", "Signal Range, ", "Signal Range, ", "***** Signal range fault", none},
    {5, "LOW_EC", "Low EC, ", "Low EC, ", "***** Electrode check fault", none},
    {6, "SETTLING_TIME", "Settling time, ", "Settling time, ", "***** Settling time fault", none},
    {7, "SIGNAL_NOISE", "Signal Noise, ", "Signal Noise, ", "***** Signal noise fault", none},
    {9, "BATTERY_VOLTS_LOW", "Battery volts low, ", "Battery volts low, ", "***** Low battery volts",
     none},
    {10, "BATTERY_VOLTS_HIGH", "Battery volts high, ", "Battery volts high, ",
     "***** High battery volts", none},
    {11, "LOW_FLOW", "Low flow, ", "Low flow, ", "***** Low flow", none},
    {12, "TEMPERATURE_HIGH", "Temperature high, ", "Temperature high, ", "***** High temerature",
     none},
};

constexpr BitText kSelfTestBits[] = {
    {0, "ADC", none, none, "ADC ", none},       {1, "ID", none, none, "ID ", none},
    {2, "CAL_CONF", none, none, "CAL/CONF ", none}, {3, "SDCARD", none, none, "SDCARD ", none},
    {4, "RTC", none, none, "RTC ", none},       {5, "POWER", none, none, "POWER ", none},
    {6, "COIL", none, none, "COIL ", none},
};

constexpr BitText kPnfEcBits[] = {
    {0, "PIPE_NOT_FULL", none, none, "PIPE EMPTY", "PIPE FULL"},
    {4, "EC_LOW", none, none, "EC LOW", " EC OK"},
};

constexpr const char *kSignalError = "Signal Error, ";
constexpr std::uint16_t kSignalBits = 0x00FF; // bits 0 to 7

template <std::size_t N> EnumTable tableOf(const EnumText (&rows)[N]) { return EnumTable{rows, N}; }
template <std::size_t N> BitTable tableOf(const BitText (&rows)[N]) { return BitTable{rows, N}; }

const char *bitTextIn(const BitText &row, Place place)
{
    switch (place) {
    case Place::StatusPage: return row.statusPage;
    case Place::Maintenance: return row.maintenance;
    case Place::Report: return row.report;
    case Place::SetupDialog:
    case Place::InformationTree: break;
    }
    return nullptr;
}

// Texts of the set bits of value in rising bit order, for one place.
std::vector<std::string> setBitTexts(BitSet set, std::uint16_t value, Place place)
{
    std::vector<std::string> texts;
    const BitTable t = bitTable(set);
    for (std::size_t i = 0; i < t.count; ++i)
        if ((value >> t.rows[i].bit) & 1u)
            if (const char *text = bitTextIn(t.rows[i], place))
                texts.emplace_back(text);
    return texts;
}

} // namespace

const char *EnumText::in(Place place) const
{
    switch (place) {
    case Place::SetupDialog: return setupDialog;
    case Place::InformationTree: return informationTree;
    case Place::StatusPage: return statusPage;
    case Place::Maintenance: return maintenance;
    case Place::Report: return report;
    }
    return nullptr;
}

EnumTable enumTable(EnumList list)
{
    switch (list) {
    case EnumList::VolumeUnit: return tableOf(kVolumeUnit);
    case EnumList::TimeUnit: return tableOf(kTimeUnit);
    case EnumList::AlarmCause: return tableOf(kAlarmCause);
    case EnumList::DigitalOutType: return tableOf(kDigitalOutType);
    case EnumList::DigitalOutChannel: return tableOf(kDigitalOutChannel);
    case EnumList::AnalogOutMode: return tableOf(kAnalogOutMode);
    case EnumList::AnalogOutChannel: return tableOf(kAnalogOutChannel);
    case EnumList::FilterFrequency: return tableOf(kFilterFrequency);
    case EnumList::PipeUnits: return tableOf(kPipeUnits);
    case EnumList::SerialMode: return tableOf(kSerialMode);
    case EnumList::BaudRate: return tableOf(kBaudRate);
    case EnumList::OptionCard: return tableOf(kOptionCard);
    case EnumList::SimulationMode: return tableOf(kSimulationMode);
    case EnumList::FailSafeMode: return tableOf(kFailSafeMode);
    }
    return EnumTable{nullptr, 0};
}

std::optional<std::string> enumText(EnumList list, long value, Place place)
{
    const EnumTable t = enumTable(list);
    for (std::size_t i = 0; i < t.count; ++i)
        if (t.rows[i].value == value) {
            if (const char *text = t.rows[i].in(place))
                return std::string(text);
            return std::nullopt;
        }
    return std::nullopt;
}

std::vector<std::string> setupDialogItems(EnumList list)
{
    std::vector<std::string> items;
    const EnumTable t = enumTable(list);
    for (std::size_t i = 0; i < t.count; ++i)
        if (t.rows[i].setupDialog != nullptr)
            items.emplace_back(t.rows[i].setupDialog);
    return items;
}

BitTable bitTable(BitSet set)
{
    switch (set) {
    case BitSet::AlarmStatus: return tableOf(kAlarmStatusBits);
    case BitSet::SystemFault: return tableOf(kSystemFaultBits);
    case BitSet::SelfTest: return tableOf(kSelfTestBits);
    case BitSet::PnfEc: return tableOf(kPnfEcBits);
    }
    return BitTable{nullptr, 0};
}

std::optional<std::string> bitText(BitSet set, int bit, Place place)
{
    const BitTable t = bitTable(set);
    for (std::size_t i = 0; i < t.count; ++i)
        if (t.rows[i].bit == bit) {
            if (const char *text = bitTextIn(t.rows[i], place))
                return std::string(text);
            return std::nullopt;
        }
    return std::nullopt;
}

std::string systemFaultText(std::uint16_t bits, Place place)
{
    std::string text;
    for (const std::string &t : setBitTexts(BitSet::SystemFault, bits, place))
        text += t;
    if (place != Place::Report && (bits & kSignalBits) != 0)
        text += kSignalError;
    return text;
}

std::string systemFaultLine(std::uint16_t bits, Place place)
{
    if (bits == 0)
        return std::string();
    const char *header = place == Place::Maintenance ? "System Fault = " : "SystemFault = ";
    return header + systemFaultText(bits, place);
}

std::vector<std::string> systemFaultFlagLines(std::uint16_t bits)
{
    return setBitTexts(BitSet::SystemFault, bits, Place::Report);
}

std::vector<std::string> alarmStatusFlagLines(std::uint16_t bits)
{
    return setBitTexts(BitSet::AlarmStatus, bits, Place::Report);
}

std::string selfTestFailedNames(std::uint16_t value)
{
    // The names of the clear bits: the set texts of the inverted value.
    std::string names;
    for (const std::string &t :
         setBitTexts(BitSet::SelfTest, static_cast<std::uint16_t>(~value), Place::Report))
        names += t;
    return names;
}

std::string selfTestReportValue(std::uint16_t value)
{
    if (selfTestPassed(value))
        return "ALL OK";
    return std::to_string(value) + " (" + selfTestFailedNames(value) + ")";
}

std::string pnfText(std::uint8_t flags)
{
    return (flags & 0x01) != 0 ? kPnfEcBits[0].report : kPnfEcBits[0].clearText;
}

std::string ecText(std::uint8_t flags)
{
    return (flags & 0x10) != 0 ? kPnfEcBits[1].report : kPnfEcBits[1].clearText;
}

std::string switchText(long value) { return value != 0 ? "Enabled" : "Disabled"; }

std::string alarmLoggingText(long recordOnAlarm)
{
    return recordOnAlarm != 0 ? ", Alarm Logging(On)" : ", Alarm Logging(Off)";
}

std::string failSafeReportText(long value) { return switchText(value); }

std::optional<int> detectorItem(float factor)
{
    std::uint32_t bits;
    std::memcpy(&bits, &factor, sizeof bits);
    if (bits == 0x3F800000u)
        return 0;
    if (bits == 0x3F63D70Au)
        return 1;
    return std::nullopt;
}

std::optional<float> detectorFactor(int item)
{
    if (item == 0)
        return kDetectorZ960;
    if (item == 1)
        return kDetectorZ640;
    return std::nullopt;
}

std::vector<std::string> detectorItems() { return {"Z960", "Z640 Emulation"}; }

std::optional<std::string> meterStateConfirmation(long state)
{
    switch (state) {
    case 0: return std::string("Scheduler Stopped");
    case 1: return std::string("Scheduler Started");
    case 2: return std::string("Calibration Mode Set");
    case 4: return std::string("Entered Maintenance mode");
    default: break;
    }
    return std::nullopt;
}

} // namespace Z960Data
