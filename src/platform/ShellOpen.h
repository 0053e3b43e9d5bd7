// Opens a file, a folder or a web link with the program the desktop
// associates with it. The target travels as one URL, never as a command
// line, so no part of a path or link can be taken for a command.
// Tests install a handler that records the URL instead of opening it.
#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>
#include <functional>

class QWidget;

namespace Platform {

// A link with a scheme ("https:", "mailto:", "file:") stays as it is; anything
// else is a local path.
QUrl shellUrlFor(const QString &target);

// Opens the target; false when nothing could open it.
bool shellOpen(const QString &target);

// Opens the target; when the desktop cannot, one message box names it, so the
// technician can find it by hand. Returns whether it opened. An empty target
// is neither opened nor reported.
bool shellOpenOrTell(const QString &target, QWidget *parent = nullptr);

// One message box for every target in the list that could not be opened, a
// paragraph each; nothing for an empty list.
void tellUnopened(const QStringList &targets, QWidget *parent = nullptr);

using ShellOpenHandler = std::function<bool(const QUrl &)>;
// Replaces the desktop's opener; an empty handler puts it back.
void setShellOpenHandler(ShellOpenHandler handler);

} // namespace Platform
