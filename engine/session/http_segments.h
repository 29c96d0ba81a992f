#pragma once

#include <QByteArray>

class DownloadSession;
class SocketClass;

// HTTP segments: each connection asks for its segment's range (or the whole file where the
// server knows no ranges), checks that the answer is the range it asked for, and hands the
// body, de-chunked where need be, to the writer.
class HttpSegments {
public:
    explicit HttpSegments(DownloadSession& session) : session_(session) {}

    void sendRequest(SocketClass& socket, int k);
    void takeData(SocketClass& socket, int k);

private:
    bool acceptHead(int k, const QByteArray& head);
    void takeChunks(int k, const QByteArray& data);

    DownloadSession& session_;
};
