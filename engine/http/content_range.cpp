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
