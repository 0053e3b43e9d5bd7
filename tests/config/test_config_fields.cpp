// The setup dialog's fields: what each kind of control shows, accepts,
// refuses and stores, byte for byte, in the link's images.
#include "ConfigFormFixture.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QLocale>
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

} // namespace

TEST(ConfigFields, EveryFieldHasItsControlHintAndPlaceInTheImage)
{
    Dialog d;
    std::set<std::string> names;
    std::map<std::pair<int, int>, std::string> bytes; // (image, offset) -> owner
    for (const FieldDesc *f : allFields()) {
        EXPECT_TRUE(names.insert(f->name).second) << "duplicate " << f->name;
        QWidget *w = d.form->fieldControl(QString::fromLatin1(f->name));
        ASSERT_NE(w, nullptr) << f->name;
        EXPECT_EQ(w->objectName(), QString::fromLatin1(f->name));
        if (Config::isEdit(f->kind)) {
            EXPECT_EQ(w->toolTip(), f->hint ? QString::fromLatin1(f->hint) : QString()) << f->name;
            EXPECT_EQ(f->kind == Kind::AccessCode, f->hint == nullptr) << f->name;
        }
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

TEST(ConfigFields, RangeBoundariesOfEveryEdit)
{
    Dialog d;
    for (const FieldDesc *f : allFields()) {
        if (!Config::isEdit(f->kind) || f->kind == Kind::FreeDecimal)
            continue;
        const bool decimal = f->kind == Kind::Decimal;
        const bool tubeZero = f->kind == Kind::TubeZero;
        struct Case {
            QString text;
            bool accepted;
        };
        std::vector<Case> cases;
        if (decimal) {
            cases = {{QString::number(f->min, 'f', 1), true},
                     {QString::number(f->max, 'f', 1), true},
                     {nextFloatText(f->min, -1), false},
                     {nextFloatText(f->max, +1), false}};
        } else if (tubeZero) {
            cases = {{"100.9", true}, {"-100.9", true}, {"100.0001", true}, {"101", false}, {"-101.0", false}};
        } else if (f->kind == Kind::AccessCode) {
            cases = {{"1", true}, {QString::number(f->max), true}}; // 0 and 10000: see AccessCodes
        } else {
            cases = {{QString::number(f->min), true},
                     {QString::number(f->max), true},
                     {QString::number(f->max + 1), false},
                     {QString::number(f->min - 1), false}};
        }
        for (const Case &c : cases) {
            d.paste(f->name, QString()); // start from an empty edit
            const Images before = d.now();
            d.prompter.messages.clear();
            d.paste(f->name, c.text);
            const std::string where = std::string(f->name) + " '" + c.text.toStdString() + "'";
            EXPECT_EQ(d.red(f->name), !c.accepted) << where;
            EXPECT_TRUE(d.prompter.messages.empty()) << where;
            Images expect = before;
            if (c.accepted) {
                uint8_t *p = expect.at(*f);
                if (decimal || tubeZero)
                    putF32(p, c.text.toFloat());
                else if (f->width == Config::Width::U32)
                    putU32(p, uint32_t(c.text.toLongLong()));
                else
                    putU16(p, uint16_t(c.text.toInt()));
            }
            EXPECT_TRUE(d.now() == expect) << where << (c.accepted ? ": wrong bytes stored" : ": stored");
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
    } cases[] = {
        {&TConfigForm::coilZeroKeyPress, "coilFreq", "", '-', true},
        {&TConfigForm::coilZeroKeyPress, "coilFreq", "", '+', true},
        {&TConfigForm::coilZeroKeyPress, "coilFreq", "1", '-', false},
        {&TConfigForm::coilZeroKeyPress, "coilFreq", "1", '.', true},
        {&TConfigForm::coilZeroKeyPress, "coilFreq", "1.2", '.', false},
        {&TConfigForm::coilZeroKeyPress, "coilFreq", "1.2", '7', true},
        {&TConfigForm::coilZeroKeyPress, "coilFreq", "1", 'e', false},
        {&TConfigForm::coilZeroKeyPress, "coilFreq", "1", ',', false},
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
