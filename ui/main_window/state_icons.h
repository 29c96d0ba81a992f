#pragma once

#include <QIcon>
#include <QString>
#include <cstdint>

// The five pictures of the download lists, under the keys the rows name them by.
enum class StateIcon : std::uint8_t { NotFound, Down, Stop, Shed, Wrong };

// "notfound", "down", "stop", "shed", "wrong".
QString StateIconKey(StateIcon icon);

// The picture for a key above; a null icon for any other key.
QIcon StateIconImage(const QString& key);
QIcon StateIconImage(StateIcon icon);

// A toolbar picture: the icon theme's `themeName` where the theme has it, else our own drawing
// under `fallback` (a file name in the toolbar folder of the resources).
QIcon ToolbarIcon(const QString& themeName, const QString& fallback);
