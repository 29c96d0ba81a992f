#pragma once

#include <QByteArray>
#include <QString>

// Standard Base64 (RFC 4648 alphabet, "=" padding) of the UTF-8 bytes of `text`, as the basic
// authorization header carries a user name and password.
QByteArray Base64(const QString& text);

// The same over bytes that are already in their wire form.
QByteArray Base64Bytes(const QByteArray& bytes);
