#include "core/scheduler/hand_off_file.h"

#include <QFile>

#include "core/text/url_codec.h"
#include "core/urls/parse_url.h"

namespace {

// A command line is short; a larger file is not one the program wrote.
constexpr qint64 MaxLineBytes = 64 * 1024;

QString FirstLine(QFile& file) {
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    QString line = QString::fromLocal8Bit(file.readLine(MaxLineBytes));
    file.close();
    for (qsizetype i = 0; i < line.size(); ++i) {
        if (line[i] == u'\r' || line[i] == u'\n') {
            line.truncate(i);
            break;
        }
    }
    return line;
}

}  // namespace

std::optional<QString> TakeHandOffUrl(const QString& path) {
    const std::optional<QString> line = TakeHandOffLine(path);
    return line ? HandOffUrl(*line) : std::nullopt;
}

std::optional<QString> TakeHandOffLine(const QString& path) {
    QFile file(path);
    if (!file.exists()) {
        return std::nullopt;
    }
    QString line = FirstLine(file);
    // Read once: a file that stayed would hand the same address over on every tick.
    file.remove();
    return line;
}

std::optional<QString> HandOffUrl(QString line) {
    line.remove(u'"');
    const QString url = EncodeUrl(line.trimmed());
    if (HasDownloadScheme(url)) {
        return url;
    }
    return std::nullopt;
}
