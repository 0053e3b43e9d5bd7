// Opens a file, a folder or a web link with the program the desktop
// associates with it, through the desktop's opener (xdg-open). The target
// travels as one argument, never as a command line, so no part of a path or
// link can be taken for a command.
//
// The opener runs beside the program: nothing waits for it. When it cannot
// be started the caller hears at once; when it starts and then fails (on a
// desktop with no program for the kind of file, xdg-open ends with "no
// method available"), the caller hears later, with the opener's reason.
// Tests install a handler that records the URL instead of opening it, or an
// opener program of their own.
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

// Why an opener that had started failed, as one sentence for the
// technician: that no program is set for the kind of target (the opener's
// "no method available"), else the last line of the opener's error output
// without the script paths and line numbers a shell puts before it, else
// how the opener ended.
using OpenFailed = std::function<void(const QString &reason)>;

// Opens the target; false when nothing could be started to open it. When the
// opener started and then fails, `onFailed` runs later with its reason.
bool shellOpen(const QString &target, OpenFailed onFailed = {});

// Opens the target; when the desktop cannot, one message box names it and
// why, so the technician can find it by hand: at once when no opener could
// be started (the result is then false), later when the opener fails. A
// later failure is not told once `parent` has closed. An empty target is
// neither opened nor reported.
bool shellOpenOrTell(const QString &target, QWidget *parent = nullptr);

// These messages come one box at a time: one told while another is on
// screen follows it when it closes.
//
// One message box for every target in the list that could not be opened, a
// paragraph each, because no opener could be started; nothing for an empty list.
void tellUnopened(const QStringList &targets, QWidget *parent = nullptr);
// The message box for one target whose opener failed: "Could not open",
// the target, and on a line of its own the reason.
void tellOpenFailed(const QString &target, const QString &reason, QWidget *parent = nullptr);
// A shellOpen callback that tells of the failure, unless `parent` (when
// given) has closed by then.
OpenFailed tellWhenFailed(const QString &target, QWidget *parent);

using ShellOpenHandler = std::function<bool(const QUrl &)>;
// Replaces the desktop's opener; an empty handler puts it back.
void setShellOpenHandler(ShellOpenHandler handler);
// The opener program run for each target (default "xdg-open"); empty puts
// the default back.
void setOpenerProgram(const QString &program);
// Openers started and not yet ended.
int runningOpeners();

} // namespace Platform
