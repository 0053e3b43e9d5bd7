#include "support/ScriptedPrompter.h"

#include <QApplication>
#include <QFontMetrics>
#include <QMessageBox>
#include <QTimer>
#include <gtest/gtest.h>
#include <stdexcept>

using namespace Platform;

TEST(Prompter, MessagesGoThroughTheInstalledPrompterWithTheirCaptions)
{
    TestSupport::ScriptedPrompter p;
    p.answers = {MsgResult::No};
    EXPECT_EQ(messageDlg("Sure?", MsgIcon::Warning, MsgButtons::YesNo), MsgResult::No);
    showMessage("Done");
    ASSERT_EQ(p.messages.size(), 2u);
    EXPECT_EQ(p.messages[0].caption, "Warning");
    EXPECT_EQ(p.messages[1].text, "Done");
    EXPECT_EQ(p.messages[1].caption, applicationTitle());
}

TEST(Prompter, AnExceptionFromAHandlerBecomesOneMessageAndGoesNoFurther)
{
    TestSupport::ScriptedPrompter p;
    EXPECT_FALSE(guarded([] { throw std::runtime_error("Cannot create data directory."); }));
    EXPECT_TRUE(guarded([] {}));
    ASSERT_EQ(p.messages.size(), 1u);
    EXPECT_EQ(p.messages[0].text, "Cannot create data directory.");
}

// A short message still leaves the title bar room for its whole caption
// beside the window's icon and the border icons.
TEST(Prompter, AMessageBoxIsWideEnoughForItsCaption)
{
    setPrompter(nullptr); // the interactive boxes
    int width = 0;
    QTimer::singleShot(0, [&width] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        width = box->width();
        box->done(QMessageBox::Ok);
    });
    showMessage("Process canceled");
    QFont title = QApplication::font();
    title.setBold(true);
    EXPECT_GE(width, QFontMetrics(title).horizontalAdvance(applicationTitle()) + 100);
}
