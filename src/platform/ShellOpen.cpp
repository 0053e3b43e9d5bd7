#include "platform/ShellOpen.h"

#include "platform/Prompter.h"

#include <QDir>
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

constexpr const char *kDesktopOpener = "xdg-open";
constexpr qsizetype kErrorTail = 4096; // bytes of the opener's error output kept

// What the technician can do when no program opens a target, by its kind.
QString noProgramText(const QUrl &url)
{
    const char *kind = "links of this kind";
    if (url.isLocalFile())
        kind = QFileInfo(url.toLocalFile()).isDir() ? "folders" : "files of this kind";
    return QStringLiteral("No program is set to open %1; set one in the desktop's settings.").arg(QLatin1String(kind));
}

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

QString opener() { return openerProgram().isEmpty() ? QLatin1String(kDesktopOpener) : openerProgram(); }

// The opener's one argument: an absolute path for a file, else the link.
QString openerArgument(const QUrl &url)
{
    return url.isLocalFile() ? QFileInfo(url.toLocalFile()).absoluteFilePath() : url.toString(QUrl::FullyEncoded);
}

// The target as it may stand in the opener's words: its URL or its path
// (the URLs first, as they hold the path).
QStringList spellingsOf(const QUrl &url)
{
    if (!url.isLocalFile())
        return {};
    return {url.toString(QUrl::FullyEncoded), url.toString(), openerArgument(url)};
}

// The short name the message gives a target: a file's or folder's own name.
QString shortNameOf(const QUrl &url)
{
    if (!url.isLocalFile())
        return url.toString();
    const QString name = QDir(url.toLocalFile()).dirName();
    return name.isEmpty() ? url.toLocalFile() : name;
}

// The last line of the opener's error output, in the technician's terms:
// the target by its short name (a path may hold a line break, and is named
// once already), without the opener's own name, the script path and line
// number a shell puts before its errors ("/usr/bin/xdg-open: 882: ").
QString lastErrorLine(const QByteArray &errorOutput, const QUrl &url)
{
    static const QRegularExpression shellPrefix(QStringLiteral("^\\S+: (line )?[0-9]+: "));
    const QString placeholder(QChar(0xFFFC));
    QString text = QString::fromLocal8Bit(errorOutput);
    for (const QString &spelling : spellingsOf(url))
        text.replace(spelling, placeholder);
    QStringList lines = text.split(QLatin1Char('\n'));
    while (!lines.isEmpty() && lines.last().trimmed().isEmpty())
        lines.removeLast();
    QString line = lines.isEmpty() ? QString() : lines.last().trimmed();
    line.remove(shellPrefix);
    for (const QString &name : QStringList{QLatin1String(kDesktopOpener), QFileInfo(opener()).fileName()}) {
        if (line.startsWith(name + QStringLiteral(": ")))
            line.remove(0, name.size() + 2);
    }
    return line.replace(placeholder, shortNameOf(url));
}

// Why the opener failed, in one sentence: no program for the kind of target
// (the opener says "no method available", which adds nothing to that), else
// the opener's own last line, else how it ended.
QString failureReason(QProcess &process, const QByteArray &errorOutput, const QUrl &url)
{
    if (process.error() == QProcess::FailedToStart)
        return noProgramText(url);
    const QString line = lastErrorLine(errorOutput, url);
    if (line.startsWith(QLatin1String("no method available")))
        return noProgramText(url);
    if (!line.isEmpty())
        return QStringLiteral("The desktop's opener reported: %1").arg(line);
    const QString name = QFileInfo(process.program()).fileName();
    if (process.exitStatus() == QProcess::CrashExit)
        return QStringLiteral("The desktop's opener (%1) ended unexpectedly.").arg(name);
    return QStringLiteral("The desktop's opener (%1) ended with exit code %2.").arg(name).arg(process.exitCode());
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
    const auto ended = [process, errorOutput, hasEnded, url, onFailed = std::move(onFailed)](bool failed) {
        if (std::exchange(*hasEnded, true))
            return;
        --openersRunning();
        *errorOutput += process->readAllStandardError();
        if (failed && onFailed)
            onFailed(failureReason(*process, *errorOutput, url));
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
    return QStringLiteral("Could not open \"%1\".\n%2").arg(target, reason);
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
        lines << unopenedText(target, noProgramText(shellUrlFor(target)));
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
