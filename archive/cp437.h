#pragma once

#include <QByteArray>
#include <QString>

// Names in a ZIP archive without the UTF-8 flag that are not UTF-8 either are in the IBM PC code
// page 437; the lower half is ASCII.
QString Cp437ToUnicode(const QByteArray& bytes);
