#pragma once

#include <QString>

// Percent-encodes control characters, space and "!" to "+" except "%" and "&" (as "%" and the
// code in upper-case hex without padding: a tab gives "%9"); every other byte is kept.
QString EncodeUrl(const QString& text);

// Replaces "%" and the next two characters by the byte they name in hex (an invalid pair gives
// byte 0); every other character is kept.
QString DecodeUrl(const QString& text);
