#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>
#include <cstdint>

#include "engine/engine_context.h"
#include "engine/http/http_requests.h"
#include "engine/http/proxy_route.h"
#include "engine/session/connection_slot.h"
#include "engine/session/session_observer.h"

class SocketClass;
struct DownloadRecord;
struct SegmentRecord;

// What the parts of one download session share: the download's record (by its list slot), the
// connection slots, the engine around it, the observer, and what the probe learnt of the file.
// The session owns it; each part holds it by reference, so a part can be built and tested with a
// core alone.
class SessionCore {
public:
    SessionCore(EngineContext& context, SessionObserver& observer);
    SessionCore(const SessionCore&) = delete;
    SessionCore& operator=(const SessionCore&) = delete;

    DownloadRecord* record() const;
    QString text(int number) const;
    // The segment slot k serves (its record, its number), or nullptr and 0 while it is free.
    SegmentRecord* servedSegment(int k) const;
    int segmentOf(int k) const { return connections[k].segment; }
    // The probe's connection, which is also every connection's event target.
    SocketClass* sockGlobal() const { return connections[ConnectionSlots::Probe].existingSocket(); }
    bool isFtp() const;
    // How often in a row the server went silent on every connection and each was started
    // again: the fewest restarts without a byte among the connections serving a segment. 0
    // while any of them brings bytes, or none runs.
    int silentRestarts() const;
    // The file's size is known (from the probe, or a resumed plan): every segment has a range.
    bool sizeKnown() const;
    // The route every connection of the session takes: decided when its probe starts (a
    // redirect may lead elsewhere), or when a download resumed without a probe starts its
    // segments. `next` runs once it is known, at once or later from the event loop, never once
    // the session is gone.
    void decideRoute(std::function<void()> next);
    bool routeDecided() const { return routeDecided_; }
    const ProxyRoute& route() const { return route_; }
    // "through socks5h://127.0.0.1:1080" for the log; empty for a direct route.
    QString routeWords() const;
    // Every connection of an https download, the probe's and each segment's, speaks TLS; all
    // go along the route.
    void connectTo(SocketClass& socket) const;
    // An FTP data connection to the passive port `port`: straight to `peer`, the address the
    // control connection reached; through SOCKS to the server's name, as the control connection.
    void connectData(SocketClass& socket, const QString& peer, std::int32_t port) const;
    HttpRequestTarget requestTarget(const DownloadRecord& r) const;
    // The plain HTTP proxy answered 407 to a request that carried its login (`loginSent`) or
    // not: asked again with the login from now on (empty), or why the download fails.
    QString proxyAsksLogin(bool loginSent);
    // The window's figures and the list's row both redrawn: what they show of the download's
    // state changed (a reconnect, a busy server's wait).
    void shownStateChanged() {
        observer.progressChanged();
        observer.entryChanged(recordIndex);
    }
    // Lives and dies with the session: the context of calls deferred to the event loop, and the
    // guard of answers (prompts) that may come after the session is gone.
    QObject& lifetime() { return lifetime_; }

    EngineContext& ctx;
    SessionObserver& observer;
    ConnectionSlots connections;
    std::int16_t recordIndex = 0;
    bool probeGaveSize = false;  // the probe gave a length (0 is then an empty file)
    QDateTime serverModified;    // the probe's Last-Modified; invalid when none was given
    bool assembling = false;

private:
    QObject lifetime_;
    ProxyRoute route_;
    bool routeDecided_ = false;
    QByteArray proxyAuthorization_;  // sent to the plain HTTP proxy once it asked for a login
};
