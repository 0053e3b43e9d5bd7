// The program entry: one copy only, the application title, the start-up
// window and the event loop. Exceptions that leave an event handler are
// shown as messages and the program goes on; none crosses the event loop.
#pragma once

#include <QApplication>
#include <QString>
#include <QStringList>
#include <optional>

namespace Console {

// The application object whose event delivery is the top-level handler.
class VantoroApplication : public QApplication {
public:
    VantoroApplication(int &argc, char **argv);
    bool notify(QObject *receiver, QEvent *event) override;
};

struct StartOptions {
    std::optional<int> port; // "--port N": preselects Com N
    QString error;           // not empty when the command line is refused
};

// The arguments after the program name.
StartOptions ParseCommandLine(const QStringList &arguments);

// Runs the program; 0 in every case, also when another copy runs. From its
// start the program ignores SIGXFSZ; while its start-up window is shown,
// SIGTERM, SIGHUP and SIGINT end it as closing that window does.
int WinMain(const StartOptions &options);

} // namespace Console
