#include "cli/progress_lines.h"

#include <unistd.h>

#include <QFileInfo>
#include <cstdio>

#include "core/download_list/checksum_note.h"
#include "core/download_list/records.h"
#include "core/text/format.h"
#include "core/text/url_codec.h"

QString ProgressLine(const DownloadRecord& r, std::optional<double> rate, int receiving,
                     const TextTable& texts) {
    QString name = EscapeControls(DecodeUrl(r.FileName));
    if (name.size() > 32) {
        name = name.left(31) + u'~';
    }
    QString line = QStringLiteral("%1 %2% %3 / %4")
                       .arg(name, -32)
                       .arg(r.Percent, 5, 'f', 1)
                       .arg(FormatSize(r.BytesDone, texts), FormatSize(r.FileSize, texts));
    if (rate) {
        line += QStringLiteral("  %1/s  %2 left")
                    .arg(FormatSize(Currency::fromBytes(static_cast<std::int64_t>(*rate)), texts),
                         FormatDuration(r.RemainingSeconds));
    }
    return line + QStringLiteral("  %1 seg").arg(receiving);
}

QString HashingLine(const DownloadRecord& r, std::int64_t done, std::int64_t total) {
    // The kind it is checked against; a file with none is hashed for its SHA-256 alone.
    const Checksum expected = ReadChecksumNote(r).expected;
    const DigestKind kind = expected.valid() ? expected.kind : DigestKind::Sha256;
    return QStringLiteral("%1: checking %2 %3 %")
        .arg(EscapeControls(QFileInfo(r.SavePath).fileName()), DigestName(kind))
        .arg(total > 0 ? done * 100 / total : 0);
}

ProgressLines::ProgressLines(bool enabled) : enabled_(enabled && ::isatty(STDERR_FILENO) == 1) {}

void ProgressLines::draw(const QStringList& lines) {
    if (!enabled_) {
        return;
    }
    QByteArray out;
    if (drawn_ > 0) {
        out += "\r\x1b[" + QByteArray::number(drawn_) + "A";
    }
    for (const QString& line : lines) {
        out += "\r\x1b[2K" + line.toLocal8Bit() + "\n";
    }
    // Lines left over from a longer drawing are blanked.
    for (int i = static_cast<int>(lines.size()); i < drawn_; ++i) {
        out += "\r\x1b[2K\n";
    }
    const int total = std::max(drawn_, static_cast<int>(lines.size()));
    if (total > lines.size()) {
        out += "\x1b[" + QByteArray::number(total - lines.size()) + "A";
    }
    drawn_ = static_cast<int>(lines.size());
    std::fwrite(out.constData(), 1, static_cast<size_t>(out.size()), stderr);
    std::fflush(stderr);
}

void ProgressLines::clear() {
    if (!enabled_ || drawn_ == 0) {
        return;
    }
    QByteArray out = "\r\x1b[" + QByteArray::number(drawn_) + "A";
    for (int i = 0; i < drawn_; ++i) {
        out += "\r\x1b[2K\n";
    }
    out += "\x1b[" + QByteArray::number(drawn_) + "A";
    drawn_ = 0;
    std::fwrite(out.constData(), 1, static_cast<size_t>(out.size()), stderr);
    std::fflush(stderr);
}
