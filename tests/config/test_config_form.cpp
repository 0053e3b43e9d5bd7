// The setup dialog's frame: pages and page buttons, access levels, the
// validation that guards page changes and Save, the modal results, the
// detector warning at show and the main window kept centred.
#include "ConfigFormFixture.h"

#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>
#include <QToolButton>
#include <gtest/gtest.h>

using namespace ConfigTest;
using Platform::MsgButtons;
using Platform::MsgIcon;
using Platform::MsgResult;

namespace {

std::vector<QToolButton *> pageButtons(const TConfigForm &f)
{
    return {f.ConfigurationSB, f.CalibrationSB, f.BasicCalibrationSB, f.AccessSB,
            f.ClearLogsSB,     f.ResetTotalisersSB, f.Z640ConversionSB, f.DetectorSB};
}

const char *const kCalHint = "Coil Current valid range from 80 to 300";
const char *const kBasicHint = "Coil Zero valid range from -10.0 to 10.0";

} // namespace

TEST(ConfigForm, OpensOnTheUnitsTabOfTheConfigurationPage)
{
    Dialog d;
    TConfigForm &f = *d.form;
    EXPECT_EQ(f.windowTitle(), QStringLiteral("Flowmeter setup"));
    EXPECT_EQ(f.PageControl->currentWidget(), f.ConfigurationPage);
    EXPECT_EQ(f.ConfigPageControl->currentIndex(), 0);
    EXPECT_EQ(f.ConfigPageControl->tabText(0), QStringLiteral("Units"));
    EXPECT_FALSE(f.SaveBtn->isHidden());
    EXPECT_FALSE(f.CancelBtn->isHidden());
    EXPECT_FALSE(f.invalidDetectorType);
    EXPECT_FALSE(f.conversionDone);
    EXPECT_FALSE(f.DetectorSaveBtn->isEnabled());
    EXPECT_TRUE(d.prompter.messages.empty());

    const QStringList tabs = {"Units",  "Values", "Totals",  "Scanning", "Alarms",
                              "Digital Outputs", "Analog Outputs", "General", "Modem"};
    ASSERT_EQ(f.ConfigPageControl->count(), tabs.size());
    for (int i = 0; i < tabs.size(); ++i)
        EXPECT_EQ(f.ConfigPageControl->tabText(i), tabs[i]);

    const QStringList captions = {"Configuration", "Calibration", "Basic Calibration", "Access codes",
                                  "Clear Logs",    "Zero Totalisers", "Z640-Z960 Upgrade", "Detector Type"};
    const auto buttons = pageButtons(f);
    for (int i = 0; i < captions.size(); ++i)
        EXPECT_EQ(buttons[i]->text(), captions[i]);
}

TEST(ConfigForm, AccessLevelEnablesPageButtons)
{
    // Columns: Configuration; Calibration, Basic, Access, Clear logs; Zero, Upgrade, Detector.
    const struct {
        short level;
        bool configuration, calibration, actions;
    } cases[] = {
        {0, false, false, false}, {1, false, false, false}, {2, true, false, true},
        {3, true, true, true},    {4, true, true, true},    {-1, true, true, true},
    };
    for (const auto &c : cases) {
        Dialog d(validImages(), c.level);
        const auto b = pageButtons(*d.form);
        const bool expected[] = {c.configuration, c.calibration, c.calibration, c.calibration,
                                 c.calibration,   c.actions,     c.actions,     c.actions};
        for (std::size_t i = 0; i < b.size(); ++i)
            EXPECT_EQ(b[i]->isEnabled(), expected[i]) << "level " << c.level << " " << b[i]->objectName().toStdString();
        // Whatever the level, the configuration page is open with Save and Cancel.
        EXPECT_EQ(d.form->PageControl->currentWidget(), d.form->ConfigurationPage);
        EXPECT_FALSE(d.form->SaveBtn->isHidden());
    }
}

TEST(ConfigForm, PageButtonsShowTheirPages)
{
    Dialog d;
    TConfigForm &f = *d.form;
    const struct {
        QToolButton *button;
        QWidget *page;
        bool saveCancelShown;
    } routes[] = {
        {f.CalibrationSB, f.CalibrationPage, true},
        {f.DetectorSB, f.DetectorPage, false},
        {f.BasicCalibrationSB, f.BasicCalibrationPage, true},
        {f.ClearLogsSB, f.ClearLogsPage, true}, // keeps the state the calibration page left
        {f.AccessSB, f.AccessPage, true},
        {f.ResetTotalisersSB, f.ResetTotalsPage, true},
        {f.DetectorSB, f.DetectorPage, false},
        {f.ClearLogsSB, f.ClearLogsPage, false}, // unchanged: still hidden
        {f.ConfigurationSB, f.ConfigurationPage, true},
    };
    for (const auto &r : routes) {
        r.button->click();
        EXPECT_EQ(f.PageControl->currentWidget(), r.page) << r.button->objectName().toStdString();
        EXPECT_EQ(!f.SaveBtn->isHidden(), r.saveCancelShown) << r.button->objectName().toStdString();
        EXPECT_EQ(!f.CancelBtn->isHidden(), r.saveCancelShown) << r.button->objectName().toStdString();
        EXPECT_TRUE(r.button->isChecked());
    }
    EXPECT_TRUE(d.prompter.messages.empty());
}

TEST(ConfigForm, ZeroTotalisersPagePutsItsInstructionInTheMemo)
{
    Dialog d;
    d.form->ResetTotalsMemo->setPlainText(QStringLiteral("old progress\nlines"));
    d.form->ResetTotalisersSB->click();
    EXPECT_EQ(d.form->ResetTotalsMemo->toPlainText(),
              QStringLiteral("Press the 'Zero Totalisers' button below to reset all totaliser values to 0"));
}

TEST(ConfigForm, UpgradePageNeedsTheConfirmation)
{
    Dialog d;
    TConfigForm &f = *d.form;
    d.prompter.answers = {MsgResult::Cancel};
    f.Z640ConversionSB->click();
    ASSERT_EQ(d.prompter.messages.size(), 1u);
    const auto &m = d.prompter.messages[0];
    EXPECT_TRUE(m.text.startsWith(QStringLiteral("Warning:\r\nShould incorrect Z640 flowmeter calibration")));
    EXPECT_TRUE(m.text.endsWith(QStringLiteral("original calibration certificate before proceeding")));
    EXPECT_EQ(m.icon, MsgIcon::Information);
    EXPECT_EQ(m.buttons, MsgButtons::OkCancel);
    // Cancelled: the empty page stays, Save and Cancel as they were.
    EXPECT_EQ(f.PageControl->currentWidget(), f.Blank);
    EXPECT_FALSE(f.SaveBtn->isHidden());

    d.prompter.answers = {MsgResult::Ok};
    f.Z640ConversionSB->click();
    EXPECT_EQ(f.PageControl->currentWidget(), f.Z640Page);
    EXPECT_TRUE(f.SaveBtn->isHidden());
    EXPECT_TRUE(f.CancelBtn->isHidden());
}

TEST(ConfigForm, RedFieldHoldsThePageUntilCorrected)
{
    Dialog d;
    TConfigForm &f = *d.form;
    f.CalibrationSB->click();
    d.paste("coilCurrent", QStringLiteral("79"));
    ASSERT_TRUE(d.red("coilCurrent"));

    for (QToolButton *b : {f.BasicCalibrationSB, f.ConfigurationSB, f.DetectorSB}) {
        d.prompter.messages.clear();
        b->click();
        ASSERT_EQ(d.prompter.texts(), QStringList{QStringLiteral("Error, ") + kCalHint}) << b->objectName().toStdString();
        EXPECT_EQ(f.PageControl->currentWidget(), f.CalibrationPage);
        EXPECT_TRUE(f.CalibrationSB->isChecked()) << "the current page keeps its button down";
    }

    d.paste("coilCurrent", QStringLiteral("80"));
    EXPECT_FALSE(d.red("coilCurrent"));
    d.prompter.messages.clear();
    f.BasicCalibrationSB->click();
    EXPECT_EQ(f.PageControl->currentWidget(), f.BasicCalibrationPage);
    EXPECT_TRUE(d.prompter.messages.empty());
}

TEST(ConfigForm, TwoRedFieldsReportTheOneCreatedLater)
{
    // The basic-calibration page is created after the calibration page, the
    // access page after both, whatever the order of the mistakes.
    Dialog d;
    d.paste("coilZero", QStringLiteral("11"));
    d.paste("coilCurrent", QStringLiteral("301"));
    EXPECT_FALSE(d.form->ValidateAll());
    EXPECT_EQ(d.prompter.texts().last(), QStringLiteral("Error, ") + kBasicHint);

    d.paste("pwdC2", QStringLiteral("-5"));
    EXPECT_FALSE(d.form->ValidateAll());
    EXPECT_EQ(d.prompter.texts().last(), QStringLiteral("Error, ")); // access codes have no hint

    // Digital outputs are created in the order 1, 3, 2, 4.
    Dialog e;
    e.paste("DO_PulseWidth3", QStringLiteral("19"));
    e.paste("DO_PulseWidth2", QStringLiteral("19"));
    e.paste("DO_Frequency1", QStringLiteral("1001"));
    EXPECT_FALSE(e.form->ValidateAll());
    EXPECT_EQ(e.prompter.texts().last(), QStringLiteral("Error, Pulse Width valid range from 20 to 125"));
    e.paste("DO_PulseWidth2", QStringLiteral("20"));
    e.paste("DO_PulseWidth3", QStringLiteral("20"));
    EXPECT_FALSE(e.form->ValidateAll());
    EXPECT_EQ(e.prompter.texts().last(), QStringLiteral("Error, Frequency valid range from -1000 to1000"));
}

TEST(ConfigForm, InnerTabChangeRefusedWhileAFieldIsRed)
{
    Dialog d;
    TConfigForm &f = *d.form;
    d.paste("responseTime", QStringLiteral("0"));
    f.ConfigPageControl->setCurrentIndex(3);
    EXPECT_EQ(f.ConfigPageControl->currentIndex(), 0);
    EXPECT_EQ(d.prompter.texts(), QStringList{QStringLiteral("Error, Response Time valid range from 1 to 100")});

    d.paste("responseTime", QStringLiteral("1"));
    f.ConfigPageControl->setCurrentIndex(3);
    EXPECT_EQ(f.ConfigPageControl->currentIndex(), 3);
    EXPECT_EQ(d.prompter.messages.size(), 1u);
}

TEST(ConfigForm, SaveAndCancelResults)
{
    {
        Dialog d;
        d.prompter.dialogs.push_back([&](QDialog &) {
            d.form->SaveBtn->click();
            return d.form->result();
        });
        EXPECT_EQ(d.form->ShowModal(), TConfigForm::mrOk);
    }
    {
        // Save refused while a field is red; the dialog stays until Cancel.
        Dialog d;
        d.paste("lcdContrast", QStringLiteral("101"));
        d.prompter.dialogs.push_back([&](QDialog &dlg) {
            d.form->SaveBtn->click();
            EXPECT_TRUE(dlg.isVisible());
            EXPECT_EQ(d.prompter.texts(), QStringList{QStringLiteral("Error, LCD Contrast valid range from 0 to 100")});
            d.form->CancelBtn->click();
            return d.form->result();
        });
        EXPECT_EQ(d.form->ShowModal(), TConfigForm::mrCancel);
    }
    {
        // Cancel needs no valid fields; Escape and the window's close act as Cancel.
        for (int how = 0; how < 3; ++how) {
            Dialog d;
            d.paste("lcdContrast", QStringLiteral("101"));
            d.prompter.dialogs.push_back([&](QDialog &dlg) {
                if (how == 0)
                    d.form->CancelBtn->click();
                else if (how == 1)
                    QTest::keyClick(&dlg, Qt::Key_Escape);
                else
                    dlg.close();
                return d.form->result();
            });
            EXPECT_EQ(d.form->ShowModal(), TConfigForm::mrCancel) << how;
        }
    }
    {
        // The exit buttons of the upgrade and detector pages cancel as well.
        for (int which = 0; which < 2; ++which) {
            Dialog d;
            d.prompter.dialogs.push_back([&](QDialog &) {
                (which == 0 ? d.form->Z640ConversionCancelBtn : d.form->Button1)->click();
                return d.form->result();
            });
            EXPECT_EQ(d.form->ShowModal(), TConfigForm::mrCancel);
        }
    }
}

TEST(ConfigForm, DetectorTypeSelectsItsItem)
{
    const struct {
        float factor;
        int item;
        bool invalid;
    } cases[] = {
        {1.0f, 0, false}, {0.89f, 1, false}, {0.8900001f, 2, true}, {0.0f, 2, true}, {1.0000001f, 2, true},
    };
    for (const auto &c : cases) {
        Images im = validImages();
        putF32(im.cal.data() + 56, c.factor);
        Dialog d(im);
        EXPECT_EQ(d.form->detectorItemIndex(), c.item) << c.factor;
        EXPECT_EQ(d.form->invalidDetectorType, c.invalid) << c.factor;
        const auto items = d.form->DetectorGB->findChildren<QRadioButton *>();
        ASSERT_EQ(items.size(), c.invalid ? 3 : 2);
        EXPECT_EQ(items[0]->text(), QStringLiteral("Z960"));
        EXPECT_EQ(items[1]->text(), QStringLiteral("Z640 Emulation"));
        if (c.invalid) {
            EXPECT_EQ(items[2]->text(), QStringLiteral("Invalid detector type"));
        }
    }
}

TEST(ConfigForm, InvalidDetectorOpensTheDetectorPageWithItsWarning)
{
    const QString warning = QStringLiteral(
        "Warning: Invalid value for detector type found,\r\nPlease select proper detector type and press the Save button");
    {
        Images im = validImages();
        putF32(im.cal.data() + 56, 0.0f);
        Dialog d(im, 0); // whatever the access level
        d.form->show();
        EXPECT_EQ(d.form->PageControl->currentWidget(), d.form->DetectorPage);
        EXPECT_TRUE(d.form->SaveBtn->isHidden());
        EXPECT_EQ(d.prompter.texts(), QStringList{warning});
        EXPECT_FALSE(d.form->DetectorSaveBtn->isEnabled());
        d.form->hide();
    }
    {
        // With a red field the validation speaks first and the page stays.
        Images im = validImages();
        putF32(im.cal.data() + 56, 0.5f);
        putF32(im.basicCal.data() + 168, 0.0f); // loBatterySafetyLimit of an unset meter
        Dialog d(im);
        d.form->show();
        EXPECT_EQ(d.form->PageControl->currentWidget(), d.form->ConfigurationPage);
        EXPECT_EQ(d.prompter.texts(),
                  (QStringList{QStringLiteral("Error, Low Battery Safety Limit valid range from 1.0 to 30.0"), warning}));
        d.form->hide();
    }
    {
        Dialog d;
        d.form->show();
        EXPECT_EQ(d.form->PageControl->currentWidget(), d.form->ConfigurationPage);
        EXPECT_TRUE(d.prompter.messages.empty());
        d.form->hide();
    }
}

namespace {

class MoveCounter : public QObject {
public:
    int moves = 0;
    bool eventFilter(QObject *, QEvent *e) override
    {
        if (e->type() == QEvent::Move)
            ++moves;
        return false;
    }
};

} // namespace

TEST(ConfigForm, MovingTheDialogKeepsTheMainWindowCentredUnderIt)
{
    QWidget main;
    main.resize(800, 600);
    main.move(10, 10);
    main.show();
    Dialog d(validImages(), 3, &main);
    TConfigForm &f = *d.form;
    f.show();
    QCoreApplication::processEvents();

    f.move(300, 240);
    QCoreApplication::processEvents();
    const QRect dlg = f.frameGeometry();
    const QRect m = main.frameGeometry();
    EXPECT_EQ(m.top(), dlg.top() + dlg.height() / 2 - m.height() / 2);
    EXPECT_EQ(m.left(), dlg.left() + dlg.width() / 2 - m.width() / 2);

    // Already centred: nothing moves.
    MoveCounter counter;
    main.installEventFilter(&counter);
    f.CentreMainForm();
    QCoreApplication::processEvents();
    EXPECT_EQ(counter.moves, 0);
    main.removeEventFilter(&counter);

    // Hidden, the dialog leaves the main window alone.
    f.hide();
    main.move(20, 20);
    QCoreApplication::processEvents();
    f.CentreMainForm();
    EXPECT_EQ(main.pos(), QPoint(20, 20));
}

TEST(ConfigForm, WithoutAMainWindowMovesAreHarmless)
{
    Dialog d;
    d.form->show();
    d.form->move(50, 60);
    QCoreApplication::processEvents();
    d.form->CentreMainForm();
    d.form->hide();
    SUCCEED();
}

TEST(ConfigForm, CheckAllFilledReportsTheEmptyEditCreatedLast)
{
    Dialog d;
    TConfigForm &f = *d.form;
    // The identity edits of the upgrade page are created last and have no hint.
    EXPECT_FALSE(f.CheckAllFilled());
    EXPECT_EQ(d.prompter.texts().last(), QStringLiteral("Error, "));
    for (QLineEdit *e : {f.TechnicianName, f.SiteName, f.Z640ConverionFlowTubeFactor})
        e->setText(QStringLiteral("x"));
    EXPECT_FALSE(f.CheckAllFilled());
    EXPECT_EQ(d.prompter.texts().last(), QStringLiteral("Error, Please select a Nominal Bore")); // the tube zero
    f.Z640ConverionFlowTubeZero->setText(QStringLiteral("1"));
    EXPECT_FALSE(f.CheckAllFilled());
    EXPECT_EQ(d.prompter.texts().last(), QStringLiteral("Error, Meter ID valid range from 0 to 999999"));
    f.Z640ConverionMeterID->setText(QStringLiteral("1"));
    d.prompter.messages.clear();
    EXPECT_TRUE(f.CheckAllFilled());
    EXPECT_TRUE(d.prompter.messages.empty());
    // Emptying a configuration edit is caught too.
    d.paste("lcdTimeOut", QString());
    EXPECT_FALSE(f.CheckAllFilled());
    EXPECT_EQ(d.prompter.texts().last(), QStringLiteral("Error, LCD Time Out valid range from 0 to 999"));
}

// The clear-logs memos keep the line breaks of their texts: no line wraps
// again inside the memo.
TEST(ConfigForm, ClearLogsMemosWrapNoLineAgain)
{
    Dialog d;
    d.form->show();
    d.form->ClearLogsSB->click();
    QCoreApplication::processEvents();
    for (QPlainTextEdit *memo : {d.form->Memo1, d.form->Memo2}) {
        SCOPED_TRACE(memo->objectName().toStdString());
        ASSERT_TRUE(memo->isVisible());
        int blocks = 0;
        for (QTextBlock block = memo->document()->begin(); block.isValid(); block = block.next(), ++blocks)
            EXPECT_EQ(block.layout()->lineCount(), 1) << '"' << block.text().toStdString() << '"';
        EXPECT_EQ(blocks, memo == d.form->Memo1 ? 6 : 3);
    }
}

// Labels and edits line up: each access-code row's label with its codes,
// and the edits of the four calibration panels at one offset in each.
TEST(ConfigForm, AccessAndCalibrationColumnsLineUp)
{
    Dialog d;
    TConfigForm &f = *d.form;
    f.show();
    auto labelOf = [&](QWidget *page, const char *text) {
        for (QLabel *l : page->findChildren<QLabel *>())
            if (l->text() == QLatin1String(text))
                return l;
        return static_cast<QLabel *>(nullptr);
    };
    auto middle = [](const QWidget *w) { return w->mapToGlobal(w->rect().center()).y(); };

    f.AccessSB->click();
    QCoreApplication::processEvents();
    const struct {
        const char *label;
        const char *codes[3];
    } rows[] = {{"Front panel access ", {"pwdU0", "pwdU1", "pwdU2"}}, {"Comms access", {"pwdC0", "pwdC1", "pwdC2"}}};
    for (const auto &row : rows) {
        QLabel *label = labelOf(f.AccessPage, row.label);
        ASSERT_NE(label, nullptr) << row.label;
        for (const char *code : row.codes)
            EXPECT_NEAR(middle(label), middle(d.edit(code)), 1) << row.label << " / " << code;
    }

    f.CalibrationSB->click();
    QCoreApplication::processEvents();
    auto offset = [](QWidget *edit) { return edit->pos().x(); }; // within its panel
    for (const char *name : {"density", "tubeSetSelect1", "coilFreq", "span4_20_2"})
        EXPECT_EQ(offset(d.edit(name)), offset(d.edit("meterID"))) << name;
}
