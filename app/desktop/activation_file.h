#pragma once

#include <QString>

// The D-Bus activation file of the automation entry point: a call to VelmoraProject.Velmora
// starts Brenloft when it is not running. Written at every start so it follows the program
// when it moves. Returns an empty text on success, else why it failed.
QString WriteActivationFile(const QString& executable);

// Where the file lives: $XDG_DATA_HOME/dbus-1/services/VelmoraProject.Velmora.service.
QString ActivationFilePath();
