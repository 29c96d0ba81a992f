#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>

class SessionActions;
class SessionCore;
class SocketClass;
struct ResponseHead;

// The HTTP probe: one request for the whole file from byte 0, whose answer tells the size,
// the name and whether ranges work. It follows redirects, asks for a login where the server
// wants one, and hands a file it accepts to the segments.
class HttpProbe {
public:
    static constexpr int MaxRedirects = 20;

    HttpProbe(SessionCore& core, SessionActions& session) : core_(core), session_(session) {}

    // The connection is up: the request goes out.
    void sendRequest(SocketClass& socket);
    // Gathers the answer's head; once it is whole the probe ends and acts on it.
    void takeData(SocketClass& socket);

private:
    void headComplete(const QByteArray& head);
    void followRedirect(const ResponseHead& head);
    // 401 or 407: asked again with a login, the user asked for one, or the download fails.
    bool askedForLogin(int status);
    void askCredentials();
    // The file's size as the answer tells it, -1 when it tells none. False when a partial
    // answer names no range from byte 0: the attempt has failed.
    bool fileSize(const ResponseHead& head, const QByteArray& headBytes, std::int64_t& size);
    // The file is taken: `size` its bytes, -1 while not known.
    void succeeded(const ResponseHead& head, std::int64_t size);
    // Ends the download, failed, telling the user why.
    void fail(const QString& why, const QString& logged = QString());
    // If-Range for a resumed download's probe: only the version its bytes are of comes ranged.
    QByteArray resumedIfRange() const;
    // Notes the version a new download fetches; false when a resumed one's server now has
    // another version or a web page, and the download has been stopped or started again.
    bool keepsIdentity(const ResponseHead& head, std::int64_t size);

    SessionCore& core_;
    SessionActions& session_;
    int redirects_ = 0;
    bool emptyFile_ = false;     // "bytes=0-" was answered 416: only an empty file does that
    bool keepPassword_ = false;  // the login prompt's "remember" box
    bool leftTls_ = false;       // a redirect took the download from https:// to a plain address
    bool triedRememberedLogin_ = false;  // a 401 was answered with the remembered login
};
