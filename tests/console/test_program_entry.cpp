// The program entry: command line, one copy only, the start-up window.
#include "console/ConsoleFixture.h"
#include "console/ProgramEntry.h"
#include "console/TVRStartupForm.h"
#include "platform/SingleInstance.h"

#include <QComboBox>
#include <QFileInfo>
#include <QTimer>

namespace {

using Console::ParseCommandLine;

TEST(CommandLine, OnlyAnOptionalPort)
{
    struct Case { QStringList args; std::optional<int> port; bool refused; };
    const Case cases[] = {
        {{}, std::nullopt, false},
        {{"--port", "3"}, 3, false},
        {{"--port", "254"}, 254, false},
        {{"--port"}, std::nullopt, true},
        {{"--port", "0"}, std::nullopt, true},
        {{"--port", "255"}, std::nullopt, true},
        {{"--port", "x"}, std::nullopt, true},
        {{"--port", "1", "--port", "2"}, std::nullopt, true},
        {{"--verbose"}, std::nullopt, true},
        {{"3"}, std::nullopt, true},
    };
    for (const auto &c : cases) {
        const auto options = ParseCommandLine(c.args);
        EXPECT_EQ(!options.error.isEmpty(), c.refused) << c.args.join(' ').toStdString();
        if (!c.refused) {
            EXPECT_EQ(options.port, c.port) << c.args.join(' ').toStdString();
        }
    }
}

class ProgramEntry : public TestSupport::ConsoleTest {
protected:
    QString lockName() const { return QFileInfo(QCoreApplication::applicationFilePath()).fileName(); }
};

TEST_F(ProgramEntry, SecondCopyIsRefusedWithoutAWindow)
{
    const Platform::SingleInstance first(lockName());
    ASSERT_EQ(first.state(), Platform::SingleInstance::State::Acquired);
    EXPECT_EQ(Console::WinMain({}), 0);
    EXPECT_EQ(prompter.texts(), QStringList({"Application is already running"}));
    EXPECT_EQ(VRStartupForm, nullptr);
}

TEST_F(ProgramEntry, RunsTheStartupWindowUntilItCloses)
{
    setPorts({1, 5});
    QString title, selected;
    QTimer::singleShot(0, [&] {
        ASSERT_NE(VRStartupForm, nullptr);
        title = VRStartupForm->windowTitle();
        selected = VRStartupForm->AvailComportComboBox->currentText();
        VRStartupForm->Exit2->trigger();
    });
    Console::StartOptions options;
    options.port = 5;
    EXPECT_EQ(Console::WinMain(options), 0);
    EXPECT_EQ(title, "Stelvanor Vantoro Version 2.10");
    EXPECT_EQ(selected, "Com5");
    EXPECT_EQ(QCoreApplication::applicationName(), "Vantoro");
    EXPECT_EQ(QCoreApplication::organizationName(), "Stelvanor"); // names the per-user settings folder
    EXPECT_EQ(VRStartupForm, nullptr);
    // The lock went with the run.
    const Platform::SingleInstance after(lockName());
    EXPECT_EQ(after.state(), Platform::SingleInstance::State::Acquired);
}

} // namespace
