// The options dialog: what it loads, shows and saves.
#include "console/ConsoleFixture.h"
#include "console/TOptionsForm.h"

#include <QAbstractButton>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

namespace {

class OptionsForm : public TestSupport::ConsoleTest {
protected:
    // Shows the dialog through the prompter, runs `act` on it and returns its result.
    int run(TOptionsForm &form, std::function<void(TOptionsForm &)> act)
    {
        prompter.dialogs.push_back([&form, act](QDialog &) {
            act(form);
            return form.result();
        });
        return Platform::prompter().runDialog(form);
    }
    // A click as the technician makes it (quick mouse clicks in a row would
    // count as double clicks).
    static void tick(QAbstractButton *box) { box->click(); }
    static QStringList memoLines(const TOptionsForm &form) { return form.Memo1->toPlainText().split('\n'); }
    // A control as a message names it: its name, or its caption.
    static std::string describe(const QWidget *w)
    {
        if (!w)
            return "nothing";
        const auto *button = qobject_cast<const QAbstractButton *>(w);
        const QString name = w->objectName().isEmpty() && button ? button->text() : w->objectName();
        return name.toStdString() + " (" + w->metaObject()->className() + ")";
    }
};

TEST_F(OptionsForm, NoSettingsFileShowsTheDefaults)
{
    TOptionsForm form(nullptr);
    EXPECT_EQ(form.windowTitle(), "Vantoro Program Options");
    EXPECT_EQ(form.size(), QSize(653, 358));
    form.show();
    EXPECT_EQ(form.pathItemIndex(), 0);
    EXPECT_EQ(form.pathButtons->checkedButton()->text(), "User Home");
    EXPECT_EQ(form.PathEdit->text(), known(0));
    EXPECT_FALSE(form.CustomSelectBtn->isVisible());
    EXPECT_TRUE(form.PdfCB->isChecked());
    EXPECT_FALSE(form.OpenPdfReportCB->isChecked());
    EXPECT_TRUE(form.OpenPdfReportCB->isEnabled());
    for (auto *box : {form.RtfCB, form.CsvCB, form.OpenRtfReportCB, form.OpenCsvReportCB})
        EXPECT_FALSE(box->isChecked()) << box->objectName().toStdString();
    EXPECT_FALSE(form.OpenRtfReportCB->isEnabled());
    EXPECT_FALSE(form.OpenCsvReportCB->isEnabled());
    EXPECT_EQ(form.OpenPdfReportCB->toolTip(), "On completion Vantoro will attempt to open the report");
    EXPECT_EQ(ini(), "") << "loading writes nothing";
}

// The focus starts on the chosen base folder and Tab follows the dialog's
// controls in their order, each reached once: the explanation, the folder,
// the report boxes that can be used, Save, Cancel and round again.
TEST_F(OptionsForm, FocusStartsOnTheChosenFolderAndTabFollowsTheControls)
{
    writeIni("[Defaults]\nPathOptionIndex=2\n");
    TOptionsForm form(nullptr);
    form.show();
    QApplication::setActiveWindow(&form);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    QAbstractButton *chosen = form.pathButtons->checkedButton();
    ASSERT_EQ(chosen->text(), "Public");
    EXPECT_EQ(QApplication::focusWidget(), chosen) << describe(QApplication::focusWidget());

    const std::vector<QWidget *> order = {form.Memo1, form.PathEdit, form.PdfCB, form.RtfCB, form.CsvCB,
                                          form.OpenPdfReportCB, form.SaveBtn, form.CancelBtn, chosen};
    for (QWidget *next : order) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        ASSERT_EQ(QApplication::focusWidget(), next)
            << "Tab reached " << describe(QApplication::focusWidget()) << " instead of " << describe(next);
    }
}

TEST_F(OptionsForm, EachChoiceExplainsItselfAndShowsItsBase)
{
    writeIni(("[Defaults]\nCustomPath=" + dir.filePath("mine") + "\n").toUtf8());
    TOptionsForm form(nullptr);
    form.show();
    const char *privateLine =
        "Application folder, Data and Report files may NOT be accessible by other users of the system";
    const char *publicLine = "Application folder, Data and Report files will be accessible by ALL users of the system";
    struct Case { int choice; QString base; const char *line6; bool selectButton; };
    const Case cases[] = {
        {0, known(0), privateLine, false},
        {1, known(1), privateLine, false},
        {2, known(2), publicLine, false},
        {3, known(3), publicLine, false},
        {4, dir.filePath("mine"),
         "Application folder, Data and Report files may NOT be accessible by other users of the system unless "
         "they have the appropriate access",
         true},
    };
    for (const auto &c : cases) {
        tick(form.pathButtons->button(c.choice));
        const QStringList lines = memoLines(form);
        ASSERT_EQ(lines.size(), 6) << c.choice;
        EXPECT_EQ(lines[0], "Note:");
        EXPECT_TRUE(lines[1].startsWith("This option will create a Stelvanor folder in")) << c.choice;
        EXPECT_EQ(lines[4], "");
        EXPECT_EQ(lines[5], c.line6) << c.choice;
        EXPECT_EQ(form.PathEdit->text(), c.base) << c.choice;
        EXPECT_EQ(form.CustomSelectBtn->isVisible(), c.selectButton) << c.choice;
    }
}

TEST_F(OptionsForm, IndexOutsideTheItems)
{
    struct Case { const char *stored; int shown; const char *saved; };
    const Case cases[] = {{"7", 4, "4"}, {"-1", -1, "-1"}, {"junk", 0, "0"}};
    for (const auto &c : cases) {
        writeIni(QByteArray("[Defaults]\nPathOptionIndex=") + c.stored + "\n");
        TOptionsForm form(nullptr);
        const int result = run(form, [](TOptionsForm &f) { QTest::mouseClick(f.SaveBtn, Qt::LeftButton); });
        EXPECT_EQ(result, QDialog::Accepted);
        EXPECT_EQ(form.pathItemIndex(), c.shown) << c.stored;
        if (c.shown < 0) {
            EXPECT_EQ(form.Memo1->toPlainText(), "");
            EXPECT_EQ(form.PathEdit->text(), "");
        }
        EXPECT_EQ(settings().ReadString("Defaults", "PathOptionIndex", "?"), c.saved) << c.stored;
    }
}

TEST_F(OptionsForm, FormatBoxesDriveTheirOpenBoxes)
{
    TOptionsForm form(nullptr);
    form.show();
    tick(form.RtfCB);
    EXPECT_TRUE(form.OpenRtfReportCB->isChecked());
    EXPECT_TRUE(form.OpenRtfReportCB->isEnabled());
    tick(form.OpenRtfReportCB);
    EXPECT_FALSE(form.OpenRtfReportCB->isChecked()) << "the open box stays the technician's choice";
    tick(form.PdfCB);
    EXPECT_FALSE(form.OpenPdfReportCB->isChecked());
    EXPECT_FALSE(form.OpenPdfReportCB->isEnabled());
    tick(form.CsvCB);
    QTest::mouseClick(form.SaveBtn, Qt::LeftButton);
    EXPECT_EQ(ini(), "[Defaults]\nCustomPath=\nPathOptionIndex=0\n\n[ReportOptions]\nCreatePDF=0\nCreateRTF=1\n"
                     "CreateCSV=1\nOpenPDF=0\nOpenRTF=0\nOpenCSV=1\n");
    const auto options = Platform::Settings::readReportOptions();
    EXPECT_TRUE(options.createRTF && options.createCSV && options.openCSV);
    EXPECT_FALSE(options.createPDF || options.openPDF || options.openRTF);
}

TEST_F(OptionsForm, ChosenFolderIsKeptOnlyBySave)
{
    const QString chosen = dir.filePath("chosen");
    for (bool save : {false, true}) {
        writeIni("[Defaults]\nPathOptionIndex=4\nCustomPath=/before\n");
        prompter.directories.push_back(chosen);
        TOptionsForm form(nullptr);
        run(form, [&](TOptionsForm &f) {
            EXPECT_TRUE(f.CustomSelectBtn->isVisible());
            QTest::mouseClick(f.CustomSelectBtn, Qt::LeftButton);
            EXPECT_EQ(f.PathEdit->text(), chosen);
            QTest::mouseClick(save ? f.SaveBtn : f.CancelBtn, Qt::LeftButton);
        });
        EXPECT_EQ(settings().ReadString("Defaults", "CustomPath", ""), save ? chosen : "/before") << save;
    }
    // A chooser the technician cancels changes nothing.
    TOptionsForm form(nullptr);
    form.show();
    form.CustomSelectBtnClick();
    EXPECT_EQ(form.customPathValue(), chosen);
}

TEST_F(OptionsForm, RefusedSaveIsShownAndTheDialogStillCloses)
{
    TOptionsForm form(nullptr);
    blockIni();
    const int result = run(form, [](TOptionsForm &f) { QTest::mouseClick(f.SaveBtn, Qt::LeftButton); });
    EXPECT_EQ(result, QDialog::Accepted);
    EXPECT_EQ(prompter.texts(), QStringList({refusedText()}));
}

} // namespace
