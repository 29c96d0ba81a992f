#pragma once

#include <QDBusConnection>
#include <QDBusContext>
#include <QObject>
#include <QString>
#include <functional>

#include "core/checksums/checksum.h"

// The entry point through which browsers and the launcher hand an address to the running
// program. It keeps no state: each accepted address goes to `add`, which adds it as one the
// user typed, with the page it came from and the browser's cookies when a browser gave them,
// and the file's checksum when the caller knows it.
// Calls are served on the main thread between events, one at a time; ChangeURL's reply waits
// for the check it starts.
class Velmora : public QObject, protected QDBusContext {
    Q_OBJECT
public:
    using AddUrl = std::function<void(const QString& url, const QString& referer,
                                      const QString& cookie, const Checksum& checksum)>;
    // Told once with why the address was refused (English), empty when it was changed.
    using Refusal = std::function<void(const QString& refusal)>;
    using ChangeUrl =
        std::function<void(const QString& oldUrl, const QString& newUrl, const Refusal& reply)>;

    // The error name of a refused ChangeURL; its message says why.
    static constexpr char RefusedError[] = "VelmoraProject.Velmora.Refused";

    static constexpr char ServiceName[] = "VelmoraProject.Velmora";
    static constexpr char ObjectPath[] = "/Velmora";

    explicit Velmora(AddUrl add, ChangeUrl change = {}, QObject* parent = nullptr);

    // Publishes the object and then claims the name, so no call can arrive before the object
    // is there to serve it. Returns why it failed, or an empty text.
    QString publish(QDBusConnection connection);

public slots:
    // From a context-menu entry or a download a browser gave up: any address goes to the list,
    // which reports what it cannot use in the program's own window, with `refURL` (the page)
    // as its Referer and `cookie` (the browser's Cookie header for it) sent with its requests;
    // the caller always hears success.
    void MenuURL(const QString& url, const QString& refURL, const QString& cookie);
    // MenuURL with the file's checksum ("sha-256=HEX", or bare hexadecimal whose length says the
    // kind; empty: none), which the finished file is checked against. One that does not read
    // as a checksum is the error InvalidArgs naming it, and nothing is added.
    void MenuURLChecksum(const QString& url, const QString& refURL, const QString& cookie,
                         const QString& checksum);
    // Accepted and ignored.
    void LeechURL(const QString& url, const QString& refURL);
    // 1 when the address begins with "http://", "https://" or "ftp://" in any letter case (no
    // blanks before it) and went to the list, without a Referer or cookies, or is a magnet link
    // or a local .torrent file, which adding hands to the torrent program; 0, with nothing
    // added, otherwise.
    int IEURL(const QString& url);
    // The unfinished download whose address is `oldURL` goes on from `newURL` when that serves
    // the same file; otherwise the error RefusedError says why.
    void ChangeURL(const QString& oldURL, const QString& newURL);

private:
    AddUrl add_;
    ChangeUrl change_;
};
