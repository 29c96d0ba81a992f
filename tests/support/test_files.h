#pragma once

#include <QByteArray>
#include <QString>

// Files the tests make and compare: random contents, whole reads and writes, SHA-256 in hex.
QByteArray RandomBytes(qsizetype size);
bool WriteFile(const QString& path, const QByteArray& bytes);  // replaces what was there
QByteArray ReadFile(const QString& path);                      // empty when unreadable
QByteArray Sha256(const QByteArray& bytes);
QByteArray FileSha256(const QString& path);  // read in pieces; empty when unreadable
// Bytes written into the files directly in `folder` (no deeper): room set aside for a file but
// not written yet, and holes, do not count.
qint64 WrittenBytesIn(const QString& folder);
