// The setup dialog's fields: what each kind of control shows, accepts,
// refuses and stores, byte for byte, in the link's images.
#include "ConfigFormFixture.h"

#include <QCheckBox>
#include <QComboBox>
#include <QClipboard>
#include <QDateTimeEdit>
#include <QGuiApplication>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <set>

using namespace ConfigTest;
using Config::FieldDesc;
using Config::Image;
using Config::Kind;

namespace {

std::vector<const FieldDesc *> allFields()
{
    std::vector<const FieldDesc *> all;
    for (const Config::FieldTable t : {Config::configurationFields(), Config::calibrationFields(),
                                       Config::basicCalibrationFields(), Config::accessFields()})
        for (const FieldDesc *f = t.begin; f != t.end(); ++f)
            all.push_back(f);
    return all;
}

std::size_t widthOf(const FieldDesc &f) { return Config::widthBytes(f.width); }

// The text of the float next to v away from zero direction dir (+1/-1), exact
// enough to parse back to that float.
QString nextFloatText(double v, int dir)
{
    const float n = std::nextafter(float(v), dir > 0 ? std::numeric_limits<float>::infinity()
                                                     : -std::numeric_limits<float>::infinity());
    return QString::number(double(n), 'g', 9);
}

bool bytesAre(const uint8_t *p, std::initializer_list<uint8_t> expect)
{
    std::size_t i = 0;
    for (uint8_t e : expect)
        if (p[i++] != e)
            return false;
    return true;
}

// How an edit checks and stores its text.
enum class Entry {
    Decimal,  // float32, range-checked
    TubeZero, // float32, its whole part range-checked
    Free,     // float32 stored as typed, never red
    U16,
    U32,
    I16,
};

struct RangeRow {
    std::string name;
    Image image;
    std::size_t offset;
    Entry entry;
    const char *low;  // the lowest text accepted
    const char *high; // the highest text accepted
    std::string hint;
};

// The edits' ranges, hints and places, written out here rather than taken
// from the dialog's own field tables, so a wrong entry there shows.
std::vector<RangeRow> expectedRanges()
{
    using E = Entry;
    const Image C = Image::Config, K = Image::Cal;
    std::vector<RangeRow> rows = {
        {"flowTimeSpecFact", C, 58, E::Decimal, "-1000000.0", "10000000.0",
         "Flow Time Special Factor valid range from -1000000.0 to 10000000.0"},
        {"flowVolumeSpecFact", C, 52, E::Decimal, "-1000000.0", "10000000.0",
         "Flow Volume Special Factor valid range from -1000000.0 to 10000000.0"},
        {"totaliserSpecFact", C, 64, E::Decimal, "0.0", "10000000.0",
         "Totaliser Special Factor valid range from 0.0 to 10000000.0"},
        {"zeroFlowCutOff", C, 34, E::Decimal, "0.0", "80.0", "Zero Flow Cutoff valid range from 0.0 to 80.0"},
        {"lowFlowSetpoint", C, 30, E::Decimal, "0.0", "80.0", "Low Flow Setpoint valid range from 0.0 to 80.0"},
        {"responseTime", C, 38, E::U16, "1", "100", "Response Time valid range from 1 to 100"},
        {"pnfThreshold", C, 20, E::Decimal, "0.0", "10.0", "Pnf Threshold valid range from 0.0 to 10.0"},
        {"ecThreshold", C, 24, E::Decimal, "0.0", "10.0", "Ec Threshold valid range from 0.0 to 10.0"},
        {"simulationVal", C, 12, E::Decimal, "-999.0", "999.0", "Simulation value valid range from -999.0 to 999.0"},
        // Its hint gives a range the edit does not check.
        {"batteryAlarmLevel", C, 282, E::Free, "2", "50", "Battery Alarm Level valid range from 4.0 to 30.0"},
        {"onTime", C, 40, E::U16, "20", "3600", "Scan Duration valid range from 20 to 3600"},
        {"offTime", C, 42, E::U16, "0", "3600", "Scan Off Time valid range from 0 to 3600"},
        {"logPeriod", C, 44, E::U16, "60", "43200", "Logging Interval valid range from 60 to 43200"},
        {"scansPerDiag", C, 46, E::U16, "1", "20", "Number of Scans Per Diagnostic log valid range from 1 to 20"},
        {"zeroFlowOffTime", C, 48, E::U16, "0", "3600", "Zero Flow Off Time valid range from 0 to 3600"},
        {"registerLogInterval", C, 274, E::U16, "900", "43200", "RT Log Interval valid range from 900 to 43200"},
        {"SiteID", C, 4, E::U32, "0", "999999", "Site ID valid range from 0 to 999999"},
        {"backlightTimeOut", C, 8, E::U16, "0", "999", "LCD Backlight Time Out valid range from 0 to 999"},
        {"lcdTimeOut", C, 10, E::U16, "0", "999", "LCD Time Out valid range from 0 to 999"},
        {"lcdContrast", C, 248, E::U16, "0", "100", "LCD Contrast valid range from 0 to 100"},
        {"modemOnDuration", C, 250, E::U16, "0", "1440", "Modem On Duration valid range from 0 to 1440"},
        {"modemInterval", C, 252, E::U16, "0", "1440", "Modem Interval valid range from 0 to 1440"},

        {"meterID", K, 2, E::U32, "0", "999999", "Meter ID valid range from 0 to 999999"},
        {"density", K, 60, E::Decimal, "0.0", "5.0", "Density valid range from 0.0 to 5.0"},
        {"pipeDiam", K, 18, E::U16, "0", "2000", "Pipe Diam valid range from 0 to 2000"},
        {"flowFullScale", K, 6, E::Decimal, "0.0", "99999.0", "Flow Full Scale valid range from 0.0 to 99999.0"},
        {"flowTubeZero", K, 48, E::TubeZero, "-100.9", "100.9", "Flow Tube Zero valid range from -100.0 to 100.0"},
        {"flowTubeFactor1", K, 32, E::Decimal, "0.0", "10000.0", "Tube Factor valid range from 0.0 to 10000.0"},
        {"flowTubeFactor2", K, 36, E::Decimal, "0.0", "10000.0", "Tube Factor valid range from 0.0 to 10000.0"},
        {"flowTubeFactor3", K, 40, E::Decimal, "0.0", "10000.0", "Tube Factor valid range from 0.0 to 10000.0"},
        {"flowTubeFactor4", K, 44, E::Decimal, "0.0", "10000.0", "Tube Factor valid range from 0.0 to 10000.0"},
        {"tubeSetSelect1", K, 20, E::Decimal, "-40.0", "40.0", "Changeover valid range from -40.0 to 40.0"},
        {"tubeSetSelect2", K, 24, E::Decimal, "-40.0", "40.0", "Changeover valid range from -40.0 to 40.0"},
        {"tubeSetSelect3", K, 28, E::Decimal, "-40.0", "40.0", "Changeover valid range from -40.0 to 40.0"},
        {"coilCurrent", K, 14, E::U16, "80", "300", "Coil Current valid range from 80 to 300"},
        {"coilFreq", K, 64, E::Decimal, "0.0", "8.0", "Coil Frequency valid range from 0.0 to 8.0"},
        {"zero4_20_1", K, 76, E::Decimal, "-10.0", "10.0", "Zero 4_20mA valid range from -10.0 to 10.0"},
        {"span4_20_1", K, 68, E::Decimal, "-10.0", "10.0", "Span 4_20mA valid range from -10.0 to 10.0"},
        {"zero4_20_2", K, 80, E::Decimal, "-10.0", "10.0", "Zero 4_20mA valid range from -10.0 to 10.0"},
        {"span4_20_2", K, 72, E::Decimal, "-10.0", "10.0", "Span 4_20mA valid range from -10.0 to 10.0"},
    };
    // Basic calibration: each hint is the label followed by the range.
    const struct {
        const char *name;
        std::size_t offset;
        const char *label;
        const char *low;
        const char *high;
    } trims[] = {
        {"coilZero", 82, "Coil Zero", "-10.0", "10.0"},
        {"coilSpan", 86, "Coil Span", "-10.0", "10.0"},
        {"coilVoltageZero", 90, "Coil Voltage Zero", "-10.0", "10.0"},
        {"coilVoltageSpan", 94, "Coil Voltage Span", "-10.0", "10.0"},
        {"coilCurrentZero", 98, "Coil Current Zero", "-10.0", "10.0"},
        {"coilCurrentSpan", 102, "Coil Current Span", "-10.0", "10.0"},
        {"batVoltageZero", 106, "Battery Voltage Zero", "-10.0", "10.0"},
        {"batVoltageSpan", 110, "Battery Voltage Span", "-10.0", "10.0"},
        {"batChargeCurrentZero", 114, "Battery Charge Current Zero", "-10.0", "10.0"},
        {"batChargeCurrentSpan", 118, "Battery Charge Current Span", "-10.0", "10.0"},
        {"solarVoltageZero", 122, "Solar Voltage Zero", "-10.0", "10.0"},
        {"solarVoltageSpan", 126, "Solar Voltage Span", "-10.0", "10.0"},
        {"temperatureZero", 130, "Temperature Zero", "-10.0", "10.0"},
        {"temperatureSpan", 134, "Temperature Span", "-10.0", "10.0"},
        {"loBatterySafetyLimit", 168, "Low Battery Safety Limit", "1.0", "30.0"},
        {"loBatteryAlarmLevel", 172, "Low Battery Alarm Level", "1.0", "30.0"},
    };
    for (const auto &t : trims)
        rows.push_back({t.name, Image::BasicCal, t.offset, E::Decimal, t.low, t.high,
                        std::string(t.label) + " valid range from " + t.low + " to " + t.high});
    // One row for each output k: digital output k at 200 + 10(k-1), analog
    // output k at 160 + 20(k-1), the field at its place in the record.
    const struct {
        const char *prefix;
        int outputs;
        std::size_t first;
        std::size_t stride;
        std::size_t field;
        Entry entry;
        const char *low;
        const char *high;
        const char *hint;
    } outputs[] = {
        {"DO_Frequency", 4, 200, 10, 2, E::I16, "-1000", "1000", "Frequency valid range from -1000 to1000"},
        {"DO_PulseScale", 4, 200, 10, 6, E::U16, "1", "50000", "Pulse Scale valid range from 1 to 50000"},
        {"DO_PulseWidth", 4, 200, 10, 8, E::U16, "20", "125", "Pulse Width valid range from 20 to 125"},
        {"AnalogOut_damping", 2, 160, 20, 4, E::Decimal, "0.0", "1000.0", "Damping valid range from 0.0 to 1000.0"},
        {"AnalogOut_zero", 2, 160, 20, 8, E::Decimal, "0.0", "1000.0", "Zero 4-20mA valid range from 0.0 to 1000.0"},
        {"AnalogOut_span", 2, 160, 20, 12, E::Decimal, "0.0", "99999.0", "Span 4-20mA valid range from 0.0 to 99999.0"},
        {"AnalogOut_limit", 2, 160, 20, 16, E::Decimal, "20.0", "120.0", "Alarm Limit valid range from 20.0 to 120.0"},
    };
    for (const auto &o : outputs)
        for (int k = 1; k <= o.outputs; ++k)
            rows.push_back({o.prefix + std::to_string(k), C, o.first + o.stride * std::size_t(k - 1) + o.field, o.entry,
                            o.low, o.high, o.hint});
    return rows;
}

// Texts just outside the row's range: the neighbouring float of a decimal
// bound, the next whole number past an integer one. A free edit has none.
QStringList outsideTexts(const RangeRow &r)
{
    const QString low = QString::fromLatin1(r.low), high = QString::fromLatin1(r.high);
    switch (r.entry) {
    case Entry::Decimal: return {nextFloatText(low.toDouble(), -1), nextFloatText(high.toDouble(), +1)};
    case Entry::TubeZero: return {QStringLiteral("-101"), QStringLiteral("101")};
    case Entry::Free: return {};
    default: return {QString::number(low.toLongLong() - 1), QString::number(high.toLongLong() + 1)};
    }
}

// The images after the row's edit accepted the text.
Images stored(Images im, const RangeRow &r, const QString &text)
{
    uint8_t *p = im.of(r.image) + r.offset;
    switch (r.entry) {
    case Entry::Decimal:
    case Entry::TubeZero:
    case Entry::Free: putF32(p, text.toFloat()); break;
    case Entry::U32: putU32(p, uint32_t(text.toLongLong())); break;
    case Entry::U16:
    case Entry::I16: putU16(p, uint16_t(text.toInt())); break;
    }
    return im;
}

} // namespace

TEST(ConfigFields, EveryFieldHasItsControlAndPlaceInTheImage)
{
    Dialog d;
    std::set<std::string> names;
    std::map<std::pair<int, int>, std::string> bytes; // (image, offset) -> owner
    for (const FieldDesc *f : allFields()) {
        EXPECT_TRUE(names.insert(f->name).second) << "duplicate " << f->name;
        QWidget *w = d.form->fieldControl(QString::fromLatin1(f->name));
        ASSERT_NE(w, nullptr) << f->name;
        EXPECT_EQ(w->objectName(), QString::fromLatin1(f->name));
        // No two fields share a byte, except the two bits of the flags word.
        if (f->kind == Kind::FlagBit)
            continue;
        for (std::size_t i = 0; i < widthOf(*f); ++i) {
            const auto key = std::make_pair(int(f->image), int(f->offset + i));
            EXPECT_TRUE(bytes.emplace(key, f->name).second) << f->name << " overlaps " << bytes[key];
        }
    }
}

TEST(ConfigFields, ComboBoxesListTheSetupDialogItems)
{
    Dialog d;
    const struct {
        const char *name;
        QStringList items;
    } cases[] = {
        {"flowVolumeUnit",
         {"MEGA_LITRES ", "CUBIC_METRES", "KILO_LITRES", "LITRES", "CUBIC_FEET", "IMPERIAL_GALLONS",
          "IMPERIAL_MEGA_GALLONS", "US_GALLONS", "US_MEGA_GALLONS", "ACRE_FEET", "SPECIAL_UNITS_FACTOR", "METER"}},
        {"flowTimeUnit", {"SECONDS", "MINUTES", "HOURS", "DAYS", "SPECIAL_TIME_FACTOR"}},
        {"failSafeModeLow", {"FAIL LOW", "FAIL HIGH"}},
        {"alarm_cause3",
         {"Off", "Low Battery", "Pipe Not Full", "System Fault", "Low Flow", "Hi Flow", "Forward Flow",
          "Reverse Flow"}},
        {"DO_type2", {"OFF", "FREQUENCY ", "PULSE", "ALARM"}},
        {"DO_Channel4", {"Velocity", "Flow rate", "Mass Flow", "Fwd Flow", "Rev Flow", "Net Total"}},
        {"AnalogOut_mode1", {"Off", "Forward", "Reverse", "Bi directional"}},
        {"AnalogOut_Channel2", {"Velocity", "Flow rate", "Mass Flow"}},
        {"filterNumber", {"50 HZ", "60 HZ", "50 & 60 HZ"}},
        {"pipeUnitsMetric", {"milimeters", "inches"}},
    };
    for (const auto &c : cases) {
        auto *combo = d.control<QComboBox>(c.name);
        ASSERT_NE(combo, nullptr) << c.name;
        QStringList items;
        for (int i = 0; i < combo->count(); ++i)
            items << combo->itemText(i);
        EXPECT_EQ(items, c.items) << c.name;
    }
    EXPECT_EQ(d.control<QComboBox>("totaliserUnit")->count(), 12);
}

TEST(ConfigFields, OpeningAndSavingWithoutEditsKeepsEveryByte)
{
    Dialog d;
    EXPECT_TRUE(d.unchangedExcept());
    d.prompter.dialogs.push_back([&](QDialog &) {
        d.form->SaveBtn->click();
        return d.form->result();
    });
    EXPECT_EQ(d.form->ShowModal(), TConfigForm::mrOk);
    EXPECT_TRUE(d.prompter.messages.empty());
    EXPECT_TRUE(d.unchangedExcept());
}

TEST(ConfigFields, LoadingShowsAndMarksValuesButStoresNothing)
{
    Images im = validImages();
    putF32(im.basicCal.data() + 82, 0.0000045f);   // coilZero trim
    putF32(im.config.data() + 20, 0.000001f);      // pnfThreshold
    putF32(im.config.data() + 24, 3.14159265f);    // ecThreshold
    putF32(im.config.data() + 12, 1000.0f);        // simulationVal out of range
    putF32(im.config.data() + 52, std::numeric_limits<float>::quiet_NaN());
    putF32(im.cal.data() + 6, std::numeric_limits<float>::infinity());
    putU32(im.config.data() + 4, 3000000000u);     // SiteID beyond a signed 32-bit value
    putU32(im.cal.data() + 2, 1000000);            // meterID above its range
    putU16(im.config.data() + 106, 0);             // pwdC0 of an unset meter
    putU16(im.config.data() + 18, 5);              // emptyPipeDetect non-zero, not 1
    putU16(im.config.data() + 50, 12);             // flowVolumeUnit without an item
    putU16(im.config.data() + 200, 0xFFFF);        // DO_type1 -1 as int16
    const uint8_t badStamp[10] = {0, 13, 40, 25, 61, 61, 1, 2, 3, 4};
    std::memcpy(im.config.data() + 70, badStamp, 10);
    Dialog d(im);

    EXPECT_TRUE(d.unchangedExcept()) << "building the dialog wrote into an image";
    const struct {
        const char *name;
        const char *text;
        bool red;
    } shown[] = {
        {"coilZero", "0.0", false},       {"pnfThreshold", "0.0", false}, {"ecThreshold", "3.14159", false},
        {"simulationVal", "1000.0", true}, {"flowVolumeSpecFact", "nan", true}, {"flowFullScale", "inf", true},
        {"SiteID", "3000000000", true},   {"meterID", "1000000", true},   {"pwdC0", "0", false},
    };
    for (const auto &s : shown) {
        EXPECT_EQ(d.edit(s.name)->text(), QString::fromLatin1(s.text)) << s.name;
        EXPECT_EQ(d.red(s.name), s.red) << s.name;
        if (!s.red) {
            EXPECT_TRUE(Dialog::isBlack(d.edit(s.name))) << s.name;
        }
    }
    EXPECT_EQ(d.prompter.texts(), QStringList{QStringLiteral("Access code needs to be a value between 1 and 9999")});
    EXPECT_TRUE(d.control<QCheckBox>("emptyPipeDetect")->isChecked());
    EXPECT_EQ(d.control<QComboBox>("flowVolumeUnit")->currentIndex(), -1);
    EXPECT_EQ(d.control<QComboBox>("DO_type1")->currentIndex(), -1);
    EXPECT_EQ(d.control<QDateTimeEdit>("offPeakStart")->dateTime(),
              QDateTime(QDate(1899, 12, 30), QTime(0, 0), Qt::UTC));

    // Saving is refused while loaded values are out of range; still nothing written.
    d.form->SaveBtnClick();
    EXPECT_TRUE(d.unchangedExcept());
}

TEST(ConfigFields, RangesHintsAndMessagesOfEveryEdit)
{
    const std::vector<RangeRow> rows = expectedRanges();
    Dialog d;
    // Every edit with a range or hint is in the table, and the access codes have none.
    std::set<std::string> listed;
    for (const RangeRow &r : rows)
        listed.insert(r.name);
    for (const FieldDesc *f : allFields()) {
        if (!Config::isEdit(f->kind))
            continue;
        if (f->kind == Kind::AccessCode)
            EXPECT_TRUE(d.edit(f->name)->toolTip().isEmpty()) << f->name;
        else
            EXPECT_EQ(listed.count(f->name), 1u) << f->name << " is missing from the table";
    }

    for (const RangeRow &r : rows) {
        const char *name = r.name.c_str();
        ASSERT_NE(d.edit(name), nullptr) << name;
        EXPECT_EQ(d.edit(name)->toolTip().toStdString(), r.hint) << name;
        for (const QString &text : {QString::fromLatin1(r.low), QString::fromLatin1(r.high)}) {
            const std::string where = r.name + " '" + text.toStdString() + "'";
            d.paste(name, QString()); // start from an empty edit
            const Images before = d.now();
            d.paste(name, text);
            EXPECT_FALSE(d.red(name)) << where;
            EXPECT_TRUE(d.now() == stored(before, r, text)) << where << ": not stored as typed, or other bytes changed";
        }
        for (const QString &text : outsideTexts(r)) {
            const std::string where = r.name + " '" + text.toStdString() + "'";
            d.paste(name, QString());
            const Images before = d.now();
            d.prompter.messages.clear();
            d.paste(name, text);
            EXPECT_TRUE(d.red(name)) << where;
            EXPECT_TRUE(d.now() == before) << where << ": stored";
            EXPECT_TRUE(d.prompter.messages.empty()) << where;
            EXPECT_FALSE(d.form->ValidateAll()) << where;
            EXPECT_EQ(d.prompter.texts().join(QLatin1Char('|')).toStdString(), "Error, " + r.hint)
                << where;
            d.paste(name, QString::fromLatin1(r.low)); // black again for the next row
        }
    }
}

TEST(ConfigFields, DecimalsCompareAsThirtyTwoBitFloats)
{
    Dialog d;
    // 10.0000001 is the float 10.0: inside 0.0 to 10.0, stored as 10.0.
    d.paste("pnfThreshold", QStringLiteral("10.0000001"));
    EXPECT_FALSE(d.red("pnfThreshold"));
    EXPECT_EQ(getF32(d.at(Image::Config, 20)), 10.0f);
    d.paste("pnfThreshold", QStringLiteral("10.000001"));
    EXPECT_TRUE(d.red("pnfThreshold"));
    EXPECT_EQ(getF32(d.at(Image::Config, 20)), 10.0f);
    // Values are stored at full precision, not rounded to the shown format.
    d.paste("coilSpan", QStringLiteral("0.0000045"));
    EXPECT_EQ(getF32(d.at(Image::BasicCal, 86)), 0.0000045f);
}

TEST(ConfigFields, TextsThatAreNoNumberMarkRedAndStoreNothing)
{
    const struct {
        const char *name;
        const char *text;
    } cases[] = {
        {"density", "."},        {"density", "-."},        {"density", "abc"},     {"flowFullScale", "1e39"},
        {"flowFullScale", "nan"}, {"coilFreq", "1..2"},    {"batteryAlarmLevel", "x"},
        {"batteryAlarmLevel", "-1e40"}, {"flowTubeZero", "1e20"}, {"flowTubeZero", "."},
        {"pipeDiam", "99999999999"}, {"pipeDiam", "12a"},  {"pipeDiam", "-"},       {"meterID", "1.5"},
        {"DO_Frequency2", "--5"}, {"DO_Frequency2", "1e3"}, {"pwdU1", "abc"},       {"pwdU1", "99999999999"},
    };
    Dialog d;
    for (const auto &c : cases) {
        d.paste(c.name, QString::fromLatin1(c.text));
        EXPECT_TRUE(d.red(c.name)) << c.name << " '" << c.text << "'";
        EXPECT_TRUE(d.unchangedExcept()) << c.name << " '" << c.text << "'";
        EXPECT_TRUE(d.prompter.messages.empty()) << c.name << " '" << c.text << "'";
    }
}

TEST(ConfigFields, EmptyTextOrALoneSignWaitsWithoutStoringOrMarking)
{
    const struct {
        const char *name;
        const char *valid;
        const char *text;
    } cases[] = {
        {"coilFreq", "5", ""},          {"coilFreq", "5", "-"},        {"coilFreq", "5", "+"},
        {"flowTubeZero", "5", "-"},     {"batteryAlarmLevel", "5", "+"}, {"DO_Frequency3", "5", "-"},
        {"DO_Frequency3", "5", "+"},    {"onTime", "50", ""},          {"pwdC0", "5", ""},
    };
    Dialog d;
    for (const auto &c : cases) {
        // A valid or an unreadable entry first, then the empty text or the sign.
        for (const bool wasRed : {false, true}) {
            d.paste(c.name, QString::fromLatin1(wasRed ? "x" : c.valid));
            ASSERT_EQ(d.red(c.name), wasRed) << c.name;
            const Images before = d.now();
            d.paste(c.name, QString::fromLatin1(c.text));
            EXPECT_EQ(d.red(c.name), wasRed) << c.name << " '" << c.text << "'";
            EXPECT_TRUE(d.now() == before) << c.name << " '" << c.text << "'";
        }
    }
}

TEST(ConfigFields, StoredBytesAtTheFieldsOwnOffsets)
{
    const struct {
        const char *name;
        const char *text;
        Image image;
        std::size_t offset;
        std::vector<uint8_t> bytes;
    } cases[] = {
        {"DO_Frequency1", "-1000", Image::Config, 202, {0x18, 0xFC}},
        {"DO_Frequency4", "-250", Image::Config, 232, {0x06, 0xFF}},
        {"SiteID", "999999", Image::Config, 4, {0x3F, 0x42, 0x0F, 0x00}},
        {"meterID", "123456", Image::Cal, 2, {0x40, 0xE2, 0x01, 0x00}},
        {"DO_PulseScale3", "50000", Image::Config, 226, {0x50, 0xC3}},
        {"registerLogInterval", "900", Image::Config, 274, {0x84, 0x03}},
        {"flowTubeFactor2", "300", Image::Cal, 36, {0x00, 0x00, 0x96, 0x43}},
        {"zero4_20_2", "-1.5", Image::Cal, 80, {0x00, 0x00, 0xC0, 0xBF}},
        {"span4_20_1", "2", Image::Cal, 68, {0x00, 0x00, 0x00, 0x40}},
        {"AnalogOut_limit2", "20", Image::Config, 196, {0x00, 0x00, 0xA0, 0x41}},
        {"tubeSetSelect3", "-40", Image::Cal, 28, {0x00, 0x00, 0x20, 0xC2}},
        {"loBatteryAlarmLevel", "30", Image::BasicCal, 172, {0x00, 0x00, 0xF0, 0x41}},
        {"batteryAlarmLevel", "2", Image::Config, 282, {0x00, 0x00, 0x00, 0x40}},
        {"batteryAlarmLevel", "50", Image::Config, 282, {0x00, 0x00, 0x48, 0x42}},
        {"flowTubeZero", "100.5", Image::Cal, 48, {0x00, 0x00, 0xC9, 0x42}},
        {"pwdC1", "0042", Image::Config, 108, {0x2A, 0x00}},
    };
    for (const auto &c : cases) {
        Dialog d;
        d.paste(c.name, QString::fromLatin1(c.text));
        EXPECT_FALSE(d.red(c.name)) << c.name;
        const uint8_t *p = d.at(c.image, c.offset);
        EXPECT_EQ(std::vector<uint8_t>(p, p + c.bytes.size()), c.bytes) << c.name << " " << c.text;
        EXPECT_TRUE(d.unchangedExcept(c.image, c.offset, c.bytes.size())) << c.name << " wrote other bytes";
    }
}

TEST(ConfigFields, TypedEntriesPassTheKeyFilterOnTheirWay)
{
    Dialog d;
    d.type("DO_Frequency1", QStringLiteral("-"));
    EXPECT_TRUE(d.unchangedExcept()) << "a lone sign stores nothing";
    QTest::keyClicks(d.edit("DO_Frequency1"), QStringLiteral("250"));
    EXPECT_EQ(d.edit("DO_Frequency1")->text(), QStringLiteral("-250"));
    EXPECT_TRUE(bytesAre(d.at(Image::Config, 202), {0x06, 0xFF}));
    d.type("DO_Frequency1", QStringLiteral("1001"));
    EXPECT_TRUE(d.red("DO_Frequency1"));
    EXPECT_TRUE(bytesAre(d.at(Image::Config, 202), {0x64, 0x00})) << "keeps 100, the last value accepted";

    d.type("coilFreq", QStringLiteral("7.5x.5-"));
    EXPECT_EQ(d.edit("coilFreq")->text(), QStringLiteral("7.55"));
    d.type("density", QStringLiteral("a")); // density has no key filter
    EXPECT_EQ(d.edit("density")->text(), QStringLiteral("a"));
    EXPECT_TRUE(d.red("density"));

    // Enter never reaches an edit with a filter and so never saves the dialog.
    QTest::keyClick(d.edit("coilFreq"), Qt::Key_Return);
    EXPECT_EQ(d.form->result(), 0);
    QTest::keyClick(d.edit("coilFreq"), Qt::Key_Backspace);
    EXPECT_EQ(d.edit("coilFreq")->text(), QStringLiteral("7.5"));
}

TEST(ConfigFields, KeyFilterRules)
{
    Dialog d;
    TConfigForm &f = *d.form;
    using Filter = void (TConfigForm::*)(QObject *, char &);
    const struct {
        Filter filter;
        const char *edit;
        const char *text;
        char key;
        bool accepted;
        char becomes = 0; // the character the edit is given, when not the key itself
    } cases[] = {
        {&TConfigForm::coilZeroKeyPress, "coilFreq", "", '-', true},
        {&TConfigForm::coilZeroKeyPress, "coilFreq", "", '+', true},
        {&TConfigForm::coilZeroKeyPress, "coilFreq", "1", '-', false},
        {&TConfigForm::coilZeroKeyPress, "coilFreq", "1", '.', true},
        {&TConfigForm::coilZeroKeyPress, "coilFreq", "1.2", '.', false},
        {&TConfigForm::coilZeroKeyPress, "coilFreq", "1.2", '7', true},
        {&TConfigForm::coilZeroKeyPress, "coilFreq", "1", 'e', false},
        {&TConfigForm::coilZeroKeyPress, "coilFreq", "", ',', true, '.'},
        {&TConfigForm::coilZeroKeyPress, "coilFreq", "12", ',', true, '.'},
        {&TConfigForm::coilZeroKeyPress, "coilFreq", "-3", ',', true, '.'},
        {&TConfigForm::coilZeroKeyPress, "coilFreq", "1.", ',', false},
        {&TConfigForm::coilZeroKeyPress, "coilFreq", "1.2", ',', false},
        {&TConfigForm::coilZeroKeyPress, "coilFreq", "1,2", ',', false}, // a pasted comma is a separator
        {&TConfigForm::coilZeroKeyPress, "coilFreq", "1,2", '.', false},
        {&TConfigForm::coilCurrentKeyPress, "coilCurrent", "1", ',', false},
        {&TConfigForm::DO_Frequency1KeyPress, "DO_Frequency2", "5", ',', false},
        {&TConfigForm::coilZeroKeyPress, "coilFreq", "1", '\r', false},
        {&TConfigForm::coilZeroKeyPress, "coilFreq", "1", 8, true},
        {&TConfigForm::coilZeroKeyPress, "coilFreq", "1", 12, true},
        {&TConfigForm::coilCurrentKeyPress, "coilCurrent", "", '-', false},
        {&TConfigForm::coilCurrentKeyPress, "coilCurrent", "1", '.', false},
        {&TConfigForm::coilCurrentKeyPress, "coilCurrent", "12345", '6', true},
        {&TConfigForm::coilCurrentKeyPress, "coilCurrent", "1", '\r', false},
        {&TConfigForm::coilCurrentKeyPress, "pwdU2", "123", '4', true},
        {&TConfigForm::coilCurrentKeyPress, "pwdU2", "1234", '5', false},
        {&TConfigForm::coilCurrentKeyPress, "pwdU2", "1234", 12, false},
        {&TConfigForm::coilCurrentKeyPress, "pwdU2", "1234", 8, true},
        {&TConfigForm::DO_Frequency1KeyPress, "DO_Frequency2", "", '-', true},
        {&TConfigForm::DO_Frequency1KeyPress, "DO_Frequency2", "5", '-', false},
        {&TConfigForm::DO_Frequency1KeyPress, "DO_Frequency2", "5", '.', false},
        {&TConfigForm::DO_Frequency1KeyPress, "DO_Frequency2", "5", '0', true},
    };
    for (const auto &c : cases) {
        QLineEdit *e = d.edit(c.edit);
        {
            const QSignalBlocker block(e);
            e->setText(QString::fromLatin1(c.text));
        }
        char key = c.key;
        (f.*c.filter)(e, key);
        EXPECT_EQ(key != 0, c.accepted) << c.edit << " '" << c.text << "' + " << int(c.key);
        if (c.accepted) {
            EXPECT_EQ(key, c.becomes ? c.becomes : c.key) << c.edit << " '" << c.text << "' + " << int(c.key);
        }
    }

    // Typed: a fifth digit is refused, backspace still deletes.
    d.type("pwdC1", QStringLiteral("98765"));
    EXPECT_EQ(d.edit("pwdC1")->text(), QStringLiteral("9876"));
    QTest::keyClick(d.edit("pwdC1"), Qt::Key_Backspace);
    EXPECT_EQ(d.edit("pwdC1")->text(), QStringLiteral("987"));
}

TEST(ConfigFields, UpgradeTubeFactorRefusesKeysUntilABoreIsChosen)
{
    Dialog d;
    TConfigForm &f = *d.form;
    QTest::keyClick(f.Z640ConverionFlowTubeFactor, '4');
    EXPECT_TRUE(f.Z640ConverionFlowTubeFactor->text().isEmpty());
    EXPECT_EQ(d.prompter.texts(), QStringList{QStringLiteral("Please select a value for Nominal Bore first")});
    f.NominalBoreCB->setCurrentIndex(0);
    QTest::keyClick(f.Z640ConverionFlowTubeFactor, '4');
    EXPECT_EQ(f.Z640ConverionFlowTubeFactor->text(), QStringLiteral("4"));
    EXPECT_EQ(d.prompter.messages.size(), 1u);
}

TEST(ConfigFields, AccessCodes)
{
    Dialog d;
    const uint16_t before = getU16(d.at(Image::Config, 108));
    for (const char *text : {"0", "10000"}) {
        d.prompter.messages.clear();
        d.paste("pwdC1", QString::fromLatin1(text));
        EXPECT_EQ(d.prompter.texts(), QStringList{QStringLiteral("Access code needs to be a value between 1 and 9999")})
            << text;
        EXPECT_FALSE(d.red("pwdC1")) << text;
        EXPECT_EQ(getU16(d.at(Image::Config, 108)), before) << text;
    }
    for (const char *text : {"1", "9999", "4321"}) {
        d.paste("pwdC1", QString::fromLatin1(text));
        EXPECT_EQ(getU16(d.at(Image::Config, 108)), QString::fromLatin1(text).toUInt()) << text;
    }
    d.paste("pwdC1", QStringLiteral("-3")); // pasted: below the range
    EXPECT_TRUE(d.red("pwdC1"));
    EXPECT_EQ(getU16(d.at(Image::Config, 108)), 4321);
}

TEST(ConfigFields, ComboBoxesStoreTheShownItemOnly)
{
    Images im = validImages();
    putU16(im.config.data() + 50, 12);
    Dialog d(im);
    auto *unit = d.control<QComboBox>("flowVolumeUnit");
    EXPECT_EQ(unit->currentIndex(), -1);
    unit->setCurrentIndex(3); // "LITRES"
    EXPECT_EQ(getU16(d.at(Image::Config, 50)), 3);
    unit->setCurrentIndex(-1);
    EXPECT_EQ(getU16(d.at(Image::Config, 50)), 3) << "no item shown stores nothing";

    auto *filter = d.control<QComboBox>("filterNumber");
    filter->setCurrentIndex(2);
    EXPECT_EQ(getU16(d.at(Image::Cal, 12)), 2);
    auto *cause = d.control<QComboBox>("alarm_cause4");
    cause->setCurrentIndex(7);
    EXPECT_TRUE(d.unchangedExcept(Image::Config, 50, 2) == false); // the unit changed above
    EXPECT_EQ(getU16(d.at(Image::Config, 112 + 36 + 2)), 7);
}

TEST(ConfigFields, CheckBoxesAndFlagBits)
{
    const struct {
        uint16_t flags;
        const char *box;
        bool check;
        uint16_t expect;
    } cases[] = {
        {4, "haltScanOnSignalError", true, 6},  {7, "lowPowerMode", false, 6},
        {0x00F0, "lowPowerMode", true, 0x00F1}, {0x0003, "haltScanOnSignalError", false, 0x0001},
    };
    for (const auto &c : cases) {
        Images im = validImages();
        putU16(im.config.data() + 280, c.flags);
        Dialog d(im);
        auto *box = d.control<QCheckBox>(c.box);
        ASSERT_EQ(box->isChecked(), !c.check) << c.box;
        box->click();
        EXPECT_EQ(getU16(d.at(Image::Config, 280)), c.expect) << c.box;
        EXPECT_TRUE(d.unchangedExcept(Image::Config, 280, 2));
    }

    Images im = validImages();
    putU16(im.config.data() + 18, 5);
    Dialog d(im);
    auto *pipe = d.control<QCheckBox>("emptyPipeDetect");
    EXPECT_TRUE(pipe->isChecked());
    EXPECT_EQ(getU16(d.at(Image::Config, 18)), 5) << "loading stores nothing";
    pipe->click();
    EXPECT_EQ(getU16(d.at(Image::Config, 18)), 0);
    pipe->click();
    EXPECT_EQ(getU16(d.at(Image::Config, 18)), 1);
    d.control<QCheckBox>("recordOnAlarm3")->click();
    EXPECT_EQ(getU16(d.at(Image::Config, 112 + 24)), 0);
}

TEST(ConfigFields, PickersStoreDateAndTimeIntoTheRecord)
{
    Images im = validImages();
    const uint8_t stamp[10] = {24, 2, 29, 6, 0, 0, 0xA1, 0xA2, 0xA3, 0xA4};
    std::memcpy(im.config.data() + 70, stamp, 10);
    Dialog d(im);
    auto *start = d.control<QDateTimeEdit>("offPeakStart");
    EXPECT_EQ(start->dateTime(), QDateTime(QDate(2024, 2, 29), QTime(6, 0), Qt::UTC));
    start->setTime(QTime(22, 30, 0));
    EXPECT_TRUE(bytesAre(d.at(Image::Config, 70), {24, 2, 29, 22, 30, 0, 0xA1, 0xA2, 0xA3, 0xA4}));
    EXPECT_TRUE(d.unchangedExcept(Image::Config, 70, 6));

    auto *eoy = d.control<QDateTimeEdit>("eoyLatchDate");
    eoy->setDate(QDate(2031, 6, 30));
    EXPECT_TRUE(bytesAre(d.at(Image::Config, 90), {31, 6, 30}));
    auto *modem = d.control<QDateTimeEdit>("ModemWindowDisabled");
    modem->setTime(QTime(7, 5, 9));
    EXPECT_TRUE(bytesAre(d.at(Image::Config, 264 + 3), {7, 5, 9}));
}

TEST(ConfigFields, ADecimalCommaIsTypedAsThePointWhereTheDecimalFilterRuns)
{
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const struct {
        const char *name;
        Image image;
        std::size_t offset;
        const char *typed;
        const char *shown;
        bool red;
        float stored;
    } cases[] = {
        {"flowTimeSpecFact", Image::Config, 58, "2,5", "2.5", false, 2.5f},
        {"flowTimeSpecFact", Image::Config, 58, ",5", ".5", false, 0.5f},
        {"simulationVal", Image::Config, 12, "-1,25", "-1.25", false, -1.25f},
        {"coilFreq", Image::Cal, 64, "2,5,.5", "2.55", false, 2.55f}, // a second separator is refused
        {"coilZero", Image::BasicCal, 82, "1.2,5", "1.25", false, 1.25f},
        // Without a key filter the comma stays, and is the point all the same.
        {"density", Image::Cal, 60, "2,5", "2,5", false, 2.5f},
        {"flowFullScale", Image::Cal, 6, "2,5", "2,5", false, 2.5f},
        // A second separator is no number: red, the image keeps 2.5, the
        // last value accepted, and Save is refused.
        {"density", Image::Cal, 60, "2,5,", "2,5,", true, 2.5f},
        {"flowFullScale", Image::Cal, 6, "2.5,", "2.5,", true, 2.5f},
    };
    for (const auto &c : cases) {
        Dialog d;
        d.type(c.name, QString::fromLatin1(c.typed));
        EXPECT_EQ(d.edit(c.name)->text(), QString::fromLatin1(c.shown)) << c.name << " " << c.typed;
        EXPECT_EQ(d.red(c.name), c.red) << c.name << " " << c.typed;
        EXPECT_EQ(getF32(d.at(c.image, c.offset)), c.stored) << c.name << " " << c.typed;
        EXPECT_TRUE(d.unchangedExcept(c.image, c.offset, 4)) << c.name << " wrote other bytes";
        EXPECT_EQ(d.form->ValidateAll(), !c.red) << c.name;
    }

    // The decimal key of a German keypad types ",".
    Dialog d;
    d.edit("ecThreshold")->clear();
    QTest::keyClick(d.edit("ecThreshold"), '3');
    QTest::keyClick(d.edit("ecThreshold"), Qt::Key_Comma, Qt::KeypadModifier);
    QTest::keyClick(d.edit("ecThreshold"), '7');
    EXPECT_EQ(d.edit("ecThreshold")->text(), QStringLiteral("3.7"));
    EXPECT_EQ(getF32(d.at(Image::Config, 24)), 3.7f);
    QLocale::setDefault(saved);
}

// Fills the conversion page's other entries validly for bore 400 and performs it.
static void performConversion(TConfigForm &form, QLineEdit *entered)
{
    const std::pair<QLineEdit *, const char *> others[] = {
        {form.Z640ConverionMeterID, "640123"},       {form.Z640ConverionFlowTubeZero, "-5"},
        {form.Z640ConverionFlowTubeFactor, "2000"},  {form.TechnicianName, "Jo Tech"},
        {form.SiteName, "North Pump"},
    };
    for (const auto &[edit, text] : others)
        if (edit != entered)
            edit->setText(QString::fromLatin1(text));
    form.NotesMemo->setPlainText(QStringLiteral("Replaced after lightning strike"));
    form.Z640ConversionSaveBtn->click();
}

// Every decimal entry of the dialog, the older-model conversion's two
// included, typed and pasted with a decimal comma.
TEST(ConfigFields, EveryDecimalEntryTakesADecimalCommaTypedOrPasted)
{
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    struct Entry {
        QString name;
        Image image;
        std::size_t offset;
        double min, max;
        bool filtered;  // typed keys pass the decimal key filter
    };
    std::vector<Entry> entries;
    for (const FieldDesc *f : allFields())
        if (f->kind == Kind::Decimal || f->kind == Kind::TubeZero || f->kind == Kind::FreeDecimal)
            entries.push_back({QString::fromLatin1(f->name), f->image, f->offset, f->min, f->max,
                               Config::filterOf(*f) == Config::Filter::Decimal});
    entries.push_back({QStringLiteral("Z640ConverionFlowTubeZero"), Image::Cal, 48, -100, 100, true});
    entries.push_back({QStringLiteral("Z640ConverionFlowTubeFactor"), Image::Cal, 44, 1870, 5635, true}); // bore 400
    ASSERT_EQ(entries.size(), 50u);

    enum class Entered { Typed, Pasted };
    for (const Entry &e : entries) {
        // One dialog serves an entry's cases; a performed conversion closes it.
        const bool conversion = e.name.startsWith(QLatin1String("Z640"));
        std::unique_ptr<Dialog> dialog;
        // "2,5", or a value with a comma inside a range that lacks 2.5.
        const double value = e.min <= 2.5 && 2.5 <= e.max ? 2.5 : e.min + 0.5;
        const QString comma = QString::number(value, 'f', 1).replace(QLatin1Char('.'), QLatin1Char(','));
        for (const Entered how : {Entered::Typed, Entered::Pasted}) {
            for (const bool twice : {false, true}) {
                const QString text = twice ? comma + QStringLiteral(",1") : comma;
                SCOPED_TRACE(e.name.toStdString() + (how == Entered::Typed ? " typed " : " pasted ") +
                             text.toStdString());
                if (!dialog || conversion) {
                    dialog.reset(); // its prompter goes before the next one comes
                    dialog = std::make_unique<Dialog>();
                }
                Dialog &d = *dialog;
                d.form->NominalBoreCB->setCurrentText(QStringLiteral("400"));
                auto *edit = d.form->findChild<QLineEdit *>(e.name);
                ASSERT_NE(edit, nullptr);
                const std::vector<uint8_t> before(d.at(e.image, e.offset), d.at(e.image, e.offset) + 4);
                edit->clear();
                if (how == Entered::Typed) {
                    QTest::keyClicks(edit, text);
                } else {
                    QGuiApplication::clipboard()->setText(text);
                    QTest::keySequence(edit, QKeySequence::Paste);
                    ASSERT_EQ(edit->text(), text) << "the paste did not arrive";
                }
                // The conversion's entries reach the image when it is performed.
                if (conversion)
                    performConversion(*d.form, edit);
                const bool twoSeparatorsKept = twice && (how == Entered::Pasted || !e.filtered);
                if (twoSeparatorsKept) {
                    // Refused: red, nothing stored (a typed text keeps what it
                    // held before the second separator), Save refused.
                    EXPECT_TRUE(Dialog::isRed(edit));
                    if (how == Entered::Pasted || conversion)
                        EXPECT_EQ(std::vector<uint8_t>(d.at(e.image, e.offset), d.at(e.image, e.offset) + 4), before);
                    else
                        EXPECT_EQ(getF32(d.at(e.image, e.offset)), float(value));
                    EXPECT_FALSE(d.form->ValidateAll());
                    continue;
                }
                // The key filter refuses a second separator: "2,5,1" types "2.51".
                const double expected = twice ? QString(comma + QLatin1Char('1')).replace(',', '.').toDouble() : value;
                if (how == Entered::Typed && e.filtered) {
                    EXPECT_FALSE(edit->text().contains(QLatin1Char(',')));
                }
                EXPECT_FALSE(Dialog::isRed(edit));
                EXPECT_EQ(getF32(d.at(e.image, e.offset)), float(expected));
                if (conversion) {
                    EXPECT_EQ(d.form->result(), TConfigForm::mrOk) << d.prompter.texts().join('|').toStdString();
                } else {
                    EXPECT_TRUE(d.unchangedExcept(e.image, e.offset, 4));
                    EXPECT_TRUE(d.form->ValidateAll()) << d.prompter.texts().join('|').toStdString();
                }
            }
        }
    }

    // Whole-number entries refuse a separator, typed or pasted, as before.
    for (const char *name : {"pipeDiam", "SiteID", "DO_Frequency1", "pwdC1"}) {
        SCOPED_TRACE(name);
        Dialog d;
        d.type(name, QStringLiteral("1,5"));
        EXPECT_EQ(d.edit(name)->text(), QStringLiteral("15"));
        d.edit(name)->clear();
        QGuiApplication::clipboard()->setText(QStringLiteral("1,5"));
        QTest::keySequence(d.edit(name), QKeySequence::Paste);
        EXPECT_TRUE(d.red(name));
    }
    QLocale::setDefault(saved);
}

TEST(ConfigFields, NumbersUseADotWhateverTheLocale)
{
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    Images im = validImages();
    putF32(im.config.data() + 24, 3.14159265f);
    {
        Dialog d(im);
        EXPECT_EQ(d.edit("ecThreshold")->text(), QStringLiteral("3.14159"));
        // What is shown can be typed back.
        d.type("ecThreshold", QStringLiteral("3.14159"));
        EXPECT_FALSE(d.red("ecThreshold"));
        EXPECT_EQ(getF32(d.at(Image::Config, 24)), 3.14159f);
    }
    QLocale::setDefault(saved);
}
