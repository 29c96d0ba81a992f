#include "tests/support/test_files.h"

#include <QCryptographicHash>
#include <QFile>
#include <QRandomGenerator>

QByteArray RandomBytes(qsizetype size) {
    QByteArray bytes(size, Qt::Uninitialized);
    auto* generator = QRandomGenerator::global();
    const qsizetype words = size / qsizetype(sizeof(quint32));
    generator->fillRange(reinterpret_cast<quint32*>(bytes.data()), words);
    for (qsizetype i = words * qsizetype(sizeof(quint32)); i < size; ++i) {
        bytes[i] = static_cast<char>(generator->bounded(256));
    }
    return bytes;
}

bool WriteFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

QByteArray ReadFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray Sha256(const QByteArray& bytes) {
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

QByteArray FileSha256(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(&file);
    return hash.result().toHex();
}
