#include "core/scheduler/status_texts.h"

#include <cmath>

#include "core/text/format.h"
#include "core/text/text_table.h"
#include "core/types/currency.h"

namespace {

// Language files cannot end a text with a blank, so a label gets its own before the figure.
QString Label(const TextTable& texts, int number) {
    QString label = texts.text(number);
    if (!label.isEmpty() && !label.back().isSpace()) {
        label += u' ';
    }
    return label;
}

}  // namespace

QString StatusTotalText(std::int64_t totalBytes, const TextTable& texts) {
    return Label(texts, 668) + FormatSize(Currency::fromBytes(totalBytes), texts) +
           QStringLiteral("  ");
}

QString StatusSpeedText(float bytesPerSecond, const TextTable& texts) {
    const auto kilobytes = static_cast<qint64>(std::floor(double(bytesPerSecond) / 1024.0));
    return Label(texts, 667) + QString::number(kilobytes) + u' ' + texts.text(1) +
           QStringLiteral("/s ");
}

QString TrayTipText(int activeDownloads, const QString& speedText, const TextTable& texts) {
    return QStringLiteral("Brenloft ") + texts.text(705) + QStringLiteral(" (") +
           QString::number(activeDownloads) + QStringLiteral(") ") + speedText;
}
