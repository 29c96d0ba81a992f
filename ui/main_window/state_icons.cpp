#include "ui/main_window/state_icons.h"

#include <QHash>
#include <array>

// Outside any namespace: the resource initialiser of a static library must be named from here.
// A static library's resources are only registered when someone asks for them.
static void InitMainWindowResources() {
    static const bool registered = [] {
        Q_INIT_RESOURCE(main_window);
        return true;
    }();
    (void)registered;
}

namespace {

constexpr std::array<const char*, 5> kKeys = {"notfound", "down", "stop", "shed", "wrong"};

const QHash<QString, QIcon>& StateIcons() {
    static const QHash<QString, QIcon> icons = [] {
        InitMainWindowResources();
        QHash<QString, QIcon> all;
        for (const char* key : kKeys) {
            all.insert(QLatin1String(key),
                       QIcon(QStringLiteral(":/icons/%1.svg").arg(QLatin1String(key))));
        }
        return all;
    }();
    return icons;
}

}  // namespace

QString StateIconKey(StateIcon icon) {
    return QLatin1String(kKeys[static_cast<std::size_t>(icon)]);
}

QIcon StateIconImage(const QString& key) {
    return StateIcons().value(key);
}

QIcon StateIconImage(StateIcon icon) {
    return StateIconImage(StateIconKey(icon));
}

QIcon ToolbarIcon(const QString& themeName, const QString& fallback) {
    InitMainWindowResources();
    return QIcon::fromTheme(themeName,
                            QIcon(QStringLiteral(":/icons/toolbar/%1.svg").arg(fallback)));
}
