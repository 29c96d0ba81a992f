#pragma once

#include <QString>

// The longest name one folder entry may have on the usual Linux file systems, in bytes of its
// UTF-8 form.
constexpr qsizetype MaxFileNameBytes = 255;

// Turns a name that came from a URL, a server header or the list into one safe entry of the
// download folder: "/" and "\" become "_", as do control characters and the bidirectional
// overrides that make "evil<RLO>txt.exe" read as "evilexe.txt"; leading dots are dropped (no
// ".", no "..", no hidden file); an empty result becomes "download"; a name longer than
// MaxFileNameBytes is cut at a character boundary, keeping a short extension.
QString PlainFileName(const QString& name);

// `head` followed by `tail`, with `head` cut at a character boundary so that the whole takes at
// most MaxFileNameBytes in UTF-8. A tail too long on its own is cut at its end instead.
QString FitFileName(const QString& head, const QString& tail);
