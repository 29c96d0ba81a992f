#include "core/scheduler/hand_off_file.h"

#include <QFile>

#include "core/text/url_codec.h"
#include "core/urls/other_program_link.h"
#include "core/urls/parse_url.h"

namespace {

// Lines are short; a larger file is not one the program wrote.
constexpr qint64 MaxFileBytes = 1024 * 1024;

}  // namespace

std::optional<QString> HandOffUrl(QString line) {
    line.remove(u'"');
    // As given: encoding would change what a magnet link or a file name says.
    if (HandedOverAsGiven(line.trimmed())) {
        return line.trimmed();
    }
    const QString url = EncodeUrl(line.trimmed());
    if (HasDownloadScheme(url)) {
        return url;
    }
    return std::nullopt;
}

QString AppendHandOffLines(const QString& path, const QStringList& lines) {
    QByteArray text;
    for (const QString& line : lines) {
        text += line.toLocal8Bit() + "\r\n";
    }
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append) || file.write(text) != text.size() ||
        !file.flush()) {
        return file.errorString();
    }
    return {};
}

std::optional<QStringList> TakeHandOffLines(const QString& path) {
    QFile file(path);
    if (!file.exists()) {
        return std::nullopt;
    }
    QStringList lines;
    if (file.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : file.read(MaxFileBytes).split('\n')) {
            const QString text = QString::fromLocal8Bit(line).remove(u'\r');
            if (!text.trimmed().isEmpty()) {
                lines.append(text);
            }
        }
        file.close();
    }
    // Read once: a file that stayed would hand the same lines over on every tick.
    file.remove();
    return lines;
}
