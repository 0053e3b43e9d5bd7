// The older-model upgrade page and the detector type page of the setup dialog.
#include "ConfigFormFixture.h"

#include "link/Z960Enums.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QGroupBox>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include <cstring>
#include <utility>
#include <vector>

using ConfigTest::getF32;
using ConfigTest::getU16;
using ConfigTest::getU32;
using ConfigTest::putF32;

namespace {

// Calibration image offsets the conversion writes.
constexpr std::size_t kMeterId = 2, kPipeUnits = 10, kPipeDiam = 18, kTubeFactor4 = 44, kTubeZero1 = 48,
                      kDetector = 56;

struct Conversion : ::testing::Test {
    ConfigTest::Dialog d;
    TConfigForm &form = *d.form;

    void type(QWidget *w, const QString &text) { QTest::keyClicks(w, text); }
    void chooseBore(const QString &bore) { form.NominalBoreCB->setCurrentText(bore); }
    // Every entry of the page filled with valid values for bore 400.
    void fillValid()
    {
        type(form.Z640ConverionMeterID, "640123");
        chooseBore("400");
        type(form.Z640ConverionFlowTubeFactor, "1870");
        type(form.Z640ConverionFlowTubeZero, "100.7");
        type(form.TechnicianName, "Jo Tech");
        type(form.SiteName, "North Pump");
        type(form.ValidatorLicenseNumber, "12345");
        form.NotesMemo->setPlainText("Replaced after lightning strike");
    }
    // True when the images differ from the original in nothing but the given
    // calibration bytes (offset, width).
    bool calChangedOnlyAt(std::vector<std::pair<std::size_t, std::size_t>> ranges) const
    {
        ConfigTest::Images expect = d.original;
        const ConfigTest::Images actual = d.now();
        for (auto [offset, width] : ranges)
            std::memcpy(expect.cal.data() + offset, actual.cal.data() + offset, width);
        return actual == expect;
    }
    const uint8_t *cal(std::size_t offset) const { return d.at(Config::Image::Cal, offset); }
};

} // namespace

// ---- nominal bore and tube factor ---------------------------------------------------------

TEST_F(Conversion, EachBoreSetsItsLimitsAndHintAndBothEndsAreInclusive)
{
    const struct {
        int bore;
        float min, max;
    } rows[] = {{50, 2975, 6210}, {80, 3485, 6555}, {100, 3230, 5980}, {150, 3060, 4945}, {200, 3145, 5520},
                {225, 3655, 5520}, {250, 2635, 4830}, {300, 2848, 5520}, {350, 3060, 5175}, {375, 3655, 6210},
                {400, 1870, 5635}, {420, 2380, 3680}, {445, 2635, 4370}, {450, 2550, 4945}, {470, 2380, 4140},
                {485, 3230, 5060}, {500, 2720, 4485}, {600, 2805, 4830}};
    ASSERT_EQ(form.NominalBoreCB->count(), int(std::size(rows)));
    for (const auto &row : rows) {
        SCOPED_TRACE(row.bore);
        chooseBore(QString::number(row.bore));
        EXPECT_EQ(form.tubeFactorMin, row.min);
        EXPECT_EQ(form.tubeFactorMax, row.max);
        EXPECT_EQ(form.Z640ConverionFlowTubeFactor->toolTip(),
                  QStringLiteral("Tube Factor valid range from %1.0 to %2.0").arg(row.min).arg(row.max));
        EXPECT_EQ(form.Z640ConverionFlowTubeZero->toolTip(), "Tube Zero valid range from -100.0 to 100.0");
        const struct {
            float value;
            bool ok;
        } values[] = {{row.min, true}, {row.max, true}, {row.min - 0.1f, false}, {row.max + 0.1f, false}};
        for (const auto &v : values) {
            form.Z640ConverionFlowTubeFactor->setText(QString::number(double(v.value), 'f', 1));
            EXPECT_EQ(ConfigTest::Dialog::isRed(form.Z640ConverionFlowTubeFactor), !v.ok) << v.value;
            EXPECT_EQ(form.CheckTubeFactor(), v.ok) << v.value;
        }
    }
    EXPECT_TRUE(d.prompter.messages.empty());
}

TEST_F(Conversion, TypingABoreReportsEachUnknownPrefixUntilItIsKnown)
{
    type(form.NominalBoreCB->lineEdit(), "150");
    EXPECT_EQ(d.prompter.texts(), (QStringList{"Unknown value for Nominal Bore", "Unknown value for Nominal Bore"}));
    EXPECT_EQ(form.tubeFactorMin, 3060.0f);

    chooseBore("151");
    EXPECT_EQ(form.tubeFactorMin, 0.0f);
    EXPECT_EQ(form.tubeFactorMax, 0.0f);
    EXPECT_EQ(form.Z640ConverionFlowTubeFactor->toolTip(), "Tube Factor valid range from 3060.0 to 4945.0");
    form.Z640ConverionFlowTubeFactor->setText("3500");
    EXPECT_TRUE(ConfigTest::Dialog::isRed(form.Z640ConverionFlowTubeFactor));

    // A text that is no number leaves the limits as they were.
    chooseBore("100");
    d.prompter.messages.clear();
    chooseBore("10x");
    ASSERT_EQ(d.prompter.messages.size(), 1u);
    EXPECT_EQ(form.tubeFactorMin, 3230.0f);
}

TEST_F(Conversion, TubeFactorKeysAreRefusedUntilABoreIsChosen)
{
    type(form.Z640ConverionFlowTubeFactor, "3");
    EXPECT_EQ(form.Z640ConverionFlowTubeFactor->text(), "");
    EXPECT_EQ(d.prompter.texts(), QStringList{"Please select a value for Nominal Bore first"});
    chooseBore("50");
    type(form.Z640ConverionFlowTubeFactor, "3000.5");
    EXPECT_EQ(form.Z640ConverionFlowTubeFactor->text(), "3000.5");
}

// A held tube factor is checked again against each newly chosen bore, so the
// conversion converts or refuses by the bore it is given.
TEST_F(Conversion, ChangingTheBoreChecksTheEnteredFactorAgain)
{
    const struct {
        const char *name;
        const char *firstBore, *factor, *secondBore;
        bool red;
        QStringList messages;  // after "Perform conversion"
    } cases[] = {
        {"unknown bore, then one that fits", "151", "3500", "150", false, {}},
        {"fitting bore, then one that does not", "50", "4000", "420",
         true, {"Error, Tube Factor valid range from 2380.0 to 3680.0"}},
        {"fitting bore, then an unknown one", "400", "1870", "151",
         true, {"Error, Tube Factor valid range from 1870.0 to 5635.0"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ConfigTest::Dialog dialog;
        TConfigForm &f = *dialog.form;
        QTest::keyClicks(f.Z640ConverionMeterID, "640123");
        QTest::keyClicks(f.Z640ConverionFlowTubeZero, "0");
        QTest::keyClicks(f.TechnicianName, "T");
        QTest::keyClicks(f.SiteName, "S");
        f.NotesMemo->setPlainText("n");
        f.NominalBoreCB->setCurrentText(c.firstBore);
        f.Z640ConverionFlowTubeFactor->setText(c.factor);
        f.NominalBoreCB->setCurrentText(c.secondBore);
        EXPECT_EQ(ConfigTest::Dialog::isRed(f.Z640ConverionFlowTubeFactor), c.red);
        EXPECT_EQ(f.Z640ConverionFlowTubeFactor->text(), c.factor) << "the entry is kept";
        dialog.prompter.messages.clear();
        f.Z640ConversionSaveBtn->click();
        EXPECT_EQ(dialog.prompter.texts(), c.messages);
        EXPECT_EQ(f.conversionDone, c.messages.isEmpty());
        if (f.conversionDone)
            EXPECT_EQ(getF32(dialog.at(Config::Image::Cal, kTubeFactor4)), QString(c.factor).toFloat());
        else
            EXPECT_TRUE(dialog.unchangedExcept());
    }
}

// ---- the conversion -------------------------------------------------------------------------

TEST_F(Conversion, WritesExactlyTheOldMetersFieldsAndEndsWithOk)
{
    fillValid();
    EXPECT_TRUE(d.unchangedExcept()) << "entries are held until the conversion";
    form.Z640ConversionSaveBtn->click();

    EXPECT_TRUE(d.prompter.messages.empty()) << d.prompter.texts().join('|').toStdString();
    EXPECT_EQ(form.result(), TConfigForm::mrOk);
    EXPECT_TRUE(form.conversionDone);
    EXPECT_EQ(getU32(cal(kMeterId)), 640123u);
    EXPECT_EQ(getU16(cal(kPipeDiam)), 400);
    EXPECT_EQ(getU16(cal(kPipeUnits)), 0);
    EXPECT_EQ(getF32(cal(kTubeFactor4)), 1870.0f);
    EXPECT_EQ(getF32(cal(kTubeZero1)), 100.7f);
    EXPECT_EQ(getF32(cal(kDetector)), 0.89f);
    EXPECT_TRUE(calChangedOnlyAt({{kMeterId, 4}, {kPipeUnits, 2}, {kPipeDiam, 2}, {kTubeFactor4, 4},
                                  {kTubeZero1, 4}, {kDetector, 4}}));
    EXPECT_EQ(form.ValidatorLicenseNumber->text(), "DAV12345");
    EXPECT_EQ(form.TechnicianName->text(), "Jo Tech");
    EXPECT_EQ(form.SiteName->text(), "North Pump");
}

TEST_F(Conversion, ADecimalCommaInTheTubeEntriesIsThePoint)
{
    fillValid();
    for (QLineEdit *e : {form.Z640ConverionFlowTubeFactor, form.Z640ConverionFlowTubeZero})
        e->clear();
    type(form.Z640ConverionFlowTubeFactor, "1870,25,");
    type(form.Z640ConverionFlowTubeZero, "-12,5");
    EXPECT_EQ(form.Z640ConverionFlowTubeFactor->text(), "1870.25");
    EXPECT_EQ(form.Z640ConverionFlowTubeZero->text(), "-12.5");
    form.Z640ConversionSaveBtn->click();

    EXPECT_TRUE(d.prompter.messages.empty()) << d.prompter.texts().join('|').toStdString();
    EXPECT_EQ(form.result(), TConfigForm::mrOk);
    EXPECT_EQ(getF32(cal(kTubeFactor4)), 1870.25f);
    EXPECT_EQ(getF32(cal(kTubeZero1)), -12.5f);
}

// Leaving the page, by Exit or by saving from another page, sends nothing of it.
TEST_F(Conversion, ALeftConversionWritesNothingOfIt)
{
    for (const bool save : {false, true}) {
        SCOPED_TRACE(save);
        ConfigTest::Dialog dialog;

        TConfigForm &f = *dialog.form;
        QTest::keyClicks(f.Z640ConverionMeterID, "640123");
        f.NominalBoreCB->setCurrentText("400");
        QTest::keyClicks(f.Z640ConverionFlowTubeFactor, "2000");
        QTest::keyClicks(f.Z640ConverionFlowTubeZero, "-5");
        if (save) {
            f.InformationSBClick(f.CalibrationSB);
            f.SaveBtn->click();
            EXPECT_EQ(f.result(), TConfigForm::mrOk);
        } else {
            f.Z640ConversionCancelBtn->click();
            EXPECT_EQ(f.result(), TConfigForm::mrCancel);
        }
        EXPECT_FALSE(f.conversionDone);
        EXPECT_TRUE(dialog.unchangedExcept());
    }
}

TEST_F(Conversion, RefusalsShowTheirMessageAndWriteNothing)
{
    const struct {
        const char *name;
        std::function<void(TConfigForm &)> spoil;
        QStringList messages;
    } cases[] = {
        {"no bore",
         [](TConfigForm &f) {
             f.NominalBoreCB->setCurrentText("");
         },
         {"Please select a value for Nominal Bore first", "Error, Tube Factor valid range from 1870.0 to 5635.0"}},
        {"empty technician", [](TConfigForm &f) { f.TechnicianName->clear(); }, {"Error, "}},
        {"empty tube zero", [](TConfigForm &f) { f.Z640ConverionFlowTubeZero->clear(); },
         {"Error, Tube Zero valid range from -100.0 to 100.0"}},
        {"tube zero only a sign", [](TConfigForm &f) { f.Z640ConverionFlowTubeZero->setText("-"); },
         {"Error, Tube Zero valid range from -100.0 to 100.0"}},
        {"tube zero out of range", [](TConfigForm &f) { f.Z640ConverionFlowTubeZero->setText("101"); },
         {"Error, Tube Zero valid range from -100.0 to 100.0"}},
        {"empty meter ID", [](TConfigForm &f) { f.Z640ConverionMeterID->clear(); },
         {"Error, Meter ID valid range from 0 to 999999"}},
        {"no notes", [](TConfigForm &f) { f.NotesMemo->clear(); }, {"Please enter some comments"}},
        {"red edit elsewhere",
         [](TConfigForm &f) {
             qobject_cast<QLineEdit *>(f.fieldControl("coilFreq"))->setText("100000");
         },
         {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ConfigTest::Dialog dialog;
        TConfigForm &f = *dialog.form;
        QTest::keyClicks(f.Z640ConverionMeterID, "640123");
        f.NominalBoreCB->setCurrentText("400");
        QTest::keyClicks(f.Z640ConverionFlowTubeFactor, "1870");
        QTest::keyClicks(f.Z640ConverionFlowTubeZero, "0");
        QTest::keyClicks(f.TechnicianName, "T");
        QTest::keyClicks(f.SiteName, "S");
        f.NotesMemo->setPlainText("n");
        c.spoil(f);
        dialog.prompter.messages.clear();
        f.Z640ConversionSaveBtn->click();
        if (c.messages.isEmpty()) {
            ASSERT_EQ(dialog.prompter.messages.size(), 1u);
            EXPECT_TRUE(dialog.prompter.messages[0].text.startsWith("Error, "));
        } else {
            EXPECT_EQ(dialog.prompter.texts(), c.messages);
        }
        EXPECT_FALSE(f.conversionDone);
        EXPECT_EQ(f.result(), 0);
        EXPECT_EQ(f.ValidatorLicenseNumber->text(), "DAV");
        EXPECT_TRUE(dialog.unchangedExcept(Config::Image::Cal, 64, 4)); // coilFreq may hold its own entry
    }
}

TEST_F(Conversion, WithoutAnyBoreTheConversionQuotesTheBoreHint)
{
    form.Z640ConversionSaveBtn->click();
    EXPECT_EQ(d.prompter.texts(),
              (QStringList{"Please select a value for Nominal Bore first", "Error, Please select a Nominal Bore"}));
    EXPECT_FALSE(form.conversionDone);
    EXPECT_TRUE(d.unchangedExcept());
}

// ---- validator licence number -------------------------------------------------------------

TEST_F(Conversion, LicenceNumberKeepsItsPrefixAndFiveDigits)
{
    QLineEdit *licence = form.ValidatorLicenseNumber;
    EXPECT_EQ(licence->text(), "DAV");
    type(licence, "a\r-1x2");
    EXPECT_EQ(licence->text(), "DAV12");
    type(licence, "3456");
    EXPECT_EQ(licence->text(), "DAV12345") << "a sixth digit passes the filter but not the length";
    for (int i = 0; i < 7; ++i)
        QTest::keyClick(licence, Qt::Key_Backspace);
    EXPECT_EQ(licence->text(), "DAV") << "backspace stops at the bare prefix";

    licence->setCursorPosition(0);
    QTest::keyClick(licence, Qt::Key_Delete);
    EXPECT_EQ(licence->text(), "DAV") << "restored when the key is released";
}

TEST_F(Conversion, ABareLicencePrefixReachesTheCallerEmpty)
{
    fillValid();
    form.ValidatorLicenseNumber->setText("DAV");
    form.Z640ConversionSaveBtn->click();
    EXPECT_TRUE(form.conversionDone);
    EXPECT_EQ(form.ValidatorLicenseNumber->text(), "");
}

// ---- detector type ------------------------------------------------------------------------

TEST(DetectorPage, LoadsTheStoredFactorAndSavesTheChosenOne)
{
    const struct {
        float stored;
        int item;
        bool invalid;
    } cases[] = {{1.0f, 0, false}, {0.89f, 1, false}, {0.0f, 2, true}, {0.8900001f, 2, true}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.stored);
        ConfigTest::Images images = ConfigTest::validImages();
        putF32(images.cal.data() + kDetector, c.stored);
        ConfigTest::Dialog d(images);
        TConfigForm &f = *d.form;
        EXPECT_EQ(f.detectorItemIndex(), c.item);
        EXPECT_EQ(f.invalidDetectorType, c.invalid);
        EXPECT_FALSE(f.DetectorSaveBtn->isEnabled());

        if (c.invalid) {
            f.DetectorSaveBtnClick();
            EXPECT_EQ(d.prompter.texts(), QStringList{"Please select a valid detector type"});
            EXPECT_EQ(f.result(), 0);
            EXPECT_TRUE(d.unchangedExcept());
        }
        for (const auto &[item, factor] : {std::pair{0, 1.0f}, std::pair{1, 0.89f}}) {
            ConfigTest::Dialog again(images);
            auto *radio = again.form->DetectorGB->findChild<QRadioButton *>(QStringLiteral("DetectorItem%1").arg(item));
            ASSERT_NE(radio, nullptr);
            radio->click();
            EXPECT_TRUE(again.form->DetectorSaveBtn->isEnabled());
            again.form->DetectorSaveBtn->click();
            EXPECT_EQ(again.form->result(), TConfigForm::mrOk);
            const float stored = getF32(again.at(Config::Image::Cal, kDetector));
            EXPECT_EQ(std::memcmp(&stored, &factor, 4), 0) << item;
            EXPECT_TRUE(again.unchangedExcept(Config::Image::Cal, kDetector, 4));
        }
    }
}
