#include "ui/preview/previewable_types.h"

#include <QByteArrayList>
#include <QImageReader>
#include <QMimeDatabase>
#include <algorithm>

QString PreviewExtension(const QString& name) {
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot < 0) {
        return {};
    }
    return name.mid(dot + 1).toUpper();
}

namespace {

bool IsA(const QMimeType& type, const QString& family) {
    if (type.name().startsWith(family)) {
        return true;
    }
    const QStringList parents = type.allAncestors();
    return std::any_of(parents.begin(), parents.end(),
                       [&](const QString& parent) { return parent.startsWith(family); });
}

}  // namespace

PreviewKind PreviewKindOf(const QString& extension) {
    if (extension.isEmpty()) {
        return PreviewKind::None;
    }
    const QString lower = extension.toLower();
    if (QImageReader::supportedImageFormats().contains(lower.toLatin1())) {
        return PreviewKind::Picture;
    }
    // An extension may name several types (".ogg": sound or video in Ogg); sound wins, the
    // usual content of the ambiguous ones.
    const QList<QMimeType> types =
        QMimeDatabase().mimeTypesForFileName(QStringLiteral("x.") + lower);
    const auto any = [&](const QString& family) {
        return std::any_of(types.begin(), types.end(),
                           [&](const QMimeType& type) { return IsA(type, family); });
    };
    if (any(QStringLiteral("audio/"))) {
        return PreviewKind::Sound;
    }
    if (any(QStringLiteral("video/"))) {
        return PreviewKind::Video;
    }
    return PreviewKind::None;
}
