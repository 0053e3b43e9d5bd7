// The report's section lines, built from fixture images: line format, value
// formats and the lines of each section that depend on the images' values.
#include "Z960ReportFixture.h"
#include "report/ReportSections.h"

#include <QByteArray>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

using namespace ReportSections;
using namespace Z960ReportFixture;

namespace {

std::string L(const std::string &caption, const std::string &value) { return sectionLine(caption, "= ", value); }

// The value after the separator of the first line with this caption, or "<absent>".
std::string valueOf(const Lines &lines, const std::string &caption, const std::string &sep = "= ")
{
    const std::string head = flagLine(caption) + sep;
    for (const std::string &l : lines)
        if (l.compare(0, head.size(), head) == 0)
            return l.substr(head.size());
    return "<absent>";
}

bool contains(const Lines &lines, const std::string &line)
{
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

class SectionImages : public testing::Test {
protected:
    SectionImages()
    {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedKingdom));
        fillStatus(status);
        fillSystem(system);
        fillConfig(config);
        fillCal(cal);
        fillBasicCal(basicCal);
    }
    ~SectionImages() override { QLocale::setDefault(QLocale::c()); }

    Lines diagnostics(Uptime uptime = {12, 5}) { return diagnosticLines(status, system, uptime, "= "); }

    sStatus status;
    sSystem system;
    sConfig config;
    sCal cal;
    sBasicCal basicCal;
};

} // namespace

TEST(SectionLine, PadsCaptionsToThirtyAndSplitsAtTheFirstEquals)
{
    EXPECT_EQ(sectionLine("Meter ID", "= ", "123"), "Meter ID" + std::string(22, ' ') + "= 123");
    EXPECT_EQ(sectionLine("Meter ID", ", ", "123"), "Meter ID" + std::string(22, ' ') + ", 123");
    // 30 and more characters: the separator follows at once.
    EXPECT_EQ(sectionLine("Low Battery System Alarm Level", "= ", "11.0"), "Low Battery System Alarm Level= 11.0");
    EXPECT_EQ(sectionLine(std::string(34, 'x'), "= ", "v"), std::string(34, 'x') + "= v");
    EXPECT_EQ(sectionLine("Battery Charge Current Offset", "= ", "0.0"), "Battery Charge Current Offset = 0.0");
    // A caption's own trailing blank counts.
    EXPECT_EQ(sectionLine("Uptime days ", "= ", "3 days").find("= "), 30u);
    EXPECT_EQ(flagLine("***** LOW FLOW"), "***** LOW FLOW" + std::string(16, ' '));

    const struct {
        std::string line, left, right;
    } splits[] = {
        {L("Meter ID", "1"), "Meter ID" + std::string(22, ' '), " 1"},
        {flagLine("***** LOW FLOW"), "", flagLine("***** LOW FLOW")},
        {L("Formula", "a=b=c"), "Formula" + std::string(23, ' '), " a=b=c"},
        {"", "", ""},
    };
    for (const auto &s : splits) {
        const auto cols = splitColumns(s.line);
        EXPECT_EQ(cols.first, s.left) << s.line;
        EXPECT_EQ(cols.second, s.right) << s.line;
    }
}

TEST(ValueFormats, NumbersUseAPointWhateverTheLocale)
{
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const struct {
        std::string got, want;
    } cases[] = {
        {fixed(1000.0, 3), "1000.000"},
        {fixed(-12.5, 3), "-12.500"},
        {fixed(1234567.0, 2), "1234567.00"}, // no thousands separator
        {fixed(-0.0001, 3), "0.000"},        // never a minus in front of zero
        {fixed(0.005, 2), "0.01"},
        {fixed(nan, 2), "NAN"},
        {fixed(-inf, 2), "-INF"},
        {decimal(1.0f), "1.0"},
        {decimal(0.89f), "0.89"},
        {decimal(0.123456f), "0.12346"},
        {decimal(-2.5f), "-2.5"},
        {decimal(100.0f), "100.0"},
        {decimal(1e-7f), "0.0"},
        {decimal(-1e-7f), "0.0"},
        {decimal(nan), "NAN"},
        {decimal(inf), "INF"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.got, c.want);
    QLocale::setDefault(QLocale::c());
}

TEST(ValueFormats, DatesFollowTheLocaleWithoutTimeZone)
{
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedKingdom));
    const auto at = [](int y, int mo, int d, int h, int mi, int s) {
        return *DateTime::encode(DateTime::Fields{y, mo, d, h, mi, s, 0});
    };
    EXPECT_EQ(dateTimeText(at(2026, 12, 9, 14, 5, 33)), "09/12/2026 14:05:33");
    EXPECT_EQ(dateTimeText(at(2026, 12, 9, 0, 0, 0)), "09/12/2026"); // midnight: no time
    EXPECT_EQ(dateTimeText(at(2026, 12, 9, 0, 0, 1)), "09/12/2026 00:00:01");
    EXPECT_EQ(dateTimeText(0.0), "30/12/1899");
    EXPECT_EQ(timeText(at(2000, 1, 1, 22, 30, 5)), "22:30:05");
    EXPECT_EQ(timeText(0.0), "00:00:00");
    EXPECT_EQ(dayMonthText(at(2000, 6, 30, 0, 0, 0)), "30 Jun");
    EXPECT_EQ(dayMonthText(0.0), "30 Dec");
    EXPECT_EQ(longDateText(at(2025, 3, 14, 0, 0, 0)), "14 Mar 2025");
    EXPECT_EQ(longDateText(0.0), "30 Dec 1899");

    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    const std::string us = dateTimeText(at(2026, 12, 9, 14, 5, 33));
    EXPECT_EQ(us.substr(0, 8), "12/9/26 ") << us;
    EXPECT_EQ(us.find("PM") != std::string::npos, true) << us;
    EXPECT_EQ(us.find("UTC"), std::string::npos) << us;
    EXPECT_EQ(us.back(), 'M') << us; // nothing after the time
    QLocale::setDefault(QLocale::c());
}

TEST_F(SectionImages, InformationLinesInOrder)
{
    const TechnicianEntries entries{"Jo Bloggs", "DAV01234", "North Weir"};
    const Lines want = {
        L("Technician's Name", "Jo Bloggs"),
        L("Validator License Number", "DAV01234"),
        L("Site Name", "North Weir"),
        L("Date", "09/12/2026 14:05:33"),
        L("Meter ID", "123456"),
        L("Site ID", "4711"),
        L("Firmware Version", "102.4"),
        L("Flowmeter HW Serial Number", "00 1A 2B 3C 4D 5E "),
    };
    EXPECT_EQ(informationLines(entries, fixedNow(), cal, config, system, "= "), want);

    // No validator number: "Site Name" follows the name; an empty site keeps its line.
    cal.setMeterID(4294967295u);
    config.setSiteID(4294967295u);
    const Lines bare = informationLines({"Jo", "", ""}, fixedNow(), cal, config, system, ", ");
    ASSERT_EQ(bare.size(), 7u);
    EXPECT_EQ(bare[1], sectionLine("Site Name", ", ", ""));
    EXPECT_EQ(valueOf(bare, "Meter ID", ", "), "4294967295");
    EXPECT_EQ(valueOf(bare, "Site ID", ", "), "4294967295");
}

TEST(Totals, DecodedFromTheFirstTwoRegistersOfEachGroup)
{
    std::map<unsigned short, unsigned short> regs;
    putTotals(regs, {1000.0f, -12.5f, 0.0f, 1.0f, 2.0f, 3.0f, 4.0f, 5.0f, 6.0f, 123456.789f});
    unsigned char reply[81] = {80};
    for (int i = 0; i < 40; ++i) {
        reply[1 + 2 * i] = static_cast<unsigned char>(regs[static_cast<unsigned short>(116 + i)] >> 8);
        reply[2 + 2 * i] = static_cast<unsigned char>(regs[static_cast<unsigned short>(116 + i)] & 0xFF);
    }
    // Registers 116 and 117 as the meter sends them.
    EXPECT_EQ(reply[1], 0x44);
    EXPECT_EQ(reply[2], 0x7A);

    const auto totals = decodeTotals(reply, sizeof reply);
    ASSERT_TRUE(totals.has_value());
    const Lines lines = totalsLines(totals, "= ");
    const Lines want = {
        L("ForwardTotal", "1000.000"),     L("ReverseTotal", "-12.500"),       L("NettTotal", "0.000"),
        L("PeakForwardTotal", "1.000"),    L("OffPeakForwardTotal", "2.000"), L("PeakReverseTotal", "3.000"),
        L("OffPeakReverseTotal", "4.000"), L("ForwardYTDTotal", "5.000"),     L("ReverseYTDTotal", "6.000"),
        L("NettYTDTotal", "123456.789"),
    };
    EXPECT_EQ(lines, want);

    // A reply short of the forty registers, or one whose byte count says so, is no reading.
    EXPECT_FALSE(decodeTotals(reply, 80).has_value());
    reply[0] = 78;
    EXPECT_FALSE(decodeTotals(reply, sizeof reply).has_value());
    EXPECT_TRUE(totalsLines(std::nullopt, "= ").empty());

    const unsigned char one[] = {2, 0x01, 0x02};
    EXPECT_EQ(decodeRegister(one, 3), std::optional<std::uint16_t>(0x0102));
    EXPECT_FALSE(decodeRegister(one, 2).has_value());
}

TEST_F(SectionImages, DiagnosticLinesOfATypicalMeter)
{
    const Lines want = {
        L("Number of Resets", "17"),
        L("Simulation Mode", "OFF"),
        L("Z960 Date/Time", "09/12/2026 14:05:40"),
        L("Last Powerup", "27/11/2026 09:00:00"),
        L("Uptime days ", "12 days"),
        L("Uptime hours ", "5 hours"),
        L("Flow Velocity", "1.23 m/s"),
        L("Flow Rate", "25.50 L/s"),
        L("Mass Flow", "25.49 Kg/s"),
        L("Flow Voltage", "0.88 mV"),
        L("Coil Voltage", "3.30 Volts"),
        L("Coil Current", "200.00 mA"),
        L("Coil Resistance", "48.25 Ohms"),
        L("Battery Voltage", "12.61 Volts"),
        L("Solar Voltage", "18.04 Volts"),
        L("Temperature", "23.50 Degrees C"),
        L("Self test result", "ALL OK"),
        L("System Fault", "0"),
        L("Alarm Status", "0"),
        L("Gate Position", "3"),
        L("Gate", "OPEN"),
        L("Gate Closed Flow", "0.50"),
        L("PNF", "PIPE FULL"),
        L("EC", " EC OK"),
        L("Option Card Slot 0", "EMPTY SLOT"),
        L("Option Card Slot 1", "CARD MODEM"),
        L("Option Card Slot 2", "EMPTY SLOT"),
    };
    EXPECT_EQ(diagnostics(), want);
}

TEST_F(SectionImages, DiagnosticFlagsSelfTestAndTexts)
{
    const struct {
        std::uint16_t selfTest;
        std::string caption, value;
    } selfTests[] = {
        {127, "Self test result", "ALL OK"},
        {126, "Self test result *****", "126 (ADC )"},
        {255, "Self test result *****", "255 ()"},
        {0, "Self test result *****", "0 (ADC ID CAL/CONF SDCARD RTC POWER COIL )"},
    };
    for (const auto &c : selfTests) {
        system.setSelfTest(c.selfTest);
        EXPECT_EQ(valueOf(diagnostics(), c.caption), c.value) << c.selfTest;
    }

    // Flag lines follow their value line, one per set bit with a text, in bit order.
    const struct {
        std::uint16_t faults, alarms;
        Lines flags; // the lines between "System Fault" and "Gate Position"
    } flagCases[] = {
        {256, 0, {L("System Fault", "256"), L("Alarm Status", "0")}},
        {0x1021, 0x0080,
         {L("System Fault", "4129"), flagLine("***** Coil inductance low"), flagLine("***** Electrode check fault"),
          flagLine("***** High temerature"), L("Alarm Status", "128")}},
        {0, 0x0043,
         {L("System Fault", "0"), L("Alarm Status", "67"), flagLine("***** LOW BATTERY"),
          flagLine("***** PIPE NOT FULL"), flagLine("***** REVERSE FLOW")}},
    };
    for (const auto &c : flagCases) {
        status.setSystemFault(c.faults);
        status.setAlarmStatus(c.alarms);
        const Lines lines = diagnostics();
        const auto from = std::find(lines.begin(), lines.end(), L("System Fault", std::to_string(c.faults)));
        const auto to = std::find(lines.begin(), lines.end(), L("Gate Position", "3"));
        ASSERT_NE(from, lines.end());
        EXPECT_EQ(Lines(from, to), c.flags) << c.faults << " " << c.alarms;
    }

    system.setSimulationMode(3);
    system.setOptionCard(1, 5);
    system.setOptionCard(2, -1);
    status.setPnfEcFlags(0x11);
    status.setGateOpen(0);
    status.setDateTime(Timestamp()); // invalid: 30 December 1899
    const Lines lines = diagnostics({std::nullopt, 7});
    EXPECT_TRUE(contains(lines, L("Simulation Mode", "")));
    EXPECT_TRUE(contains(lines, L("Option Card Slot 1", "")));
    EXPECT_TRUE(contains(lines, L("Option Card Slot 2", "")));
    EXPECT_TRUE(contains(lines, L("PNF", "PIPE EMPTY")));
    EXPECT_TRUE(contains(lines, L("EC", "EC LOW")));
    EXPECT_TRUE(contains(lines, L("Gate", "CLOSED")));
    EXPECT_TRUE(contains(lines, L("Z960 Date/Time", "30/12/1899")));
    EXPECT_EQ(valueOf(lines, "Uptime days "), "<absent>");
    EXPECT_EQ(valueOf(lines, "Uptime hours "), "7 hours");
    system.setSimulationMode(2);
    EXPECT_EQ(valueOf(diagnostics(), "Simulation Mode"), "ON");
}

TEST_F(SectionImages, ConfigurationOutputsAlarmsAndTexts)
{
    Lines lines = configurationLines(config, "= ");
    EXPECT_EQ(lines.size(), 51u); // one 4-20 mA output on
    EXPECT_EQ(lines.front(), L("Site ID", "4711"));
    EXPECT_EQ(lines.back(), L("Modem Window Disabled", "17:00:00"));
    const struct {
        const char *caption;
        std::string value;
    } want[] = {
        {"Flow Volume Units", "LITRES"},
        {"Flow Volume Special Factor", "1.0"},
        {"Flow Time Units", "Seconds"},
        {"Totaliser Units", "KILO LITRES"},
        {"Reverse Flow", "Enabled"},
        {"Gate Control", "Disabled"},
        {"Zero Flow Cutoff", "2.5 mm/s"},
        {"Low Flow Cutoff", "5.0 mm/s"},
        {"Simulation Value", "10.5 L/s"},
        {"Fail Safe Mode Low", "Disabled"},
        {"Battery Alarm Level", "11.5 Volts"},
        {"On Time", "2 seconds"},
        {"Response Time", "4"},
        {"Low Power Mode", "Enabled"},
        {"Halt on Signal Errors", "Disabled"},
        {"Register Logging Interval", "300 seconds"},
        {"Scans between Diagnostic Log", "96"},
        {"Offpeak Start Time", "22:00:00"},
        {"Offpeak Stop Time", "06:30:00"},
        {"EOY Latch Date", "30 Jun"},
        {"Backlight Timeout", "30 seconds"},
        {"Alarm[0]", "LOW_BATTERY, Alarm Logging(On)"},
        {"Alarm[1]", "LO_FLOW      , Alarm Logging(Off)"},
        {"Alarm[2]", "OFF"},
        {"Analog Output[0] Mode", "Forward direction"},
        {"Analog Output[0] Parameters", "Flow rate, 4mA fact(0.0), 20mA fact(50.0), Damping(2.5), Alarm(3.6 mA)"},
        {"Analog Output[1]", "OFF"},
        {"Digital Output[0]", "Flow rate, FREQUENCY, Fullscale Frequency(1000 Hertz), "},
        {"Digital Output[1]", "Fwd Flow, PULSE, Pulse Scale(10), Pulse Width(50 ms)"},
        {"Digital Output[2]", "Velocity, ALARM, "},
        {"Digital Output[3]", "OFF"},
        {"Serialport Protocol Mode", "RS485"},
        {"Baud Rate", "9600"},
        {"Serial Port Format", "N 8 1"},
        {"Modbus ID(address)", "1"},
        {"Modem On Duration", "15 Minutes"},
        {"Modem Window Enabled", "08:00:00"},
    };
    for (const auto &w : want)
        EXPECT_EQ(valueOf(lines, w.caption), w.value) << w.caption;

    // Values without a text, odd outputs and invalid times.
    config.setFlowVolumeUnit(12);
    config.setSerialMode(3);
    config.alarm(0).setAlarm_cause(9);
    config.alarm(1).setAlarm_cause(0);
    config.alarm(1).setRecordOnAlarm(1);
    config.analogOut(0).setMode(5);
    config.analogOut(1).setMode(3);
    config.analogOut(1).setChannel(7);
    config.digitalOut(0).setType(3);
    config.digitalOut(1).setType(1);
    config.digitalOut(1).setChannel(9);
    config.digitalOut(1).setFrequency(-250);
    config.digitalOut(2).setType(7);
    config.setFailSafeModeLow(1);
    config.setOffPeakStart(Timestamp());
    config.setModemWindowEnabled(stamp(2000, 13, 1, 8));
    config.setEoyLatchDate(Timestamp());
    lines = configurationLines(config, "= ");
    EXPECT_EQ(lines.size(), 52u);
    const struct {
        const char *caption;
        std::string value;
    } edge[] = {
        {"Flow Volume Units", ""},
        {"Serialport Protocol Mode", ""},
        {"Alarm[0]", ", Alarm Logging(On)"},
        {"Alarm[1]", "OFF"},
        {"Analog Output[0] Mode", ""},
        {"Analog Output[0] Parameters", "Flow rate, 4mA fact(0.0), 20mA fact(50.0), Damping(2.5), Alarm(3.6 mA)"},
        {"Analog Output[1] Mode", "Bi directional"},
        {"Analog Output[1] Parameters", "4mA fact(0.0), 20mA fact(0.0), Damping(0.0), Alarm(0.0 mA)"},
        {"Digital Output[0]", "Flow rate, ALARM, "},
        {"Digital Output[1]", "FREQUENCY, Fullscale Frequency(-250 Hertz), "},
        {"Digital Output[2]", "Velocity, "},
        {"Fail Safe Mode Low", "Enabled"},
        {"Offpeak Start Time", "00:00:00"},
        {"Modem Window Enabled", "00:00:00"},
        {"EOY Latch Date", "30 Dec"},
    };
    for (const auto &w : edge)
        EXPECT_EQ(valueOf(lines, w.caption), w.value) << w.caption;

    config.analogOut(0).setMode(0);
    config.analogOut(1).setMode(0);
    EXPECT_EQ(configurationLines(config, "= ").size(), 50u);
}

TEST_F(SectionImages, CalibrationLinesInOrder)
{
    const Lines want = {
        L("Meter ID", "123456"),
        L("Flow fullscale", "100.0 L/s"),
        L("Density", "1.0"),
        L("Z640K Factor", "1.0"),
        L("Model replacing", "0"),
        L("Pipe Diameter", "150"),
        L("Pipe Size Units", "millimeters"),
        L("Coil Current", "200 mA"),
        L("Coil frequency", "6.25 Hertz"),
        L("Filter Frequency", "50 Hertz"),
        L("Tube Select", "0.5, 1.5, 3.0"),
        L("FlowTube Factors", "1.0, 1.125, 1.25, 1.375"),
        L("FlowTube Zero", "0.01, -0.02"),
        L("Tube Select", "1.0, 1.0, 1.0, "),
        L("4-20mA Offset[0]", "0.0125"),
        L("4-20mA Span[0]", "1.00123"),
        L("4-20mA Offset[1]", "-0.0125"),
        L("4-20mA Span[1]", "0.99871"),
        L("Calibration Date", "14 Mar 2025"),
        L("Verification Date", "01 Dec 2026"),
    };
    EXPECT_EQ(calibrationLines(cal, "= "), want);

    cal.setDetectorType(0.89f);
    cal.setPipeUnitsMetric(2);
    cal.setFilterNumber(3);
    cal.setCalibrationDate(Timestamp());
    cal.setVerificationDate(stamp(2026, 2, 30));
    const Lines lines = calibrationLines(cal, "= ");
    EXPECT_EQ(valueOf(lines, "Z640K Factor"), "0.89");
    EXPECT_EQ(valueOf(lines, "Pipe Size Units"), "");
    EXPECT_EQ(valueOf(lines, "Filter Frequency"), "");
    EXPECT_EQ(valueOf(lines, "Calibration Date"), "30 Dec 1899");
    EXPECT_EQ(valueOf(lines, "Verification Date"), "30 Dec 1899");
    cal.setFilterNumber(2);
    cal.setPipeUnitsMetric(1);
    EXPECT_EQ(valueOf(calibrationLines(cal, "= "), "Filter Frequency"), "Combined 50/60 Hertz");
    EXPECT_EQ(valueOf(calibrationLines(cal, "= "), "Pipe Size Units"), "inches");
}

TEST_F(SectionImages, HwCalibrationLines)
{
    Lines lines = basicCalibrationLines(basicCal, "= ");
    ASSERT_EQ(lines.size(), 19u);
    EXPECT_EQ(lines[0], L("Compensation[0]", "Formula(1), Chan{(0)(3)}, coeffs[(0.0)(0.5)(1.0)(1.5)(2.0)]"));
    EXPECT_EQ(lines[3], L("Coil Offset", "0.001"));
    EXPECT_EQ(lines[11], "Battery Charge Current Offset = 0.0");
    EXPECT_EQ(lines[17], L("Battery Safety Limit", "10.5 Volts"));
    EXPECT_EQ(lines[18], "Low Battery System Alarm Level= 11.0 Volts");

    basicCal.compensation(1).setFormula(-1);
    basicCal.compensation(1).setChan(0, 3);
    basicCal.compensation(1).setChan(1, 255);
    for (int k = 0; k < 5; ++k)
        basicCal.compensation(1).setCoeffs(k, 0.0f);
    QLocale::setDefault(QLocale(QLocale::French, QLocale::France));
    lines = basicCalibrationLines(basicCal, ", ");
    EXPECT_EQ(lines[1], sectionLine("Compensation[1]", ", ",
                                    "Formula(-1), Chan{(3)(255)}, coeffs[(0.0)(0.0)(0.0)(0.0)(0.0)]"));
}

TEST_F(SectionImages, TitleByBatterySafetyLimit)
{
    const struct {
        float limit;
        const char *title;
    } cases[] = {
        {7.5f, "Z960 Report MeterID - 123456"},
        {7.49f, "Z720 Report MeterID - 123456"},
        {std::numeric_limits<float>::quiet_NaN(), "Z960 Report MeterID - 123456"},
        {-1.0f, "Z720 Report MeterID - 123456"},
    };
    for (const auto &c : cases) {
        basicCal.setLoBatterySafetyLimit(c.limit);
        EXPECT_EQ(reportTitle(cal, basicCal), c.title) << c.limit;
    }
    cal.setMeterID(4294967295u);
    EXPECT_EQ(reportTitle(cal, basicCal), "Z720 Report MeterID - 4294967295");
}

TEST(Csv, BlocksUnderTheirHeadingsAndCrLfAfterEveryLine)
{
    ReportSections::Sections s;
    s.info = {"i"};
    s.diagnostics = {"d1", "d2"};
    s.basicCalibration = {"h"};
    const Lines noNotes = csvLines("T", s);
    const Lines want = {"T", "", "[Information]", "i", "", "[Totals]", "", "[Diagnostics]", "d1", "d2",
                        "", "[Configuration]", "", "[Calibration]", "", "[HW Calibration]", "h"};
    EXPECT_EQ(noNotes, want);

    s.notes = {"note one", ""};
    Lines withNotes = want;
    withNotes.insert(withNotes.end(), {"", "[Technician's Notes]", "note one", ""});
    EXPECT_EQ(csvLines("T", s), withNotes);

    EXPECT_EQ(csvBytes({"a", "", "b"}), QByteArray("a\r\n\r\nb\r\n"));
    EXPECT_EQ(csvBytes({}), QByteArray());
}
