#include "platform/ShellOpen.h"

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

void setShellOpenHandler(ShellOpenHandler h) { handler() = std::move(h); }

} // namespace Platform
