#include "ui/preview/bounded_file.h"

#include <algorithm>

BoundedFile::BoundedFile(const QString& path, qint64 limit, QObject* parent)
    : QIODevice(parent), file_(path), wanted_(limit) {}

bool BoundedFile::open(OpenMode mode) {
    if ((mode & ReadWrite) != ReadOnly || !file_.open(ReadOnly)) {
        return false;
    }
    limit_ = wanted_ < 0 ? file_.size() : std::min(wanted_, file_.size());
    // The file buffers already; a second buffer here would only copy.
    return QIODevice::open(mode | Unbuffered);
}

void BoundedFile::close() {
    QIODevice::close();
    file_.close();
}

bool BoundedFile::seek(qint64 pos) {
    return pos >= 0 && pos <= limit_ && file_.seek(pos) && QIODevice::seek(pos);
}

qint64 BoundedFile::readData(char* data, qint64 maxSize) {
    const qint64 left = std::max<qint64>(limit_ - file_.pos(), 0);
    return file_.read(data, std::min(maxSize, left));
}

qint64 BoundedFile::writeData(const char* /*data*/, qint64 /*maxSize*/) {
    return -1;
}
