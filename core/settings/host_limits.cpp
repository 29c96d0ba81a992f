#include "core/settings/host_limits.h"

#include <QDateTime>
#include <QFile>
#include <algorithm>
#include <bit>

#include "core/download_list/download_list.h"
#include "core/urls/parse_url.h"

namespace {

// A file of this size holds far more servers than anyone meets: a larger one is not ours.
constexpr qint64 kMostFileBytes = 1 << 20;

}  // namespace

HostLimits::HostLimits(QString path, Clock clock)
    : path_(std::move(path)), clock_(std::move(clock)) {
    QFile file(path_);
    if (!file.open(QIODevice::ReadOnly) || file.size() > kMostFileBytes) {
        return;
    }
    while (!file.atEnd()) {
        const QList<QByteArray> fields = file.readLine().trimmed().split(' ');
        if (fields.size() != 3) {
            continue;
        }
        bool limitRead = false;
        bool timeRead = false;
        const int limit = fields[1].toInt(&limitRead);
        const std::int64_t at = fields[2].toLongLong(&timeRead);
        const QString server = QString::fromUtf8(fields[0]);
        if (!limitRead || !timeRead || limit < 1 || limit >= MostConnections ||
            ServerOf(server + u'/') != server) {
            continue;
        }
        // A later line for a server stands for it alone.
        entries_.removeIf([&](const Entry& e) { return e.server == server; });
        entries_.append({server, limit, at});
    }
}

QString HostLimits::ServerOf(const QString& url) {
    const ParsedUrl parsed = ParseUrl(url);
    if (parsed.status != UrlValid) {
        return {};
    }
    return SchemeOf(parsed.protocol) + HostInUrl(parsed.host.toLower()) + u':' +
           QString::number(parsed.port);
}

std::int64_t HostLimits::now() const {
    return clock_ ? clock_() : QDateTime::currentSecsSinceEpoch();
}

int HostLimits::current(const Entry& e) const {
    const std::int64_t rises = std::max<std::int64_t>(0, now() - e.refusedAt) / RiseSeconds;
    return static_cast<int>(std::min<std::int64_t>(e.limit + rises, MostConnections));
}

int HostLimits::limitFor(const QString& server, int wanted) const {
    for (const Entry& e : entries_) {
        if (e.server == server) {
            return std::clamp(current(e), 1, std::max(wanted, 1));
        }
    }
    return wanted;
}

QString HostLimits::stepDown(const QString& server, int limit) {
    if (server.isEmpty()) {
        return {};
    }
    int lowest = std::clamp(limit, 1, int(MostConnections));
    for (const Entry& e : entries_) {
        if (e.server == server) {
            lowest = std::min(lowest, current(e));
        }
    }
    entries_.removeIf([&](const Entry& e) { return e.server == server; });
    if (lowest < MostConnections) {
        entries_.append({server, lowest, now()});
    }
    return save();
}

QList<HostLimits::Remembered> HostLimits::remembered() const {
    QList<Remembered> list;
    for (const Entry& e : entries_) {
        if (const int limit = current(e); limit < MostConnections) {
            list.append({e.server, limit});
        }
    }
    return list;
}

QString HostLimits::forgetAll() {
    entries_.clear();
    return save();
}

QString HostLimits::save() const {
    QByteArray bytes;
    for (const Entry& e : entries_) {
        // Limits that rose back to the most are dropped as the file is written again.
        if (current(e) < MostConnections) {
            bytes += e.server.toUtf8() + ' ' + QByteArray::number(e.limit) + ' ' +
                     QByteArray::number(static_cast<qint64>(e.refusedAt)) + '\n';
        }
    }
    // As the list is written: whole or not at all, readable by its owner only.
    return SaveEncodedList(bytes, path_);
}

int ConnectionsAfterRefusal(int current, int working) {
    const int at = std::min(std::max(current, 1), std::max(working, 1));
    return static_cast<int>(std::bit_floor(static_cast<unsigned>(at)));
}
