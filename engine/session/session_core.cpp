#include "engine/session/session_core.h"

#include <algorithm>

#include "core/download_list/download_list.h"
#include "core/download_list/entry_options.h"
#include "core/text/text_table.h"
#include "engine/http/browser_handover.h"
#include "engine/session/failure_words.h"
#include "net/socket_class.h"

SessionCore::SessionCore(EngineContext& context, SessionObserver& observer)
    : ctx(context),
      observer(observer),
      connections(context.sockets, context.files, context.settings) {}

DownloadRecord* SessionCore::record() const {
    return ctx.list.record(recordIndex);
}

SegmentRecord* SessionCore::servedSegment(int k) const {
    DownloadRecord* r = record();
    return r != nullptr && connections[k].segment != 0 ? r->Segments.at(connections[k].segment)
                                                       : nullptr;
}

QString SessionCore::text(int number) const {
    return ctx.texts.text(number);
}

bool SessionCore::isFtp() const {
    const DownloadRecord* r = record();
    return r != nullptr && r->Protocol == Protocol::Ftp;
}

int SessionCore::silentRestarts() const {
    int fewest = -1;
    for (int k = 0; k < ConnectionSlots::Probe; ++k) {
        const ConnectionSlot& slot = connections[k];
        if (slot.segment != 0 && (fewest < 0 || slot.silentRestarts < fewest)) {
            fewest = slot.silentRestarts;
        }
    }
    return std::max(fewest, 0);
}

bool SessionCore::sizeKnown() const {
    const DownloadRecord* r = record();
    return probeGaveSize || (r != nullptr && r->FileSize.bytes() > 0);
}

HttpRequestTarget SessionCore::requestTarget(const DownloadRecord& r) const {
    const bool proxyHttp = ThroughPlainHttpProxy(r.Protocol, route_);
    HttpRequestTarget target{r.HostName, r.UrlPath,      r.Url,     r.UserName,
                             r.Password, r.Referer,      proxyHttp, r.Protocol == Protocol::Https,
                             r.Port,     CookieToSend(r)};
    target.userAgent = ReadEntryOptions(r).userAgent;
    if (proxyHttp) {
        target.proxyAuthorization = proxyAuthorization_;
    }
    return target;
}

void SessionCore::decideRoute(std::function<void()> next) {
    const DownloadRecord* r = record();
    if (r == nullptr) {
        return;
    }
    DecideRoute(ctx.proxyResolver, ctx.settings, r->Protocol, r->Url, &lifetime_,
                [this, next = std::move(next)](const ProxyRoute& route) {
                    if (route != route_) {
                        proxyAuthorization_.clear();  // that login was another proxy's
                    }
                    route_ = route;
                    routeDecided_ = true;
                    next();
                });
}

QString SessionCore::routeWords() const {
    return route_.direct() ? QString() : QStringLiteral("through ") + route_.describe();
}

void SessionCore::connectTo(SocketClass& socket) const {
    if (const DownloadRecord* r = ctx.list.record(recordIndex)) {
        ConnectAlong(socket, r->Protocol, r->HostName, r->Port, route_);
    }
}

void SessionCore::connectData(SocketClass& socket, const QString& peer, std::int32_t port) const {
    const DownloadRecord* r = record();
    if (route_.direct() || r == nullptr) {
        socket.Connect(peer, port);
        return;
    }
    // The proxy's address is all the control connection knows of its peer.
    ConnectAlong(socket, Protocol::Ftp, r->HostName, port, route_);
}

QString SessionCore::proxyAsksLogin(bool loginSent) {
    if (route_.user.isEmpty()) {
        return QLatin1String(SessionReason::ProxyNeedsLogin);
    }
    if (loginSent) {
        return QLatin1String(SessionReason::ProxyRefusedLogin);
    }
    proxyAuthorization_ = ProxyAuthorization(route_);
    return {};
}
