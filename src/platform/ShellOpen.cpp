#include "platform/ShellOpen.h"

#include "platform/Prompter.h"

#include <QFileInfo>
#include <QPointer>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QWidget>

#include <algorithm>
#include <csignal>
#include <deque>
#include <memory>
#include <unistd.h>
#include <utility>

namespace Platform {

namespace {

constexpr const char *kNoProgram = "no program to open it.";
constexpr qsizetype kErrorTail = 4096; // bytes of the opener's error output kept
constexpr qsizetype kReasonLines = 3;  // lines of it that the message shows

ShellOpenHandler &handler()
{
    static ShellOpenHandler h;
    return h;
}

QString &openerProgram()
{
    static QString program;
    return program;
}

int &openersRunning()
{
    static int count = 0;
    return count;
}

QString opener() { return openerProgram().isEmpty() ? QStringLiteral("xdg-open") : openerProgram(); }

// The opener's one argument: an absolute path for a file, else the link.
QString openerArgument(const QUrl &url)
{
    return url.isLocalFile() ? QFileInfo(url.toLocalFile()).absoluteFilePath() : url.toString(QUrl::FullyEncoded);
}

// The opener's error output as it wrote it, cut to its last lines (a path
// with a line break in it spans two), without blank lines around it.
QString errorText(const QByteArray &errorOutput)
{
    QStringList lines = QString::fromLocal8Bit(errorOutput).split(QLatin1Char('\n'));
    for (QString &line : lines) {
        while (!line.isEmpty() && line.back().isSpace())
            line.chop(1);
    }
    while (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    lines = lines.mid(std::max<qsizetype>(0, lines.size() - kReasonLines));
    while (!lines.isEmpty() && lines.first().trimmed().isEmpty())
        lines.removeFirst();
    return lines.join(QLatin1Char('\n')).trimmed();
}

QString failureReason(QProcess &process, const QByteArray &errorOutput)
{
    if (process.error() == QProcess::FailedToStart)
        return QLatin1String(kNoProgram);
    const QString text = errorText(errorOutput);
    if (!text.isEmpty())
        return text;
    if (process.exitStatus() == QProcess::CrashExit)
        return QStringLiteral("the opener %1 ended unexpectedly.").arg(process.program());
    return QStringLiteral("the opener %1 ended with exit code %2.").arg(process.program()).arg(process.exitCode());
}

// Runs the opener beside the program and watches how it ends. The process
// is never killed: a viewer it started in its own place lives on after the
// program, so an opener still running when the program ends is left be.
bool startOpener(const QUrl &url, OpenFailed onFailed)
{
    if (QStandardPaths::findExecutable(opener()).isEmpty())
        return false;
    auto *process = new QProcess;
    process->setProgram(opener());
    process->setArguments({openerArgument(url)});
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setStandardInputFile(QProcess::nullDevice());
    // A session of its own: a terminal's Ctrl+C for the program spares the
    // viewer. The file-size signal, which the program ignores, is the
    // viewer's own again.
    process->setChildProcessModifier([] {
        ::setsid();
        ::signal(SIGXFSZ, SIG_DFL);
    });
    auto errorOutput = std::make_shared<QByteArray>();
    auto hasEnded = std::make_shared<bool>(false);
    QObject::connect(process, &QProcess::readyReadStandardError, process, [process, errorOutput] {
        *errorOutput += process->readAllStandardError();
        if (errorOutput->size() > kErrorTail)
            *errorOutput = errorOutput->right(kErrorTail);
    });
    // A process that could not start reports an error and no end.
    const auto ended = [process, errorOutput, hasEnded, onFailed = std::move(onFailed)](bool failed) {
        if (std::exchange(*hasEnded, true))
            return;
        --openersRunning();
        *errorOutput += process->readAllStandardError();
        if (failed && onFailed)
            onFailed(failureReason(*process, *errorOutput));
        process->deleteLater();
    };
    QObject::connect(process, &QProcess::finished, process, [ended](int code, QProcess::ExitStatus status) {
        ended(status != QProcess::NormalExit || code != 0);
    });
    QObject::connect(process, &QProcess::errorOccurred, process, [ended](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            ended(true);
    });
    ++openersRunning();
    process->start();
    return true;
}

QString unopenedText(const QString &target, const QString &reason)
{
    return QStringLiteral("Could not open %1: %2").arg(target, reason);
}

// Messages about targets that did not open, shown one box at a time: one
// that comes while another is open waits until it has closed, so that no
// box hides another or takes the keys meant for it.
struct Pending {
    QString text;
    QPointer<QWidget> parent;
    bool askedForParent = false;
};

std::deque<Pending> &pending()
{
    static std::deque<Pending> messages;
    return messages;
}

void tell(const QString &text, QWidget *parent)
{
    static bool telling = false;
    pending().push_back({text, parent, parent != nullptr});
    if (telling)
        return;  // the box on screen is followed by this one when it closes
    telling = true;
    const struct Done {
        ~Done() { telling = false; }
    } done;
    while (!pending().empty()) {
        const Pending message = pending().front();
        pending().pop_front();
        if (message.askedForParent && !message.parent)
            continue;  // the window that asked has closed meanwhile
        showMessage(message.text, message.parent);
    }
}

} // namespace

QUrl shellUrlFor(const QString &target)
{
    // Two letters or more before the colon, so "C:/x" would not pass as a scheme.
    static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]+:"));
    if (scheme.match(target).hasMatch())
        return QUrl(target, QUrl::StrictMode);
    return QUrl::fromLocalFile(target);
}

bool shellOpen(const QString &target, OpenFailed onFailed)
{
    const QUrl url = shellUrlFor(target);
    if (!url.isValid() || target.isEmpty())
        return false;
    if (handler())
        return handler()(url);
    return startOpener(url, std::move(onFailed));
}

OpenFailed tellWhenFailed(const QString &target, QWidget *parent)
{
    const bool askedForParent = parent != nullptr;
    const QPointer<QWidget> owner(parent);
    return [target, owner, askedForParent](const QString &reason) {
        if (askedForParent && !owner)
            return; // the window that asked has closed
        tellOpenFailed(target, reason, owner);
    };
}

bool shellOpenOrTell(const QString &target, QWidget *parent)
{
    if (target.isEmpty())
        return false;
    const bool opened = shellOpen(target, tellWhenFailed(target, parent));
    if (!opened)
        tellUnopened({target}, parent);
    return opened;
}

void tellUnopened(const QStringList &targets, QWidget *parent)
{
    if (targets.isEmpty())
        return;
    QStringList lines;
    for (const QString &target : targets)
        lines << unopenedText(target, QLatin1String(kNoProgram));
    tell(lines.join(QStringLiteral("\n\n")), parent);
}

void tellOpenFailed(const QString &target, const QString &reason, QWidget *parent)
{
    tell(unopenedText(target, reason), parent);
}

void setShellOpenHandler(ShellOpenHandler h) { handler() = std::move(h); }

void setOpenerProgram(const QString &program) { openerProgram() = program; }

int runningOpeners() { return openersRunning(); }

} // namespace Platform
