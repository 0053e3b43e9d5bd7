// The program's icon: every window's frame, the main window's top panel and
// the notification area show it.
#pragma once

#include <QIcon>

namespace Console {

QIcon ProgramIcon();

} // namespace Console
