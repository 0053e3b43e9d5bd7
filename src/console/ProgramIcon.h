// The program's icon: every window's frame and the notification area show
// it. (The main window's top panel shows a JPEG picture made from it.)
#pragma once

#include <QIcon>

namespace Console {

QIcon ProgramIcon();

} // namespace Console
