#include "support/ScriptedPrompter.h"

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
