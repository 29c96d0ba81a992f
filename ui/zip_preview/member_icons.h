#pragma once

#include <QHash>
#include <QIcon>
#include <QString>

class QStyle;

// A member's icon by the type its name suggests: the MIME database names the type, the icon
// theme draws it. Nothing is created on disk to ask. One icon per type, kept for reuse.
class MemberIcons {
public:
    explicit MemberIcons(const QStyle* style);
    QIcon file(const QString& name);
    QIcon folder() const { return folder_; }

private:
    QHash<QString, QIcon> byType_;
    QIcon fallback_;
    QIcon folder_;
};
