// Enumeration and bit-set texts: lookups by value in every place, values without a
// text, and the composed fault, alarm and self-test texts.
#include "link/Z960Enums.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <set>

using namespace Z960Data;

namespace {

const EnumList kAllLists[] = {
    EnumList::VolumeUnit,     EnumList::TimeUnit,        EnumList::AlarmCause,
    EnumList::DigitalOutType, EnumList::DigitalOutChannel, EnumList::AnalogOutMode,
    EnumList::AnalogOutChannel, EnumList::FilterFrequency, EnumList::PipeUnits,
    EnumList::SerialMode,     EnumList::BaudRate,        EnumList::OptionCard,
    EnumList::SimulationMode, EnumList::FailSafeMode,
};

const std::optional<std::string> noText;

} // namespace

TEST(DataEnums, LookupByValueAndPlace)
{
    struct Case {
        EnumList list;
        long value;
        Place place;
        std::optional<std::string> text;
    };
    const Case cases[] = {
        // odd spellings and trailing blanks as the program shows them
        {EnumList::VolumeUnit, 0, Place::SetupDialog, "MEGA_LITRES "},
        {EnumList::VolumeUnit, 0, Place::InformationTree, "MEGA LITRES"},
        {EnumList::VolumeUnit, 6, Place::Report, "IMPERIAL MEGA_GALLONS"},
        {EnumList::VolumeUnit, 11, Place::Report, "METER"},
        {EnumList::VolumeUnit, 12, Place::InformationTree, noText},
        {EnumList::VolumeUnit, 65535, Place::Report, noText},
        {EnumList::TimeUnit, 4, Place::InformationTree, "Special Factor"},
        {EnumList::TimeUnit, 4, Place::SetupDialog, "SPECIAL_TIME_FACTOR"},
        {EnumList::AlarmCause, 0, Place::Report, "OFF"},
        {EnumList::AlarmCause, 0, Place::StatusPage, noText},
        {EnumList::AlarmCause, 0, Place::Maintenance, noText},
        {EnumList::AlarmCause, 1, Place::Report, "LOW_BATTERY"},
        {EnumList::AlarmCause, 3, Place::Report, "SYSTEM_FAULT "},
        {EnumList::AlarmCause, 4, Place::Report, "LO_FLOW      "},
        {EnumList::AlarmCause, 4, Place::InformationTree, "LO_FLOW"},
        {EnumList::AlarmCause, 5, Place::StatusPage, "Hi Flow("},
        {EnumList::AlarmCause, 7, Place::SetupDialog, "Reverse Flow"},
        {EnumList::AlarmCause, 9, Place::SetupDialog, noText},
        {EnumList::AlarmCause, 9, Place::StatusPage, noText},
        {EnumList::AlarmCause, 9, Place::Report, noText},
        {EnumList::DigitalOutType, 1, Place::SetupDialog, "FREQUENCY "},
        {EnumList::DigitalOutType, 1, Place::InformationTree, "Frequency"},
        {EnumList::DigitalOutType, 1, Place::Report, "FREQUENCY, "},
        {EnumList::DigitalOutType, -1, Place::Report, noText},
        {EnumList::DigitalOutChannel, 5, Place::Report, "Net Total, "},
        {EnumList::DigitalOutChannel, 6, Place::InformationTree, noText},
        {EnumList::AnalogOutMode, 0, Place::Report, "OFF"},
        {EnumList::AnalogOutMode, 0, Place::InformationTree, "Off"},
        {EnumList::AnalogOutMode, 2, Place::Report, "Reverse direction"},
        {EnumList::AnalogOutChannel, -32768, Place::SetupDialog, noText},
        {EnumList::FilterFrequency, 2, Place::SetupDialog, "50 & 60 HZ"},
        {EnumList::FilterFrequency, 2, Place::Report, "Combined 50/60 Hertz"},
        {EnumList::PipeUnits, 0, Place::SetupDialog, "milimeters"},
        {EnumList::PipeUnits, 0, Place::InformationTree, "millimeters"},
        {EnumList::SerialMode, 2, Place::InformationTree, "RS422"},
        {EnumList::SerialMode, 0, Place::SetupDialog, noText}, // no dialog control
        {EnumList::BaudRate, 1, Place::Report, "19200"},
        {EnumList::BaudRate, 3, Place::Report, noText},
        // sparse codes, negative ones included
        {EnumList::OptionCard, 0, Place::Report, "EMPTY SLOT"},
        {EnumList::OptionCard, 31, Place::InformationTree, "EMPTY SLOT"},
        {EnumList::OptionCard, 12, Place::Report, "CARD 4TO20AB"},
        {EnumList::OptionCard, 4, Place::Report, noText},
        {EnumList::OptionCard, 5, Place::Report, noText},
        {EnumList::OptionCard, 9, Place::InformationTree, noText},
        {EnumList::OptionCard, -1, Place::Report, noText},
        {EnumList::OptionCard, 32, Place::Report, noText},
        {EnumList::SimulationMode, 2, Place::Report, "ON"},
        {EnumList::SimulationMode, 3, Place::Report, noText},
        {EnumList::FailSafeMode, 1, Place::SetupDialog, "FAIL HIGH"},
        {EnumList::FailSafeMode, 0, Place::InformationTree, noText},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(enumText(c.list, c.value, c.place), c.text)
            << "list " << int(c.list) << " value " << c.value << " place " << int(c.place);
    }
}

// Every list has unique values, and the setup dialog's item index is the stored value.
TEST(DataEnums, TablesAreWellFormed)
{
    for (EnumList list : kAllLists) {
        SCOPED_TRACE(int(list));
        const EnumTable t = enumTable(list);
        ASSERT_GT(t.count, 0u);
        std::set<long> values;
        for (std::size_t i = 0; i < t.count; ++i)
            EXPECT_TRUE(values.insert(t.rows[i].value).second) << t.rows[i].value;
        const std::vector<std::string> items = setupDialogItems(list);
        for (std::size_t i = 0; i < items.size(); ++i)
            EXPECT_EQ(enumText(list, long(i), Place::SetupDialog), items[i]);
    }
    EXPECT_EQ(setupDialogItems(EnumList::VolumeUnit).size(), 12u);
    EXPECT_EQ(setupDialogItems(EnumList::AlarmCause).size(), 8u);
    EXPECT_TRUE(setupDialogItems(EnumList::OptionCard).empty());

    for (long cause = 3; cause <= 7; ++cause)
        EXPECT_EQ(enumText(EnumList::AlarmCause, cause, Place::Report)->size(), 13u) << cause;
}

TEST(DataEnums, SystemFaultTexts)
{
    struct Case {
        std::uint16_t bits;
        Place place;
        std::string line;
    };
    const Case cases[] = {
        {0x0000, Place::StatusPage, ""},
        {0x1000, Place::StatusPage, "SystemFault = Temperature high, "},
        {0x0005, Place::StatusPage, "SystemFault = Coil inductance low, Coil Resistance low,Signal Error, "},
        {0x1004, Place::StatusPage, "SystemFault = Coil Resistance low,Temperature high, Signal Error, "},
        {0x0100, Place::StatusPage, "SystemFault = "},
        {0xE000, Place::StatusPage, "SystemFault = "},
        {0x0008, Place::Maintenance, "System Fault = Coil Resistance high, Signal Error, "},
        {0x0004, Place::Maintenance, "System Fault = Coil Resistance low, Signal Error, "},
        {0x0280, Place::Maintenance, "System Fault = Signal Noise, Battery volts low, Signal Error, "},
    };
    for (const Case &c : cases)
        EXPECT_EQ(systemFaultLine(c.bits, c.place), c.line) << std::hex << c.bits;

    EXPECT_EQ(systemFaultFlagLines(0x1021),
              (std::vector<std::string>{"***** Coil inductance low", "***** Electrode check fault",
                                        "***** High temerature"}));
    EXPECT_TRUE(systemFaultFlagLines(0x0100).empty());
    EXPECT_TRUE(systemFaultFlagLines(0xE000).empty());
    EXPECT_EQ(bitText(BitSet::SystemFault, 8, Place::StatusPage), noText);
    EXPECT_EQ(bitText(BitSet::SystemFault, -1, Place::Report), noText);
    EXPECT_EQ(bitText(BitSet::SystemFault, 16, Place::Report), noText);
}

TEST(DataEnums, AlarmStatusFlagLines)
{
    EXPECT_TRUE(alarmStatusFlagLines(0x0080).empty());
    EXPECT_TRUE(alarmStatusFlagLines(0xFF80).empty());
    EXPECT_EQ(alarmStatusFlagLines(0x0041),
              (std::vector<std::string>{"***** LOW BATTERY", "***** REVERSE FLOW"}));
    EXPECT_EQ(alarmStatusFlagLines(0x007F).size(), 7u);
}

TEST(DataEnums, SelfTestTexts)
{
    struct Case {
        std::uint16_t value;
        std::string text;
    };
    const Case cases[] = {
        {127, "ALL OK"},
        {126, "126 (ADC )"},
        {255, "255 ()"}, // bit 7 set: not all passed, yet no test failed
        {0, "0 (ADC ID CAL/CONF SDCARD RTC POWER COIL )"},
        {0x3F, "63 (COIL )"},
        {0xFF7F, "65407 ()"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(selfTestReportValue(c.value), c.text) << c.value;
    EXPECT_TRUE(selfTestPassed(127));
    EXPECT_FALSE(selfTestPassed(255));
}

TEST(DataEnums, PnfEcSwitchesAndSingleTexts)
{
    EXPECT_EQ(pnfText(0x11), "PIPE EMPTY");
    EXPECT_EQ(ecText(0x11), "EC LOW");
    EXPECT_EQ(pnfText(0x00), "PIPE FULL");
    EXPECT_EQ(ecText(0x00), " EC OK");
    EXPECT_EQ(pnfText(0xEE), "PIPE FULL"); // other bits carry no meaning
    EXPECT_EQ(ecText(0xEF), " EC OK");

    EXPECT_EQ(switchText(0), "Disabled");
    EXPECT_EQ(switchText(1), "Enabled");
    EXPECT_EQ(switchText(0xFFFF), "Enabled");
    EXPECT_EQ(alarmLoggingText(1), ", Alarm Logging(On)");
    EXPECT_EQ(alarmLoggingText(0), ", Alarm Logging(Off)");
    EXPECT_EQ(failSafeReportText(7), "Enabled");
    EXPECT_EQ(failSafeReportText(0), "Disabled");

    EXPECT_EQ(meterStateConfirmation(4), "Entered Maintenance mode");
    EXPECT_EQ(meterStateConfirmation(0), "Scheduler Stopped");
    EXPECT_EQ(meterStateConfirmation(3), noText);
    EXPECT_EQ(meterStateConfirmation(-1), noText);
}

TEST(DataEnums, DetectorFactorsCompareExactly)
{
    std::uint32_t bits;
    std::memcpy(&bits, &kDetectorZ640, sizeof bits);
    EXPECT_EQ(bits, 0x3F63D70Au);
    std::memcpy(&bits, &kDetectorZ960, sizeof bits);
    EXPECT_EQ(bits, 0x3F800000u);

    EXPECT_EQ(detectorItem(1.0f), 0);
    EXPECT_EQ(detectorItem(0.89f), 1);
    EXPECT_EQ(detectorItem(static_cast<float>(0.89)), 1);
    EXPECT_FALSE(detectorItem(0.8900001f).has_value());
    EXPECT_FALSE(detectorItem(0.890001f).has_value());
    EXPECT_FALSE(detectorItem(0.0f).has_value());
    EXPECT_FALSE(detectorItem(-1.0f).has_value());
    EXPECT_FALSE(detectorItem(std::nanf("")).has_value());
    EXPECT_EQ(detectorFactor(1), kDetectorZ640);
    EXPECT_FALSE(detectorFactor(2).has_value());
    EXPECT_EQ(detectorItems(), (std::vector<std::string>{"Z960", "Z640 Emulation"}));
}
