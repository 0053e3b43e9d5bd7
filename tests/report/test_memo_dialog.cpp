// The technician's memo dialog and the message box it complains through.
#include "report/TMessageForm.h"
#include "report/TTechMemoForm.h"
#include "support/ScriptedPrompter.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

namespace {

class MemoDialog : public ::testing::Test {
protected:
    TestSupport::ScriptedPrompter prompter;
    QStringList boxes; // the memo text of every message box shown

    void SetUp() override { answerBoxes(4); }

    // Each queued handler records the message box's memo and presses "Ok".
    void answerBoxes(int count)
    {
        for (int i = 0; i < count; ++i)
            prompter.dialogs.push_back([this](QDialog &d) {
                auto &box = dynamic_cast<TMessageForm &>(d);
                EXPECT_EQ(box.windowTitle(), "Vantoro");
                EXPECT_TRUE(box.windowFlags() & Qt::WindowStaysOnTopHint);
                boxes << box.Memo1->toPlainText();
                QTest::mouseClick(box.OkButton, Qt::LeftButton);
                return box.result();
            });
    }

    static void type(QLineEdit *edit, const char *keys) { QTest::keyClicks(edit, keys); }
};

TEST_F(MemoDialog, LayoutAndStart)
{
    TTechMemoForm form(nullptr);
    EXPECT_EQ(form.windowTitle(), "Technician's Report");
    EXPECT_EQ(form.size(), QSize(645, 390));
    EXPECT_EQ(form.ValidatorLicenseNumberEB->text(), "DAV");
    EXPECT_EQ(form.ValidatorLicenseNumberEB->maxLength(), 8);
    EXPECT_EQ(form.Memo1->size(), QSize(629, 207));
    EXPECT_EQ(form.OKBtn->text(), "Continue");
    EXPECT_FALSE(form.OKBtn->isDefault() || form.OKBtn->autoDefault());
    EXPECT_FALSE(form.CancelBtn->isDefault() || form.CancelBtn->autoDefault());
}

TEST_F(MemoDialog, ConfirmRules)
{
    struct Case {
        const char *name;
        const char *notes;
        const char *complaint; // null: the dialog closes with OK
    };
    const Case cases[] = {
        {"", "", "Please enter your name"},  // the name is checked first
        {"", "notes", "Please enter your name"},
        {"Ann", "", "Please add some notes"},
        {"   ", "x", nullptr},               // blanks are a name
        {"Ann", "one line", nullptr},
        {"Ann", "\n", nullptr},              // one empty line, then the empty last one
    };
    for (const auto &c : cases) {
        boxes.clear();
        TTechMemoForm form(nullptr);
        form.show();
        form.TechnicianNameEB->setText(c.name);
        form.Memo1->setPlainText(c.notes);
        QTest::mouseClick(form.OKBtn, Qt::LeftButton);
        if (c.complaint) {
            EXPECT_EQ(boxes, QStringList({QStringLiteral("\n") + c.complaint})) << c.name << "|" << c.notes;
            EXPECT_TRUE(form.isVisible());
            // The entries stay as typed.
            EXPECT_EQ(form.TechnicianNameEB->text(), c.name);
            EXPECT_EQ(form.Memo1->toPlainText(), c.notes);
        } else {
            EXPECT_TRUE(boxes.isEmpty()) << c.name;
            EXPECT_FALSE(form.isVisible());
            EXPECT_EQ(form.result(), QDialog::Accepted);
        }
        answerBoxes(1);
    }
}

TEST_F(MemoDialog, ValidatorPrefixAloneMeansNoNumber)
{
    struct Case { const char *typed; const char *passed; };
    for (const auto &c : {Case{"DAV", ""}, Case{"DAV01234", "DAV01234"}}) {
        TTechMemoForm form(nullptr);
        form.show();
        form.TechnicianNameEB->setText("Ann");
        form.Memo1->setPlainText("ok");
        form.ValidatorLicenseNumberEB->setText(c.typed);
        form.OKBtnClick();
        EXPECT_EQ(form.result(), QDialog::Accepted);
        EXPECT_EQ(form.ValidatorLicenseNumberEB->text(), c.passed);
    }
}

TEST_F(MemoDialog, ValidatorKeyFilter)
{
    TTechMemoForm form(nullptr);
    form.show();
    QLineEdit *edit = form.ValidatorLicenseNumberEB;
    edit->setFocus();
    QTest::keyClick(edit, Qt::Key_Backspace);
    EXPECT_EQ(edit->text(), "DAV") << "backspace cannot rub out the prefix";
    type(edit, "1a.-2 B");
    EXPECT_EQ(edit->text(), "DAV12");
    QTest::keyClick(edit, Qt::Key_Return);
    EXPECT_EQ(edit->text(), "DAV12");
    EXPECT_TRUE(form.isVisible()) << "Enter presses no button";
    QTest::keyClick(&form, Qt::Key_Escape);
    EXPECT_TRUE(form.isVisible()) << "nor does Escape";
    type(edit, "3456789");
    EXPECT_EQ(edit->text(), "DAV12345") << "eight characters at most";
    QTest::keyClick(edit, Qt::Key_Backspace);
    EXPECT_EQ(edit->text(), "DAV1234");
    EXPECT_TRUE(form.ValidatorLicenseNumberEBKeyPress(QChar(12)));
}

TEST_F(MemoDialog, LostPrefixComesBackOnKeyRelease)
{
    TTechMemoForm form(nullptr);
    form.show();
    QLineEdit *edit = form.ValidatorLicenseNumberEB;
    edit->setText("DAV123");
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Delete);
    EXPECT_EQ(edit->text(), "DAV");
    // Cutting into the prefix loses the digits too.
    edit->setText("DAV123");
    edit->setCursorPosition(1);
    QTest::keyClick(edit, Qt::Key_Delete);
    EXPECT_EQ(edit->text(), "DAV");
}

TEST_F(MemoDialog, CancelClosesWithCancel)
{
    TTechMemoForm form(nullptr);
    form.show();
    QTest::mouseClick(form.CancelBtn, Qt::LeftButton);
    EXPECT_EQ(form.result(), QDialog::Rejected);
    EXPECT_TRUE(boxes.isEmpty());
}

TEST(MessageForm, AnEmptyLineThenTheTextInABoxOfFixedSize)
{
    TMessageForm box(nullptr, "Please add some notes");
    EXPECT_EQ(box.size(), QSize(449, 92));
    EXPECT_TRUE(box.Memo1->isReadOnly());
    EXPECT_EQ(box.Memo1->toPlainText().split('\n'), QStringList({"", "Please add some notes"}));
    EXPECT_EQ(box.Memo1->geometry(), QRect(0, 0, 449, 51));
    EXPECT_EQ(box.OkButton->geometry().right(), 449 - 8 - 1);
    // A fixed dialog border: neither the program nor the window manager resizes it.
    box.show();
    box.resize(600, 150);
    EXPECT_EQ(box.size(), QSize(449, 92));
    EXPECT_EQ(box.minimumSize(), box.maximumSize());
}

} // namespace
