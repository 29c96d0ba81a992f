#pragma once

#include <QString>
#include <functional>

class QDBusConnection;
class QObject;

// Shows a file selected in the user's file manager (org.freedesktop.FileManager1 on the
// session bus). Where no file manager takes the call, its folder is opened with the desktop's
// program for folders (`openFolder`) instead. The answer is waited for in the event loop;
// `context` ends the wait when it goes.
void ShowInFolder(const QDBusConnection& bus, const QString& path,
                  std::function<void(const QString& folder)> openFolder, QObject* context);
