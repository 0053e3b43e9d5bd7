// The base folders, and the shell opener with its test seams.
#include "platform/KnownFolders.h"
#include "platform/ShellOpen.h"
#include "support/FakeOpener.h"
#include "support/ScriptedPrompter.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QWidget>
#include <gtest/gtest.h>

#include <memory>

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

TEST(ShellOpen, AnOpenerThatStartsAndFailsSaysWhyWithoutHoldingTheWindow)
{
    const char *plain = "/tmp/a b/Monitor.csv";
    const struct {
        const char *what;
        const char *target;
        const char *body;
        bool windowCloses;
        const char *message; // nullptr: none
    } cases[] = {
        {"no program for the kind of file", plain,
         "echo \"xdg-open: no method available for opening '$1'\" >&2; exit 3", false,
         "Could not open /tmp/a b/Monitor.csv: xdg-open: no method available for opening '/tmp/a b/Monitor.csv'"},
        {"a failure without a word", plain, "exit 4", false,
         "Could not open /tmp/a b/Monitor.csv: the opener %1 ended with exit code 4."},
        // The reason is the whole error output, cut to its last three lines.
        {"a reason of several lines", plain,
         "printf 'mimeopen: one\\n\\nxdg-open: two\\nxdg-open: three\\nxdg-open: four\\n\\n' >&2; exit 3", false,
         "Could not open /tmp/a b/Monitor.csv: xdg-open: two\nxdg-open: three\nxdg-open: four"},
        {"a path with a line break", "/tmp/a\nb.csv", "echo \"xdg-open: file '$1' does not exist\" >&2; exit 2",
         false, "Could not open /tmp/a\nb.csv: xdg-open: file '/tmp/a\nb.csv' does not exist"},
        {"opened", plain, "exit 0", false, nullptr},
        {"failed once the window had closed", plain, "echo 'no method' >&2; exit 3", true, nullptr},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const QString target = QString::fromUtf8(c.target);
        TestSupport::ScriptedPrompter prompter;
        const TestSupport::FakeOpener opener(c.body);
        auto window = std::make_unique<QWidget>();
        EXPECT_TRUE(Platform::shellOpenOrTell(target, window.get()));
        // The opener is still waiting to be let go: nothing waited for it.
        EXPECT_EQ(Platform::runningOpeners(), 1);
        EXPECT_TRUE(prompter.messages.empty());
        if (c.windowCloses)
            window.reset();
        ASSERT_TRUE(opener.finish());
        EXPECT_EQ(opener.argument(), target.toUtf8()) << "one argument, as it stands";
        if (c.message) {
            ASSERT_EQ(prompter.messages.size(), 1u);
            EXPECT_EQ(prompter.messages[0].text, QString::fromUtf8(c.message).arg(opener.program()));
        } else {
            EXPECT_TRUE(prompter.messages.empty()) << prompter.messages[0].text.toStdString();
        }
    }
}

// Failures that come while a message box is open wait for it to close:
// each has a box of its own, never one over another.
TEST(ShellOpen, FailuresAreToldOneBoxAtATime)
{
    TestSupport::ScriptedPrompter prompter;
    const TestSupport::FakeOpener opener("echo \"xdg-open: no method available for opening '$1'\" >&2; exit 3");
    prompter.whileOpen = [&] { opener.finish(); };  // each box's own loop runs the openers' ends
    QWidget window;
    for (const char *target : {"/tmp/a.pdf", "/tmp/a.rtf", "/tmp/a.csv"})
        EXPECT_TRUE(Platform::shellOpenOrTell(QString::fromLatin1(target), &window));
    ASSERT_TRUE(opener.finish());
    QStringList told;
    for (const auto &m : prompter.messages) {
        told << m.text;
        EXPECT_FALSE(m.overMessage) << m.text.toStdString();
    }
    told.sort();
    EXPECT_EQ(told, (QStringList{"Could not open /tmp/a.csv: xdg-open: no method available for opening '/tmp/a.csv'",
                                 "Could not open /tmp/a.pdf: xdg-open: no method available for opening '/tmp/a.pdf'",
                                 "Could not open /tmp/a.rtf: xdg-open: no method available for opening '/tmp/a.rtf'"}));
}

TEST(ShellOpen, WithoutAnOpenerTheMessageComesAtOnce)
{
    TestSupport::ScriptedPrompter prompter;
    Platform::setOpenerProgram(QStringLiteral("/nonexistent/vantoro-opener"));
    EXPECT_FALSE(Platform::shellOpenOrTell(QStringLiteral("/tmp/Monitor.csv")));
    Platform::setOpenerProgram({});
    EXPECT_EQ(Platform::runningOpeners(), 0);
    ASSERT_EQ(prompter.messages.size(), 1u);
    EXPECT_EQ(prompter.messages[0].text, "Could not open /tmp/Monitor.csv: no program to open it.");
}

} // namespace
