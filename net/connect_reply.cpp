#include "net/connect_reply.h"

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// One line from `from` to its LF, without the LF or a CR before it; -1 as `next` when the line
// has not ended yet.
QByteArrayView LineAt(QByteArrayView bytes, qsizetype from, qsizetype& next) {
    const qsizetype lf = bytes.indexOf('\n', from);
    if (lf < 0) {
        next = -1;
        return {};
    }
    next = lf + 1;
    QByteArrayView line = bytes.sliced(from, lf - from);
    if (line.endsWith('\r')) {
        line.chop(1);
    }
    return line;
}

// "HTTP/d.d ddd" followed by the end or a blank and a reason.
bool ValidStatusLine(QByteArrayView line) {
    return line.size() >= 12 && line.startsWith("HTTP/") && IsDigit(line[5]) && line[6] == '.' &&
           IsDigit(line[7]) && line[8] == ' ' && IsDigit(line[9]) && IsDigit(line[10]) &&
           IsDigit(line[11]) && (line.size() == 12 || line[12] == ' ');
}

}  // namespace

ConnectReply ParseConnectReply(QByteArrayView received) {
    ConnectReply reply;
    // Whatever does not begin as an HTTP answer never becomes one: said at once, not after 16 KiB.
    constexpr QByteArrayView kStart("HTTP/");
    if (!kStart.startsWith(received.first(std::min(received.size(), kStart.size())))) {
        reply.status = ConnectReply::Status::Malformed;
        return reply;
    }
    const QByteArrayView head = received.first(std::min(received.size(), MaxConnectReplyHead));
    qsizetype next = 0;
    const QByteArrayView status = LineAt(head, 0, next);
    if (next >= 0 && !ValidStatusLine(status)) {
        reply.status = ConnectReply::Status::Malformed;
        return reply;
    }
    // The head ends with its first empty line.
    while (next >= 0) {
        if (LineAt(head, next, next).isEmpty() && next >= 0) {
            reply.status = ConnectReply::Status::Complete;
            reply.statusLine = status.toByteArray();
            reply.code = status.sliced(9, 3).toInt();
            reply.headLength = next;
            return reply;
        }
    }
    if (received.size() >= MaxConnectReplyHead) {
        reply.status = ConnectReply::Status::Malformed;
    }
    return reply;
}
