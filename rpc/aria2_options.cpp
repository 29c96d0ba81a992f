// The options a client reads and changes: one download's (split, user-agent) and the
// program's (speed limit, downloads at once, folder, connections, tries), in aria2's names and
// value forms, each applied as the options window applies it.

#include <QDir>
#include <QJsonObject>

#include "core/download_list/download_list.h"
#include "core/download_list/entry_options.h"
#include "core/settings/settings.h"
#include "engine/engine_context.h"
#include "engine/queue/download_queue.h"
#include "net/socket_module.h"
#include "rpc/aria2_dispatch.h"

namespace {

[[noreturn]] void Refuse(const QString& name) {
    throw RpcFailure{
        1,
        QStringLiteral("We encountered a problem while processing the option '--%1'.").arg(name)};
}

QString Text(const QJsonObject& options, const QString& name) {
    const QJsonValue value = options.value(name);
    if (!value.isString()) {
        Refuse(name);
    }
    return value.toString();
}

// A whole number from `low` up; above `high` taken as `high` (aria2 allows 16 connections
// where a download here makes 8).
int Count(const QJsonObject& options, const QString& name, int low, int high) {
    bool ok = false;
    const int value = Text(options, name).toInt(&ok);
    if (!ok || value < low) {
        Refuse(name);
    }
    return std::min(value, high);
}

// aria2's speed form: bytes per second, or with K or M (1024-based); 0 for none.
std::int32_t Speed(const QJsonObject& options, const QString& name) {
    QString text = Text(options, name).trimmed();
    qint64 unit = 1;
    if (text.endsWith(u'K', Qt::CaseInsensitive)) {
        unit = 1024;
    } else if (text.endsWith(u'M', Qt::CaseInsensitive)) {
        unit = 1024 * 1024;
    }
    if (unit > 1) {
        text.chop(1);
    }
    bool ok = false;
    const qint64 value = text.toLongLong(&ok) * unit;
    if (!ok || value < 0 || value > std::numeric_limits<std::int32_t>::max()) {
        Refuse(name);
    }
    return std::int32_t(value);
}

const QString kSplit = QStringLiteral("split");
const QString kConnections = QStringLiteral("max-connection-per-server");
const QString kUserAgent = QStringLiteral("user-agent");

}  // namespace

EntryOptions Aria2Dispatch::entryOptions(const QJsonObject& options, EntryOptions kept) {
    // Each download plans one set of connections to its one server: both names mean it.
    for (const QString& name : {kSplit, kConnections}) {
        if (options.contains(name)) {
            kept.segments = Count(options, name, 1, MaxEntrySegments);
        }
    }
    if (options.contains(kUserAgent)) {
        kept.userAgent = Text(options, kUserAgent).remove(u'\r').remove(u'\n');
    }
    return kept;
}

QJsonValue Aria2Dispatch::changeOption(const RpcParams& params) {
    QString gid;
    const int slot = slotAt(params, 0, &gid);
    const QJsonObject options = params.object(1);
    for (auto it = options.begin(); it != options.end(); ++it) {
        if (it.key() != kSplit && it.key() != kConnections && it.key() != kUserAgent) {
            throw RpcFailure{1, QStringLiteral("The option '%1' cannot be changed for a download "
                                               "here; split, max-connection-per-server and "
                                               "user-agent can.")
                                    .arg(it.key())};
        }
    }
    DownloadRecord& r = ctx_.list.DownloadList[slot];
    // Read at its next start: a running download keeps the connections it planned.
    KeepEntryOptions(r, entryOptions(options, ReadEntryOptions(r)));
    if (ctx_.saveListSoon) {
        ctx_.saveListSoon();
    }
    return QStringLiteral("OK");
}

QJsonValue Aria2Dispatch::changeGlobalOption(const RpcParams& params) {
    const QJsonObject options = params.object(0);
    Settings changed = ctx_.settings;
    for (auto it = options.begin(); it != options.end(); ++it) {
        const QString& name = it.key();
        if (name == QLatin1String("max-overall-download-limit")) {
            changed.SpeedLimiter = Speed(options, name);
            changed.UseSpeedLimiter = changed.SpeedLimiter > 0 ? FlagTrue : FlagFalse;
        } else if (name == QLatin1String("max-concurrent-downloads")) {
            changed.MaxSimulDownlads = Count(options, name, 1, MaxSimultaneous);
        } else if (name == kSplit || name == kConnections) {
            changed.MaxSegments = Count(options, name, 1, MaxEntrySegments);
        } else if (name == QLatin1String("max-tries")) {
            changed.MaxTries = Count(options, name, 1, 999);
        } else if (name == QLatin1String("dir")) {
            const QString dir = Text(options, name);
            if (!QDir::isAbsolutePath(dir)) {
                Refuse(name);
            }
            checkInsideRoot(dir, name);
            if (!QDir().mkpath(dir)) {
                Refuse(name);
            }
            changed.DownloadFolder = QDir::cleanPath(dir) + u'/';
        } else {
            throw RpcFailure{1, QStringLiteral("The option '%1' cannot be changed here; "
                                               "max-overall-download-limit, "
                                               "max-concurrent-downloads, dir, split, "
                                               "max-connection-per-server and max-tries can.")
                                    .arg(name)};
        }
    }
    // All or nothing: a refused option leaves the others as they were.
    ctx_.settings = changed;
    ctx_.sockets.setLimits({changed.UseSpeedLimiter == FlagTrue, changed.SpeedLimiter});
    // More downloads at once: the queue's next ones start now, not at the next tick.
    for (int started = queue_.runningCount(); started < changed.MaxSimulDownlads; ++started) {
        queue_.StartNextQueued();
        if (queue_.runningCount() == started) {
            break;
        }
    }
    if (settingsChanged) {
        settingsChanged();
    }
    return QStringLiteral("OK");
}
