#pragma once

#include <QByteArray>
#include <QString>

// Files the tests make and compare: random contents, whole reads and writes, SHA-256 in hex.
QByteArray RandomBytes(qsizetype size);
bool WriteFile(const QString& path, const QByteArray& bytes);  // replaces what was there
QByteArray ReadFile(const QString& path);                      // empty when unreadable
QByteArray Sha256(const QByteArray& bytes);
QByteArray FileSha256(const QString& path);  // read in pieces; empty when unreadable
