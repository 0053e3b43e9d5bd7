// The meter's enumerations and bit sets with every text under which the program
// shows them, one table per list, looked up by value. A value without a row, or a
// row without a text for the place asked about, finds no text: negative, sparse and
// out-of-range device values never index anything.
//
//   enumText(EnumList::VolumeUnit, cfg.flowVolumeUnit(), Place::InformationTree)
//       -> "MEGA LITRES" for 0, nothing for 12
//   setupDialogItems(EnumList::VolumeUnit)  -> the combo box items, index = value
//   systemFaultLine(status.systemFault(), Place::StatusPage)  -> "SystemFault = ..."
//
// Texts are 8-bit and exactly as the program shows them, blanks included.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace Z960Data {

// Where a text is shown.
enum class Place {
    SetupDialog,     // combo box, radio group and check box items of the setup dialog
    InformationTree, // the main window's information page
    StatusPage,      // the main window's status line
    Maintenance,     // alarm and fault memo of the maintenance and monitoring modes
    Report,          // report sections
};

enum class VolumeUnit : std::uint16_t {
    MEGA_LITRES = 0,
    CUBIC_METRES = 1,
    KILO_LITRES = 2,
    LITRES = 3,
    CUBIC_FEET = 4,
    IMPERIAL_GALLONS = 5,
    IMPERIAL_MEGA_GALLONS = 6,
    US_GALLONS = 7,
    US_MEGA_GALLONS = 8,
    ACRE_FEET = 9,
    SPECIAL_UNITS_FACTOR = 10,
    METER = 11,
};

enum class TimeUnit : std::uint16_t {
    SECONDS = 0,
    MINUTES = 1,
    HOURS = 2,
    DAYS = 3,
    SPECIAL_TIME_FACTOR = 4,
};

enum class AlarmCause : std::uint16_t {
    OFF = 0,
    LOW_BATTERY = 1,
    PIPE_NOT_FULL = 2,
    SYSTEM_FAULT = 3,
    LO_FLOW = 4,
    HI_FLOW = 5,
    FWD_FLOW = 6,
    REV_FLOW = 7,
};

// Bit n of the status alarmStatus: an alarm of cause n + 1 is active.
enum class AlarmStatusBit : int {
    LOW_BATTERY = 0,
    PIPE_NOT_FULL = 1,
    SYSTEM_FAULT = 2,
    LOW_FLOW = 3,
    HIGH_FLOW = 4,
    FORWARD_FLOW = 5,
    REVERSE_FLOW = 6,
};

enum class DigitalOutType : std::int16_t {
    OFF = 0,
    FREQUENCY = 1,
    PULSE = 2,
    ALARM = 3,
};

enum class DigitalOutChannel : std::uint16_t {
    VELOCITY = 0,
    FLOW_RATE = 1,
    MASS_FLOW = 2,
    FWD_FLOW = 3,
    REV_FLOW = 4,
    NET_TOTAL = 5,
};

enum class AnalogOutMode : std::int16_t {
    OFF = 0,
    FORWARD = 1,
    REVERSE = 2,
    BI_DIRECTIONAL = 3,
};

enum class AnalogOutChannel : std::int16_t {
    VELOCITY = 0,
    FLOW_RATE = 1,
    MASS_FLOW = 2,
};

enum class FilterFrequency : std::uint16_t {
    HZ_50 = 0,
    HZ_60 = 1,
    HZ_50_AND_60 = 2,
};

enum class PipeUnits : std::uint16_t {
    MILLIMETRES = 0,
    INCHES = 1,
};

enum class SerialMode : std::int16_t {
    RS232 = 0,
    RS485 = 1,
    RS422 = 2,
};

enum class BaudRate : std::int16_t {
    BAUD_9600 = 0,
    BAUD_19200 = 1,
    BAUD_38400 = 2,
};

enum class OptionCard : std::int16_t {
    EMPTY_SLOT = 0,
    CARD_BLUETOOTH = 1,
    CARD_ISOL_COMMS = 2,
    CARD_DIO_EXPANS = 3,
    CARD_DEBUG = 8,
    CARD_MODEM = 10,
    CARD_4TO20AB = 12,
    EMPTY_SLOT_31 = 31,
};

enum class SystemFaultBit : int {
    COIL_INDUCTANCE_LOW = 0,
    COIL_INDUCTANCE_HIGH = 1,
    COIL_RESISTANCE_LOW = 2,
    COIL_RESISTANCE_HIGH = 3,
    SIGNAL_RANGE = 4,
    LOW_EC = 5,
    SETTLING_TIME = 6,
    SIGNAL_NOISE = 7,
    BATTERY_VOLTS_LOW = 9,
    BATTERY_VOLTS_HIGH = 10,
    LOW_FLOW = 11,
    TEMPERATURE_HIGH = 12,
};

// A set bit is a passed test.
enum class SelfTestBit : int {
    ADC = 0,
    ID = 1,
    CAL_CONF = 2,
    SDCARD = 3,
    RTC = 4,
    POWER = 5,
    COIL = 6,
};
constexpr std::uint16_t kSelfTestAllPassed = 127;

enum class PnfEcFlag : int {
    PIPE_NOT_FULL = 0, // bit 0: the pipe is empty
    EC_LOW = 4,        // bit 4
};

enum class SimulationMode : std::uint16_t {
    OFF = 0,
    ON = 1,
    ON_2 = 2,
};

enum class FailSafeMode : std::uint16_t {
    FAIL_LOW = 0,
    FAIL_HIGH = 1,
};

// Value-to-text lists.
enum class EnumList {
    VolumeUnit,
    TimeUnit,
    AlarmCause,
    DigitalOutType,
    DigitalOutChannel,
    AnalogOutMode,
    AnalogOutChannel,
    FilterFrequency,
    PipeUnits,
    SerialMode,
    BaudRate,
    OptionCard,
    SimulationMode,
    FailSafeMode, // setup dialog items only; the report uses failSafeReportText
};

// One row of a list; nullptr where the value has no text in that place.
struct EnumText {
    long value;
    const char *enumerator;
    const char *setupDialog;
    const char *informationTree;
    const char *statusPage;
    const char *maintenance;
    const char *report;

    const char *in(Place place) const;
};

struct EnumTable {
    const EnumText *rows;
    std::size_t count;
};
EnumTable enumTable(EnumList list);

std::optional<std::string> enumText(EnumList list, long value, Place place);
// The setup dialog's items of a list in value order (the item index is the value).
std::vector<std::string> setupDialogItems(EnumList list);

// ---- bit sets

enum class BitSet { AlarmStatus, SystemFault, SelfTest, PnfEc };

// One bit's texts; nullptr where it has none. For SelfTest the report text is the
// name listed for a failed (clear) bit; for PnfEc it is the text while set, and
// clearText the text while clear.
struct BitText {
    int bit;
    const char *enumerator;
    const char *statusPage;
    const char *maintenance;
    const char *report;
    const char *clearText;
};

struct BitTable {
    const BitText *rows;
    std::size_t count;
};
BitTable bitTable(BitSet set);

std::optional<std::string> bitText(BitSet set, int bit, Place place);

// System faults on the status page or in the maintenance memo: the text of each set
// bit in rising order, then "Signal Error, " when any of bits 0 to 7 is set.
std::string systemFaultText(std::uint16_t bits, Place place);
// The header ("SystemFault = " / "System Fault = ") and systemFaultText; empty for 0.
std::string systemFaultLine(std::uint16_t bits, Place place);
// The report's flag lines, one per set bit with a text, in rising bit order.
std::vector<std::string> systemFaultFlagLines(std::uint16_t bits);
std::vector<std::string> alarmStatusFlagLines(std::uint16_t bits);

// Self test: passed only when the value is exactly 127.
constexpr bool selfTestPassed(std::uint16_t value) { return value == kSelfTestAllPassed; }
// Names of the clear bits among bits 0 to 6, each with its trailing blank.
std::string selfTestFailedNames(std::uint16_t value);
// "ALL OK" for 127, otherwise the value, " (", the failed names and ")".
std::string selfTestReportValue(std::uint16_t value);

// pnfEcFlags: "PIPE EMPTY" / "PIPE FULL" and "EC LOW" / " EC OK".
std::string pnfText(std::uint8_t flags);
std::string ecText(std::uint8_t flags);

// ---- switches and single texts

// On/off switches in the information tree and the report: non-zero "Enabled", 0 "Disabled".
std::string switchText(long value);
// Alarm logging behind an alarm's cause in the report.
std::string alarmLoggingText(long recordOnAlarm);
// "Fail Safe Mode Low" in the report: non-zero "Enabled", 0 "Disabled".
std::string failSafeReportText(long value);

// Fixed line settings shown beside the serial mode and baud rate.
inline constexpr const char *kSerialFormatTree = "= N,8,1";
inline constexpr const char *kSerialFormatReport = "N 8 1";

// Detector factor constants, compared by their exact float32 bits.
inline constexpr float kDetectorZ960 = 1.0f;  // bits 3F800000
inline constexpr float kDetectorZ640 = 0.89f; // bits 3F63D70A
// Radio item 0 for 1.0, 1 for 0.89, none for any other value.
std::optional<int> detectorItem(float factor);
// The factor of radio item 0 or 1.
std::optional<float> detectorFactor(int item);
std::vector<std::string> detectorItems(); // "Z960", "Z640 Emulation"
inline constexpr const char *kInvalidDetectorItem = "Invalid detector type";
inline constexpr const char *kInvalidDetectorWarning =
    "Warning: Invalid value for detector type found,\r\nPlease select proper detector type and "
    "press the Save button";

// The console's confirmation after a successful state change; none for 3 and others.
std::optional<std::string> meterStateConfirmation(long state);

} // namespace Z960Data
