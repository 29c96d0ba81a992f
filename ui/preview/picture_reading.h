#pragma once

#include <QImage>
#include <QString>

// Reads a picture for the preview, taking its format from `extension` (the real file's, as
// PreviewExtension gives it) since a part file's name says nothing. Null when it will not read.
QImage ReadPreviewPicture(const QString& path, const QString& extension);
