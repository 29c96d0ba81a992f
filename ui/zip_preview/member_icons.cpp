#include "ui/zip_preview/member_icons.h"

#include <QMimeDatabase>
#include <QStyle>

MemberIcons::MemberIcons(const QStyle* style)
    : fallback_(style->standardIcon(QStyle::SP_FileIcon)),
      folder_(QIcon::fromTheme(QStringLiteral("folder"), style->standardIcon(QStyle::SP_DirIcon))) {
}

QIcon MemberIcons::file(const QString& name) {
    static const QMimeDatabase database;
    const QMimeType type = database.mimeTypeForFile(name, QMimeDatabase::MatchExtension);
    const auto found = byType_.constFind(type.name());
    if (found != byType_.constEnd()) {
        return *found;
    }
    QIcon icon = QIcon::fromTheme(type.iconName());
    if (icon.isNull()) {
        icon = QIcon::fromTheme(type.genericIconName(), fallback_);
    }
    byType_.insert(type.name(), icon);
    return icon;
}
