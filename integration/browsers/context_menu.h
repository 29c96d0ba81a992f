#pragma once

#include <QString>

// SetContextMenu: installs (on) or removes the "Download with Brenloft" entry of the links'
// and pictures' menu in the browsers. The extension offers the entry while the launcher tells
// it that the entry is installed; the launcher learns it from a file in the application
// folder, so a change takes effect at the next start, which runs this with "BrowserIngeration".
// False when the file could not be changed; nobody is told.
bool SetContextMenu(bool on, const QString& applicationFolder);
