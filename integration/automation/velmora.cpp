#include "integration/automation/velmora.h"

#include <QDBusConnectionInterface>

#include "automation/velmora_adaptor.h"  // generated from VelmoraProject.Velmora.xml
#include "core/diagnostics/log_categories.h"
#include "core/urls/other_program_link.h"
#include "core/urls/parse_url.h"

Velmora::Velmora(AddUrl add, ChangeUrl change, QObject* parent)
    : QObject(parent), add_(std::move(add)), change_(std::move(change)) {
    new VelmoraAdaptor(this);
}

QString Velmora::publish(QDBusConnection connection) {
    if (!connection.isConnected()) {
        return QStringLiteral("no D-Bus session bus: %1").arg(connection.lastError().message());
    }
    if (!connection.registerObject(QLatin1String(ObjectPath), this,
                                   QDBusConnection::ExportAdaptors)) {
        return QStringLiteral("cannot publish %1: %2")
            .arg(QLatin1String(ObjectPath), connection.lastError().message());
    }
    const auto claimed = connection.interface()->registerService(
        QLatin1String(ServiceName), QDBusConnectionInterface::DontQueueService,
        QDBusConnectionInterface::DontAllowReplacement);
    if (!claimed.isValid() || claimed.value() != QDBusConnectionInterface::ServiceRegistered) {
        connection.unregisterObject(QLatin1String(ObjectPath));
        return QStringLiteral("the name %1 belongs to another program")
            .arg(QLatin1String(ServiceName));
    }
    return QString();
}

void Velmora::MenuURL(const QString& url, const QString& refURL, const QString& cookie) {
    qCInfo(lcUi) << "MenuURL:" << UrlForDisplay(url) << (refURL.isEmpty() ? "" : "with a page")
                 << (cookie.isEmpty() ? "" : "with cookies");
    if (add_) {
        add_(url, refURL, cookie, {});
    }
}

void Velmora::MenuURLChecksum(const QString& url, const QString& refURL, const QString& cookie,
                              const QString& checksum) {
    std::optional<Checksum> given = Checksum{};
    if (!checksum.trimmed().isEmpty()) {
        given = ParseChecksum(checksum);
    }
    qCInfo(lcUi) << "MenuURLChecksum:" << UrlForDisplay(url)
                 << (!given           ? QStringLiteral("refused: not a checksum")
                     : given->valid() ? ChecksumText(*given)
                                      : QStringLiteral("without a checksum"));
    if (!given) {
        if (calledFromDBus()) {
            sendErrorReply(QDBusError::InvalidArgs,
                           QStringLiteral("not a checksum: %1").arg(checksum));
        }
        return;
    }
    if (add_) {
        add_(url, refURL, cookie, *given);
    }
}

void Velmora::LeechURL(const QString& /*url*/, const QString& /*refURL*/) {}

int Velmora::IEURL(const QString& url) {
    // A magnet link or a .torrent file goes on to the torrent program, which adding calls.
    if (!HasDownloadScheme(url, Qt::CaseInsensitive) && !HandedOverAsGiven(url)) {
        qCInfo(lcUi) << "IEURL: not an address to download:" << UrlForDisplay(url);
        return 0;
    }
    if (add_) {
        add_(url, {}, {}, {});
    }
    return 1;
}

void Velmora::ChangeURL(const QString& oldURL, const QString& newURL) {
    qCInfo(lcUi) << "ChangeURL:" << UrlForDisplay(oldURL) << "to" << UrlForDisplay(newURL);
    if (!calledFromDBus()) {
        return;
    }
    if (!change_) {
        sendErrorReply(QLatin1String(RefusedError), QStringLiteral("addresses cannot be changed"));
        return;
    }
    setDelayedReply(true);
    change_(oldURL, newURL, [call = message(), bus = connection()](const QString& refusal) mutable {
        bus.send(refusal.isEmpty() ? call.createReply()
                                   : call.createErrorReply(QLatin1String(RefusedError), refusal));
    });
}
