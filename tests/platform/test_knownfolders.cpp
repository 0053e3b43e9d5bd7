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
    EXPECT_FALSE(Platform::shellOpenOrTell("/tmp"));
    EXPECT_FALSE(Platform::shellOpenOrTell("")); // nothing asked, nothing said
    EXPECT_EQ(asked, 4);
    EXPECT_EQ(prompter.texts(),
              (QStringList{"Could not open \"/tmp/a b/Monitor.csv\".\n"
                           "No program is set to open files of this kind; set one in the desktop's settings.",
                           "Could not open \"https://www.stelvanor.example/\".\n"
                           "No program is set to open links of this kind; set one in the desktop's settings.",
                           "Could not open \"/tmp\".\n"
                           "No program is set to open folders; set one in the desktop's settings."}));
    EXPECT_EQ(prompter.messages[0].caption, Platform::applicationTitle());

    // Several targets: one message, a paragraph for each; none: no message.
    prompter.messages.clear();
    Platform::tellUnopened({});
    Platform::tellUnopened({"/r/a.pdf", "/r/a.csv"});
    EXPECT_EQ(prompter.texts(),
              QStringList{"Could not open \"/r/a.pdf\".\n"
                          "No program is set to open files of this kind; set one in the desktop's settings.\n\n"
                          "Could not open \"/r/a.csv\".\n"
                          "No program is set to open files of this kind; set one in the desktop's settings."});
    Platform::setShellOpenHandler({});
}

// The message names the target once and says in one sentence what the
// technician can do; the opener's last line only where it adds to that,
// without the script paths and line numbers of its shell.
TEST(ShellOpen, AnOpenerThatStartsAndFailsSaysWhyWithoutHoldingTheWindow)
{
    const char *plain = "/tmp/a b/Monitor.csv";
    const QString noProgram =
        QStringLiteral("No program is set to open files of this kind; set one in the desktop's settings.");
    const struct {
        const char *what;
        const char *target;
        const char *body;
        bool windowCloses;
        QString reason; // empty: no message
    } cases[] = {
        {"no program for the kind of file", plain, TestSupport::kNoMethodOpener, false, noProgram},
        {"no program for folders", "/tmp", TestSupport::kNoMethodOpener, false,
         QStringLiteral("No program is set to open folders; set one in the desktop's settings.")},
        {"a file gone meanwhile", plain, "echo \"xdg-open: file '$1' does not exist\" >&2; exit 2", false,
         QStringLiteral("The desktop's opener reported: file 'Monitor.csv' does not exist")},
        {"the program set for the file is missing", plain,
         "echo '/usr/bin/xdg-open: 882: www-browser: not found' >&2\n"
         "echo '/usr/bin/xdg-open: line 901: viewer: command not found' >&2; exit 4",
         false, QStringLiteral("The desktop's opener reported: viewer: command not found")},
        {"a failure naming the file's URL", plain,
         "echo \"gio: file://$1: Failed to find default application for content type 'text/csv'\" >&2; exit 4", false,
         QStringLiteral("The desktop's opener reported: gio: Monitor.csv: Failed to find default application for "
                        "content type 'text/csv'")},
        {"a failure without a word", plain, "exit 4", false,
         QStringLiteral("The desktop's opener (opener) ended with exit code 4.")},
        {"an opener that crashed", plain, "kill -KILL $$", false,
         QStringLiteral("The desktop's opener (opener) ended unexpectedly.")},
        {"a path with a line break", "/tmp/a\nb.csv", "echo \"xdg-open: file '$1' does not exist\" >&2; exit 2",
         false, QStringLiteral("The desktop's opener reported: file 'a\nb.csv' does not exist")},
        {"opened", plain, "exit 0", false, {}},
        {"failed once the window had closed", plain, TestSupport::kNoMethodOpener, true, {}},
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
        if (c.reason.isEmpty())
            EXPECT_TRUE(prompter.messages.empty()) << prompter.texts().join('|').toStdString();
        else
            EXPECT_EQ(prompter.texts(),
                      QStringList{QStringLiteral("Could not open \"%1\".\n%2").arg(target, c.reason)});
    }
}

// Failures that come while a message box is open wait for it to close:
// each has a box of its own, never one over another.
TEST(ShellOpen, FailuresAreToldOneBoxAtATime)
{
    TestSupport::ScriptedPrompter prompter;
    const TestSupport::FakeOpener opener(TestSupport::kNoMethodOpener);
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
    const QString noProgram =
        QStringLiteral("\nNo program is set to open files of this kind; set one in the desktop's settings.");
    EXPECT_EQ(told, (QStringList{"Could not open \"/tmp/a.csv\"." + noProgram,
                                 "Could not open \"/tmp/a.pdf\"." + noProgram,
                                 "Could not open \"/tmp/a.rtf\"." + noProgram}));
}

TEST(ShellOpen, WithoutAnOpenerTheMessageComesAtOnce)
{
    TestSupport::ScriptedPrompter prompter;
    Platform::setOpenerProgram(QStringLiteral("/nonexistent/vantoro-opener"));
    EXPECT_FALSE(Platform::shellOpenOrTell(QStringLiteral("/tmp/Monitor.csv")));
    Platform::setOpenerProgram({});
    EXPECT_EQ(Platform::runningOpeners(), 0);
    EXPECT_EQ(prompter.texts(),
              QStringList{"Could not open \"/tmp/Monitor.csv\".\n"
                          "No program is set to open files of this kind; set one in the desktop's settings."});
}

} // namespace
