#pragma once

#include <QByteArray>
#include <QString>

#include "integration/browsers/browser_catalog.h"

// The native-messaging host manifest that lets the Brenloft extension start the launcher:
// its name, the launcher's absolute path, and the one extension allowed to use it, named as
// the family's browsers name extensions.
QByteArray NativeHostManifest(BrowserFamily family, const QString& launcherPath);

// "<folder>/<host name>.json".
QString NativeHostManifestPath(const QString& folder);

// Writes the manifest into `folder` (made if missing), whole or not at all: a browser reading
// it meanwhile sees the old one or the new one. Returns why it failed, or an empty text.
QString WriteNativeHostManifest(const QString& folder, const QByteArray& manifest);

// Removes the manifest from `folder`; a missing one is no error. Returns why it failed, or an
// empty text.
QString RemoveNativeHostManifest(const QString& folder);
