#pragma once

#include <QByteArray>

class DownloadSession;
class SocketClass;
struct ResponseHead;

// The HTTP probe: one request for the whole file from byte 0, whose answer tells the size,
// the name and whether ranges work. It follows redirects, asks for a login where the server
// wants one, and hands a file it accepts to the segments.
class HttpProbe {
public:
    static constexpr int MaxRedirects = 20;
    static constexpr qsizetype MaxHeadBytes = 64 * 1024;

    explicit HttpProbe(DownloadSession& session) : session_(session) {}

    // The connection is up: the request goes out.
    void sendRequest(SocketClass& socket);
    // Gathers the answer's head; once it is whole the probe ends and acts on it.
    void takeData(SocketClass& socket);

private:
    void headComplete(const QByteArray& head);
    void followRedirect(const ResponseHead& head);
    void askCredentials();
    void succeeded(const ResponseHead& head);

    DownloadSession& session_;
    int redirects_ = 0;
    bool emptyFile_ = false;     // "bytes=0-" was answered 416: only an empty file does that
    bool keepPassword_ = false;  // the login prompt's "remember" box
    bool leftTls_ = false;       // a redirect took the download from https:// to a plain address
    bool triedRememberedLogin_ = false;  // a 401 was answered with the remembered login
};
