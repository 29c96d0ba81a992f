#pragma once

#include <QString>
#include <ostream>

#include "core/download_list/entry_state.h"

// Readable failures: texts print as texts, not as arrays of code units.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

// An entry's state prints as its name, not as a byte.
inline void PrintTo(ListEntryState state, std::ostream* out) {
    *out << StateName(state);
}
