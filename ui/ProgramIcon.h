#pragma once

#include <QIcon>

namespace v38 {

// The program's icon at every size it is rendered to (16 to 256 pixels): the window
// icon of all its windows, which window managers, the taskbar and Alt+Tab show.
QIcon programIcon();

} // namespace v38
