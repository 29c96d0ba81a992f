#pragma once

#include <QIcon>

// The program's own pictures, compiled in so that they show without an installed theme.

// The program icon: windows, the basket and the idle tray icon.
QIcon ProgramIcon();

// The tray's speed meter for levels 1 to 4; the program icon for level 0 and a null icon for
// any other level.
QIcon SpeedIcon(int level);
