#include "platform/ShellOpen.h"

#include "platform/Prompter.h"

#include <QDesktopServices>
#include <QRegularExpression>

namespace Platform {

namespace {

ShellOpenHandler &handler()
{
    static ShellOpenHandler h;
    return h;
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

bool shellOpen(const QString &target)
{
    const QUrl url = shellUrlFor(target);
    if (!url.isValid() || target.isEmpty())
        return false;
    if (handler())
        return handler()(url);
    return QDesktopServices::openUrl(url);
}

bool shellOpenOrTell(const QString &target, QWidget *parent)
{
    if (target.isEmpty())
        return false;
    const bool opened = shellOpen(target);
    if (!opened)
        tellUnopened({target}, parent);
    return opened;
}

void tellUnopened(const QStringList &targets, QWidget *parent)
{
    if (targets.isEmpty())
        return;
    // The desktop's opener answers only yes or no: a refusal means that no
    // program is set up (or installed) for this kind of file or folder.
    QStringList lines;
    for (const QString &target : targets)
        lines << QStringLiteral("Could not open %1: no program to open it.").arg(target);
    showMessage(lines.join(QStringLiteral("\n\n")), parent);
}

void setShellOpenHandler(ShellOpenHandler h) { handler() = std::move(h); }

} // namespace Platform
