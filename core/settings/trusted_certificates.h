#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

// Certificates the user chose to trust although they do not verify: at most one per host, the
// SHA-256 of the server's leaf certificate. A server that changes its certificate is asked
// about again.
using TrustedCertificates = QList<QPair<QString, QByteArray>>;

// The file in the application folder; readable by its owner only.
inline constexpr char TrustedCertificatesFileName[] = "trusted-certificates";

// "host sha256-hex" lines; lines that do not read so are skipped. None when the file is missing.
TrustedCertificates LoadTrustedCertificates(const QString& path);

// Remembers `fingerprint` for `host` (in place of an earlier one for the host) and saves the
// file, mode 0600. Returns what went wrong, or an empty text.
QString RememberTrustedCertificate(const QString& path, const QString& host,
                                   const QByteArray& fingerprint);

// "AB:CD:..." as certificate viewers show a fingerprint, so the user can compare.
QString FingerprintText(const QByteArray& fingerprint);
