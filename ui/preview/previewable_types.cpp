#include "ui/preview/previewable_types.h"

#include <QStringList>

QString PreviewExtension(const QString& name) {
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot < 0) {
        return {};
    }
    return name.mid(dot + 1).toUpper();
}

PreviewKind PreviewKindOf(const QString& extension) {
    static const QStringList pictures{QStringLiteral("JPG"), QStringLiteral("BMP"),
                                      QStringLiteral("PNG"), QStringLiteral("TGA")};
    // These get the sound picture; MP1, MP2 and MIDI play in the bare video area.
    static const QStringList sounds{QStringLiteral("MP3"), QStringLiteral("OGG"),
                                    QStringLiteral("WMA"), QStringLiteral("WAV")};
    static const QStringList players{
        QStringLiteral("AVI"), QStringLiteral("MPG"), QStringLiteral("WMV"), QStringLiteral("MP2"),
        QStringLiteral("MP1"), QStringLiteral("MID"), QStringLiteral("RMI")};
    if (pictures.contains(extension)) {
        return PreviewKind::Picture;
    }
    if (sounds.contains(extension)) {
        return PreviewKind::Sound;
    }
    if (players.contains(extension)) {
        return PreviewKind::Video;
    }
    return PreviewKind::None;
}
