#include "engine/completion/completion_actions.h"

#include <QProcess>

bool DetachedLauncherOnly::startDetached(const QString& program, const QStringList& arguments) {
    return QProcess::startDetached(program, arguments);
}
