#pragma once

#include <QString>

// Two small files in the application folder that the browser extension's helper (the launcher)
// reads to learn what the user chose, so that it needs neither the settings store nor a running
// Brenloft to answer the extension.
//
// "iemode.dat": one line, the integration mode 0-3 ("BrowserIEIntegrationMode"): 0 take every
// download, 1 only with Ctrl held, 2 only without Ctrl, 3 never. Rewritten on every OK of the
// options window.
// "contextmenu.dat": present while the "Download with Brenloft" link menu entry is installed
// ("BrowserIngeration" at the last start).
inline constexpr char IeModeFileName[] = "iemode.dat";
inline constexpr char ContextMenuFileName[] = "contextmenu.dat";

// Writes the mode as one decimal line; false when the file could not be written.
bool WriteIeModeFile(const QString& applicationFolder, int mode);
// The mode the file holds; 0 when it is missing or holds anything but 0 to 3.
int ReadIeModeFile(const QString& applicationFolder);

// Makes or removes "contextmenu.dat"; false when that failed.
bool WriteContextMenuFile(const QString& applicationFolder, bool installed);
bool ContextMenuInstalled(const QString& applicationFolder);
