#include "tests/support/test_files.h"

#include <fcntl.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
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

qint64 WrittenBytesIn(const QString& folder) {
    qint64 total = 0;
    for (const QFileInfo& info : QDir(folder).entryInfoList(QDir::Files | QDir::Hidden)) {
        const int fd = ::open(QFile::encodeName(info.filePath()).constData(), O_RDONLY);
        if (fd < 0) {
            continue;
        }
        off_t data = 0;
        while ((data = ::lseek(fd, data, SEEK_DATA)) >= 0) {
            const off_t hole = ::lseek(fd, data, SEEK_HOLE);
            total += hole - data;
            data = hole;
        }
        ::close(fd);
    }
    return total;
}
