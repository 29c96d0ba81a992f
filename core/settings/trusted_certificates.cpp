#include "core/settings/trusted_certificates.h"

#include <QFile>

#include "core/download_list/download_list.h"

namespace {

constexpr int Sha256Size = 32;

}  // namespace

TrustedCertificates LoadTrustedCertificates(const QString& path) {
    TrustedCertificates trusted;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return trusted;
    }
    while (!file.atEnd()) {
        const QList<QByteArray> fields = file.readLine().trimmed().split(' ');
        if (fields.size() != 2 || fields[0].isEmpty()) {
            continue;
        }
        const QByteArray fingerprint = QByteArray::fromHex(fields[1]);
        if (fingerprint.size() == Sha256Size && fingerprint.toHex() == fields[1].toLower()) {
            trusted.append({QString::fromUtf8(fields[0]).toLower(), fingerprint});
        }
    }
    return trusted;
}

QString RememberTrustedCertificate(const QString& path, const QString& host,
                                   const QByteArray& fingerprint) {
    const QString key = host.toLower();
    QByteArray bytes;
    for (const auto& [known, print] : LoadTrustedCertificates(path)) {
        if (known != key) {
            bytes += known.toUtf8() + ' ' + print.toHex() + '\n';
        }
    }
    bytes += key.toUtf8() + ' ' + fingerprint.toHex() + '\n';
    // Written as the list is: whole or not at all, owner-only from the first byte.
    return SaveEncodedList(bytes, path);
}

QString FingerprintText(const QByteArray& fingerprint) {
    return QString::fromLatin1(fingerprint.toHex(':').toUpper());
}
