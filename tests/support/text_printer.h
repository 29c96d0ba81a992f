#pragma once

#include <QString>
#include <ostream>

// Readable failures: texts print as texts, not as arrays of code units.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}
