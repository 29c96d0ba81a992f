#include "engine/session/session_core.h"

#include <algorithm>

#include "core/download_list/download_list.h"
#include "core/download_list/entry_options.h"
#include "core/text/text_table.h"
#include "engine/http/browser_handover.h"
#include "engine/http/server_route.h"

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
    const bool proxyHttp = ThroughPlainHttpProxy(r.Protocol, ctx.settings);
    HttpRequestTarget target{r.HostName, r.UrlPath,      r.Url,     r.UserName,
                             r.Password, r.Referer,      proxyHttp, r.Protocol == Protocol::Https,
                             r.Port,     CookieToSend(r)};
    target.userAgent = ReadEntryOptions(r).userAgent;
    return target;
}

void SessionCore::connectTo(SocketClass& socket) const {
    if (const DownloadRecord* r = ctx.list.record(recordIndex)) {
        ConnectToServer(socket, r->Protocol, r->HostName, r->Port, ctx.settings);
    }
}
