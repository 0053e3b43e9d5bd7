// Progress dialog, access-code query and about box.
#include "console/ConsoleFixture.h"
#include "console/TAboutBox.h"
#include "console/TDlProgForm.h"
#include "console/TStringQuery.h"
#include "support/Centres.h"

#include <QLabel>
#include <QScreen>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

namespace {

class SmallDialogs : public TestSupport::ConsoleTest {};

TEST_F(SmallDialogs, ProgressFollowsEveryCallAndStaysUp)
{
    TDlProgForm form(nullptr, false);
    EXPECT_EQ(form.windowTitle(), "Data Download");
    EXPECT_EQ(form.size(), QSize(397, 135));
    EXPECT_EQ(form.ProgressBar1->value(), 20);
    form.show();
    EXPECT_FALSE(form.CancelBtn->isVisible());
    form.SetProgress("Connecting", "Reading configuration", 25);
    EXPECT_EQ(form.windowTitle(), "Connecting");
    EXPECT_EQ(form.Label1->text(), "Reading configuration");
    EXPECT_EQ(form.ProgressBar1->value(), 25);
    form.SetProgress("Download", "Progress - 100% received", 100);
    EXPECT_EQ(form.ProgressBar1->value(), form.ProgressBar1->maximum());
    EXPECT_EQ(form.windowTitle(), "Download");
    // The second line under the bar: empty until its user has one.
    EXPECT_TRUE(form.Label2->text().isEmpty());
    form.SetNote("Fetching the file again (2 of 3)");
    EXPECT_EQ(form.Label2->text(), "Fetching the file again (2 of 3)");
    EXPECT_EQ(form.Label1->text(), "Progress - 100% received");
    // Neither the close box nor Escape takes it away.
    form.close();
    QTest::keyClick(&form, Qt::Key_Escape);
    EXPECT_TRUE(form.isVisible());
}

TEST_F(SmallDialogs, ProgressCancelButtonOnlyWhenAsked)
{
    TDlProgForm form(nullptr, true);
    form.show();
    EXPECT_TRUE(form.CancelBtn->isVisible());
    EXPECT_EQ(form.CancelBtn->text(), "Cancel download");
    QTest::mouseClick(form.CancelBtn, Qt::LeftButton);
    EXPECT_TRUE(form.cancelledFlag());
    EXPECT_TRUE(form.isVisible());
}

TEST_F(SmallDialogs, QueryFilterPassesDigitsAndLetters)
{
    TStringQuery query(nullptr);
    EXPECT_EQ(query.windowTitle(), "Vantoro");
    EXPECT_EQ(query.size(), QSize(380, 113));
    EXPECT_TRUE(query.windowFlags() & Qt::WindowStaysOnTopHint);
    query.show();
    QTest::keyClicks(query.Edit, "12ab-. /X");
    EXPECT_EQ(query.Edit->text(), "12abX");
    QTest::keyClick(query.Edit, Qt::Key_Backspace);
    EXPECT_EQ(query.Edit->text(), "12ab");
    query.Edit->setMaxLength(4);
    QTest::keyClicks(query.Edit, "9");
    EXPECT_EQ(query.Edit->text(), "12ab");
    EXPECT_TRUE(query.isVisible());
}

TEST_F(SmallDialogs, QueryEnterConfirms)
{
    for (auto key : {Qt::Key_Return, Qt::Key_Enter}) {
        TStringQuery query(nullptr);
        query.Label->setText("Access Code");
        prompter.dialogs.push_back([&query, key](QDialog &) {
            EXPECT_EQ(QApplication::focusWidget() == query.Edit || !query.isActiveWindow(), true);
            QTest::keyClicks(query.Edit, "1234");
            QTest::keyClick(query.Edit, key);
            EXPECT_FALSE(query.isVisible());
            return query.result();
        });
        EXPECT_EQ(Platform::prompter().runDialog(query), QDialog::Accepted);
        EXPECT_EQ(query.Edit->text(), "1234");
    }
    TStringQuery cancelled(nullptr);
    prompter.dialogs.push_back([&](QDialog &) {
        QTest::mouseClick(cancelled.CancelBtn, Qt::LeftButton);
        return cancelled.result();
    });
    EXPECT_EQ(Platform::prompter().runDialog(cancelled), QDialog::Rejected);
}

TEST_F(SmallDialogs, AboutBoxTextsPictureAndLink)
{
    TAboutBox box(nullptr);
    EXPECT_EQ(box.windowTitle(), "About");
    EXPECT_EQ(box.size(), QSize(400, 239));
    EXPECT_EQ(box.ProductName->text(), "Vantoro");
    EXPECT_TRUE(box.ProductName->font().bold());
    EXPECT_EQ(box.Version->text(), "Version 2.10");
    EXPECT_EQ(box.ProgramIcon->size(), QSize(363, 126));
    ASSERT_FALSE(box.ProgramIcon->pixmap().isNull());
    EXPECT_EQ(box.ProgramIcon->pixmap().size(), QSize(363, 126));
    EXPECT_TRUE(box.OKButton->isDefault());
    ASSERT_TRUE(box.LinkLabel1->text().contains("href=\"https://"));
    box.LinkLabel1LinkClick("https://www.stelvanor.example/");
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0], QUrl("https://www.stelvanor.example/"));
    EXPECT_TRUE(prompter.messages.empty());
    // A link nothing can open is named in a message.
    openRefused = true;
    box.LinkLabel1LinkClick("https://www.stelvanor.example/");
    EXPECT_EQ(prompter.texts(), QStringList{unopenedText("https://www.stelvanor.example/")});
}

// Whatever window opens it, the about box stands in the middle of the screen.
TEST_F(SmallDialogs, AboutBoxOpensCentredOnTheScreen)
{
    QWidget owner;
    owner.setGeometry(20, 30, 300, 200);
    owner.show();
    TAboutBox box(&owner);
    box.show();
    const QRect screen = box.screen()->availableGeometry();
    EXPECT_TRUE(TestSupport::centredOn(box.frameGeometry(), screen))
        << TestSupport::describe(box.frameGeometry()) << " on " << TestSupport::describe(screen);
}

} // namespace
