#pragma once

#include <QString>
#include <cstdint>

class TextTable;

// The main window's status line and the tray tip, in the interface language.

// Panel 3: the total received, "Total: 1.5 MB" and two blanks.
QString StatusTotalText(std::int64_t totalBytes, const TextTable& texts);

// Panel 2: the speed in whole kilobytes per second, "Speed: 12 KB/s" and a blank.
QString StatusSpeedText(float bytesPerSecond, const TextTable& texts);

// The tray tip: the program's name, the active downloads and the speed text.
QString TrayTipText(int activeDownloads, const QString& speedText, const TextTable& texts);
