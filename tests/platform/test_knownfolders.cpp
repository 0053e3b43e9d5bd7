// The base folders and the shell opener's test seam.
#include "platform/KnownFolders.h"
#include "platform/ShellOpen.h"
#include "support/ScriptedPrompter.h"

#include <QStandardPaths>
#include <gtest/gtest.h>

namespace {

TEST(KnownFolders, MapsTheFourChoices)
{
    Platform::clearKnownFolderOverrides();
    using QS = QStandardPaths;
    EXPECT_EQ(Platform::knownFolderPath(0), QS::writableLocation(QS::GenericDataLocation));
    EXPECT_EQ(Platform::knownFolderPath(1), QS::writableLocation(QS::DocumentsLocation));
    EXPECT_EQ(Platform::knownFolderPath(2), "/var/lib");
    EXPECT_EQ(Platform::knownFolderPath(3), QS::writableLocation(QS::PublicShareLocation));
    for (int other : {-1, 4, 5, 100})
        EXPECT_EQ(Platform::knownFolderPath(other), "") << other;
}

TEST(KnownFolders, OverridesLoseTrailingSeparators)
{
    Platform::setKnownFolderOverride(1, "/tmp/docs//");
    Platform::setKnownFolderOverride(3, "");
    EXPECT_EQ(Platform::knownFolderPath(Platform::KnownFolder::UserDocuments), "/tmp/docs");
    EXPECT_EQ(Platform::knownFolderPath(3), "");
    EXPECT_EQ(Platform::knownFolderPath(2), "/var/lib");
    Platform::clearKnownFolderOverrides();
    EXPECT_EQ(Platform::knownFolderPath(3),
              QStandardPaths::writableLocation(QStandardPaths::PublicShareLocation));
}

TEST(ShellOpen, PathsBecomeFileUrlsAndLinksStayLinks)
{
    std::vector<QUrl> opened;
    Platform::setShellOpenHandler([&](const QUrl &u) { opened.push_back(u); return true; });
    // A path that would be harmful as part of a command line stays one path.
    EXPECT_TRUE(Platform::shellOpen("/tmp/x y/a; rm -rf ~ &"));
    EXPECT_TRUE(Platform::shellOpen("https://www.stelvanor.example/"));
    EXPECT_FALSE(Platform::shellOpen(""));
    Platform::setShellOpenHandler({});
    ASSERT_EQ(opened.size(), 2u);
    EXPECT_TRUE(opened[0].isLocalFile());
    EXPECT_EQ(opened[0].toLocalFile(), "/tmp/x y/a; rm -rf ~ &");
    EXPECT_EQ(opened[1].scheme(), "https");
}

TEST(ShellOpen, ATargetTheDesktopRefusesIsNamedInOneMessage)
{
    TestSupport::ScriptedPrompter prompter;
    bool accept = true;
    int asked = 0;
    Platform::setShellOpenHandler([&](const QUrl &) { ++asked; return accept; });

    EXPECT_TRUE(Platform::shellOpenOrTell("/tmp/a b/Monitor.csv"));
    EXPECT_TRUE(prompter.messages.empty());

    accept = false;
    EXPECT_FALSE(Platform::shellOpenOrTell("/tmp/a b/Monitor.csv"));
    EXPECT_FALSE(Platform::shellOpenOrTell("https://www.stelvanor.example/"));
    EXPECT_FALSE(Platform::shellOpenOrTell("")); // nothing asked, nothing said
    EXPECT_EQ(asked, 3);
    ASSERT_EQ(prompter.messages.size(), 2u);
    EXPECT_EQ(prompter.messages[0].text, "Could not open /tmp/a b/Monitor.csv: no program to open it.");
    EXPECT_EQ(prompter.messages[0].caption, Platform::applicationTitle());
    EXPECT_EQ(prompter.messages[1].text, "Could not open https://www.stelvanor.example/: no program to open it.");

    // Several targets: one message, a line for each; none: no message.
    prompter.messages.clear();
    Platform::tellUnopened({});
    Platform::tellUnopened({"/r/a.pdf", "/r/a.csv"});
    ASSERT_EQ(prompter.messages.size(), 1u);
    EXPECT_EQ(prompter.messages[0].text, "Could not open /r/a.pdf: no program to open it.\n\n"
                                         "Could not open /r/a.csv: no program to open it.");
    Platform::setShellOpenHandler({});
}

} // namespace
