#include "core/file_kinds/user_dirs.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

namespace {

// XDG_MUSIC_DIR="$HOME/Music": the value quoted as the shell reads it (a backslash keeps the
// next character), or bare up to a blank. Anything else on the line, comments included, is not
// an entry.
const QRegularExpression& EntryLine() {
    static const QRegularExpression line(QStringLiteral(
        "^\\s*XDG_([A-Z0-9_]+)_DIR\\s*=\\s*(?:\"((?:[^\"\\\\]|\\\\.)*)\"|([^\\s\"#]+))"));
    return line;
}

QString Unescaped(const QString& quoted) {
    QString plain;
    for (qsizetype i = 0; i < quoted.size(); ++i) {
        if (quoted[i] == u'\\' && i + 1 < quoted.size()) {
            ++i;
        }
        plain += quoted[i];
    }
    return plain;
}

// "$HOME/x" or "/x"; anything relative is refused, as xdg-user-dirs refuses it.
QString Absolute(const QString& value, const QString& home) {
    static const QLatin1StringView kHome("$HOME");
    if (value.startsWith(kHome)) {
        const QString rest = value.mid(kHome.size());
        return rest.isEmpty() || rest.startsWith(u'/') ? QDir::cleanPath(home + rest) : QString();
    }
    return value.startsWith(u'/') ? QDir::cleanPath(value) : QString();
}

}  // namespace

UserDirs ReadUserDirs(const QString& path, const QString& home) {
    UserDirs dirs;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        return dirs;
    }
    const QString ownHome = QDir::cleanPath(home);
    for (const QString& line : QString::fromUtf8(file.readAll()).split(u'\n')) {
        const QRegularExpressionMatch m = EntryLine().match(line);
        if (!m.hasMatch()) {
            continue;
        }
        const QString value = m.hasCaptured(2) ? Unescaped(m.captured(2)) : m.captured(3);
        const QString folder = Absolute(value, home);
        // The home folder itself is how xdg-user-dirs writes "switched off".
        if (folder.isEmpty() || folder == ownHome) {
            dirs.remove(m.captured(1));
        } else {
            dirs.insert(m.captured(1), folder);
        }
    }
    return dirs;
}

QString UserDirsFile() {
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!QDir::isAbsolutePath(config)) {
        config = QDir::homePath() + QStringLiteral("/.config");
    }
    return config + QStringLiteral("/user-dirs.dirs");
}
