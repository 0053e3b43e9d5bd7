// Opens a file, a folder or a web link with the program the desktop
// associates with it. The target travels as one URL, never as a command
// line, so no part of a path or link can be taken for a command.
// Tests install a handler that records the URL instead of opening it.
#pragma once

#include <QString>
#include <QUrl>
#include <functional>

namespace Platform {

// A link with a scheme ("https:", "mailto:", "file:") stays as it is; anything
// else is a local path.
QUrl shellUrlFor(const QString &target);

// Opens the target; false when nothing could open it (callers may ignore it).
bool shellOpen(const QString &target);

using ShellOpenHandler = std::function<bool(const QUrl &)>;
// Replaces the desktop's opener; an empty handler puts it back.
void setShellOpenHandler(ShellOpenHandler handler);

} // namespace Platform
