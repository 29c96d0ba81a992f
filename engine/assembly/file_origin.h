#pragma once

#include <QString>

// The address a finished file came from, kept with the file as the extended attribute
// "user.xdg.origin.url" that desktop tools read, where the file system keeps such attributes.
// A run killed between moving a file into place and saving its list knows the file as its own
// by it. The address is kept without a user name or password.
bool MarkOrigin(const QString& path, const QString& url);
bool HasOrigin(const QString& path, const QString& url);
