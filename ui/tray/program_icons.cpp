#include "ui/tray/program_icons.h"

#include <QString>

// Outside any namespace: the resource initialiser of a static library must be named from here.
// A static library's resources are only registered when someone asks for them.
static void InitTrayResources() {
    static const bool registered = [] {
        Q_INIT_RESOURCE(tray);
        return true;
    }();
    (void)registered;
}

QIcon ProgramIcon() {
    InitTrayResources();
    return QIcon(QStringLiteral(":/icons/brenloft.svg"));
}

QIcon SpeedIcon(int level) {
    if (level == 0) {
        return ProgramIcon();
    }
    if (level < 1 || level > 4) {
        return QIcon();
    }
    InitTrayResources();
    return QIcon(QStringLiteral(":/icons/speed-%1.svg").arg(level));
}
