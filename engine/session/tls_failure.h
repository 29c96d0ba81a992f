#pragma once

// The end of a probe whose TLS connection failed, and the question that lets a user trust a
// certificate that does not verify: their words, in the user's language.

#include <QByteArray>
#include <QString>

#include "net/tls_connection.h"

class TextTable;

// "The certificate of example.org has expired", from the language file where it has the text.
QString TlsFailureWords(const TextTable& texts, const TlsFailure& failure, const QString& host);

// `why` the connection failed, whether to trust the certificate for `host` from now on, and its
// fingerprint to compare.
QString TlsTrustQuestion(const TextTable& texts, const QString& why, const QString& host,
                         const QByteArray& fingerprint);
