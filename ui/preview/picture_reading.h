#pragma once

#include <QImage>
#include <QString>

// Reads a picture for the preview, taking its format from `extension` (the real file's, as
// PreviewExtension gives it) since a part file's name says nothing. Only the first `limit` bytes
// are read (all with -1): a picture cut there reads as far as it goes. Null when it will not read.
QImage ReadPreviewPicture(const QString& path, const QString& extension, qint64 limit = -1);
