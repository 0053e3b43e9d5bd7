#include "console/ProgramEntry.h"

#include "console/ProgramIcon.h"
#include "console/ProgramInfo.h"
#include "console/TVRStartupForm.h"
#include "platform/EndSignals.h"
#include "platform/IntConvert.h"
#include "platform/PortMap.h"
#include "platform/Prompter.h"
#include "platform/SingleInstance.h"

#include <QFileInfo>

#include <csignal>
#include <optional>
#include <utility>

namespace Console {

namespace {

// A signal to end (a logout, a kill, Ctrl+C) ends the program as closing the
// start-up window does: the main window saves its settings, aborts a
// transfer and lets the port go. First every dialog and message box still
// open ends, and none opens any more, so that nothing waits for an answer
// that no one will give. A second signal finds the close under way.
void EndAsTheWindowCloses(TVRStartupForm &form, bool &ending)
{
    if (std::exchange(ending, true))
        return;
    QCoreApplication::exit(0);
    form.close();
}

} // namespace

VantoroApplication::VantoroApplication(int &argc, char **argv) : QApplication(argc, argv)
{
    // Every window and message box carries the program's icon in its frame.
    setWindowIcon(ProgramIcon());
}

bool VantoroApplication::notify(QObject *receiver, QEvent *event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        Platform::handleException(std::current_exception());
        return false;
    }
}

StartOptions ParseCommandLine(const QStringList &arguments)
{
    StartOptions options;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        if (arguments[i] != QLatin1String("--port") || options.port) {
            options.error = QStringLiteral("usage: vantoro [--port N]");
            return options;
        }
        const auto number = i + 1 < arguments.size() ? Platform::tryStrToInt(arguments[++i]) : std::nullopt;
        if (!number || *number < Platform::MinPortNumber || *number > Platform::MaxPortNumber) {
            options.error = QStringLiteral("--port needs a port number from %1 to %2")
                                .arg(Platform::MinPortNumber)
                                .arg(Platform::MaxPortNumber);
            return options;
        }
        options.port = *number;
    }
    return options;
}

int WinMain(const StartOptions &options)
{
    // Under a file-size limit (ulimit -f) a write past it then fails with its
    // error, and the save that made it puts the old file back, instead of the
    // signal ending the program in the middle of the write.
    std::signal(SIGXFSZ, SIG_IGN);
    const QString lockName = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    QCoreApplication::setApplicationName(QString::fromUtf8(ProductName));
    // Names the folder of the per-user settings copy, as it names the data folders.
    QCoreApplication::setOrganizationName(QString::fromUtf8(MakerName));

    const Platform::SingleInstance instance(lockName);
    if (instance.state() == Platform::SingleInstance::State::Busy) {
        Platform::showMessage(QStringLiteral("Application is already running"));
        return 0;
    }

    // Watched from when the window shows until the program has let go of
    // everything: a signal while it is taken down finds the end under way.
    std::optional<Platform::EndSignals> endSignals;
    bool ending = false;
    Platform::guarded([&] {
        TVRStartupForm form;
        VRStartupForm = &form;
        if (options.port)
            form.PreselectPort(*options.port);
        form.show();
        endSignals.emplace([&ending](int) {
            if (TVRStartupForm *shown = VRStartupForm)
                Platform::guarded([&] { EndAsTheWindowCloses(*shown, ending); });
        });
        QApplication::exec();
    });
    VRStartupForm = nullptr;
    return 0;
}

} // namespace Console
