#include "ui/preview/picture_reading.h"

#include <QBuffer>
#include <QImageReader>

#include "ui/preview/bounded_file.h"

namespace {

// Older TGA files end without the footer of the format's second version, and Qt's reader
// refuses them. The footer says only "no extension area, no developer area", so adding it
// in memory makes such a file readable without changing what it shows.
constexpr qint64 LargestLegacyTga = 64 * 1024 * 1024;

QImage ReadLegacyTga(const QString& path, qint64 limit) {
    BoundedFile file(path, limit);
    if (!file.open(QIODevice::ReadOnly) || file.size() > LargestLegacyTga) {
        return {};
    }
    QByteArray bytes = file.readAll();
    bytes.append(QByteArray(8, '\0'));
    bytes.append("TRUEVISION-XFILE.", 17);
    bytes.append('\0');
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "tga");
    return reader.read();
}

}  // namespace

QImage ReadPreviewPicture(const QString& path, const QString& extension, qint64 limit) {
    BoundedFile file(path, limit);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    // The named format is tried first; the reader still looks at the content when it does
    // not fit (a PNG saved as ".jpg").
    QImageReader reader(&file, extension.toLower().toLatin1());
    reader.setAutoTransform(true);
    QImage image = reader.read();
    if (image.isNull() && extension == QLatin1String("TGA")) {
        image = ReadLegacyTga(path, limit);
    }
    return image;
}
