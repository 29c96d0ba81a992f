#include "engine/http/content_range.h"

#include <QList>

namespace {

std::optional<std::int64_t> Number(const QByteArray& text) {
    if (text.isEmpty() || text.size() > 18) {
        return std::nullopt;
    }
    std::int64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + (c - '0');
    }
    return value;
}

// "FIRST-LAST/TOTAL" as the messages show it; an unknown last byte or total left out.
QString RangeText(std::int64_t first, std::int64_t last, std::int64_t total) {
    return QString::number(first) + u'-' + (last >= 0 ? QString::number(last) : QString()) +
           (total >= 0 ? u'/' + QString::number(total) : QString());
}

}  // namespace

std::optional<ContentRange> FindContentRange(const QByteArray& head) {
    for (QByteArray line : head.split('\n')) {
        line = line.trimmed();
        if (!line.toLower().startsWith("content-range:")) {
            continue;
        }
        QByteArray value = line.mid(14).trimmed();
        if (!value.toLower().startsWith("bytes")) {
            return std::nullopt;
        }
        value = value.mid(5).trimmed();
        const qsizetype dash = value.indexOf('-');
        const qsizetype slash = value.indexOf('/');
        if (dash <= 0 || slash < dash) {
            return std::nullopt;
        }
        const auto first = Number(value.left(dash).trimmed());
        const auto last = Number(value.mid(dash + 1, slash - dash - 1).trimmed());
        const QByteArray totalText = value.mid(slash + 1).trimmed();
        const auto total = totalText == "*" ? std::optional<std::int64_t>(-1) : Number(totalText);
        if (!first || !last || !total || *first > *last || (*total >= 0 && *last >= *total)) {
            return std::nullopt;
        }
        return ContentRange{*first, *last, *total};
    }
    return std::nullopt;
}

QString RangeRefusal(const std::optional<ContentRange>& sent, std::int64_t first, std::int64_t last,
                     std::int64_t total, bool mayEndEarly) {
    const QString asked = RangeText(first, last, total);
    if (!sent) {
        return QStringLiteral("the server did not say which part of the file it sent (asked: %1)")
            .arg(asked);
    }
    const QString got =
        QStringLiteral("%1-%2/%3")
            .arg(sent->first)
            .arg(sent->last)
            .arg(sent->total >= 0 ? QString::number(sent->total) : QStringLiteral("*"));
    if (total >= 0 && sent->total >= 0 && sent->total != total) {
        return QStringLiteral("the server gave another size for the file: bytes %1 for %2")
            .arg(got, asked);
    }
    const bool endsElsewhere =
        last >= 0 && (sent->last > last || (!mayEndEarly && sent->last != last));
    if (sent->first != first || endsElsewhere) {
        return QStringLiteral(
                   "the server sent another part of the file than asked: bytes %1 for %2")
            .arg(got, asked);
    }
    return {};
}
