#include "rpc/http_request_reader.h"

namespace {

constexpr QByteArrayView HeadEnd("\r\n\r\n");

bool HasToken(const QByteArray& list, QByteArrayView token) {
    for (const QByteArray& part : list.split(',')) {
        if (part.trimmed().compare(token, Qt::CaseInsensitive) == 0) {
            return true;
        }
    }
    return false;
}

// A decimal Content-Length, or -1 for anything else (signs, blanks inside, overflow).
qint64 ParseLength(const QByteArray& text) {
    if (text.isEmpty() || text.size() > 18) {
        return -1;
    }
    qint64 value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return -1;
        }
        value = value * 10 + (c - '0');
    }
    return value;
}

}  // namespace

QByteArray HttpRequest::header(QByteArrayView name) const {
    for (const auto& [key, value] : headers) {
        if (key == name) {
            return value;
        }
    }
    return {};
}

QByteArray HttpRequest::path() const {
    const qsizetype mark = target.indexOf('?');
    return mark < 0 ? target : target.left(mark);
}

QByteArray HttpRequest::query() const {
    const qsizetype mark = target.indexOf('?');
    return mark < 0 ? QByteArray() : target.mid(mark + 1);
}

bool HttpRequest::keepAlive() const {
    const QByteArray connection = header("connection");
    if (version == "HTTP/1.0") {
        return HasToken(connection, "keep-alive");
    }
    return !HasToken(connection, "close");
}

bool HttpRequest::wantsWebSocket() const {
    return method == "GET" && HasToken(header("upgrade"), "websocket") &&
           HasToken(header("connection"), "upgrade");
}

qsizetype HttpRequestReader::take(QByteArrayView bytes) {
    if (state_ == State::Head) {
        return takeHead(bytes);
    }
    if (state_ != State::Body) {
        return 0;
    }
    const qsizetype used = qMin<qint64>(bodyLeft_, bytes.size());
    request_.body.append(bytes.first(used));
    bodyLeft_ -= used;
    if (bodyLeft_ == 0) {
        state_ = State::Done;
    }
    return used;
}

void HttpRequestReader::next() {
    if (state_ == State::Done) {
        request_ = {};
        state_ = State::Head;
    }
}

qsizetype HttpRequestReader::takeHead(QByteArrayView bytes) {
    // Blank lines before a request are allowed (a client's stray CRLF after a body).
    qsizetype start = 0;
    while (start + 1 < bytes.size() && bytes[start] == '\r' && bytes[start + 1] == '\n') {
        start += 2;
    }
    const qsizetype end = QByteArrayView(bytes).indexOf(HeadEnd, start);
    if (end < 0) {
        return bytes.size() - start > MaxHead ? fail(Fault::HeadTooLarge) : start;
    }
    if (end - start > MaxHead) {
        return fail(Fault::HeadTooLarge);
    }
    if (!parseHead(bytes.sliced(start, end - start))) {
        return state_ == State::Failed ? 0 : fail(Fault::Malformed);
    }
    state_ = bodyLeft_ > 0 ? State::Body : State::Done;
    return end + HeadEnd.size();
}

bool HttpRequestReader::parseHead(QByteArrayView head) {
    const QList<QByteArray> lines = head.toByteArray().split('\n');
    const QList<QByteArray> first = lines.first().trimmed().split(' ');
    if (first.size() != 3 || first[0].isEmpty() || !first[1].startsWith('/') ||
        !first[2].startsWith("HTTP/1.")) {
        return false;
    }
    request_.method = first[0];
    request_.target = first[1];
    request_.version = first[2];
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon <= 0) {
            return false;
        }
        request_.headers.append(
            {lines[i].left(colon).trimmed().toLower(), lines[i].mid(colon + 1).trimmed()});
    }
    if (!request_.header("transfer-encoding").isEmpty()) {
        fail(Fault::LengthRequired);
        return false;
    }
    qint64 length = -1;
    for (const auto& [key, value] : request_.headers) {
        if (key != "content-length") {
            continue;
        }
        const qint64 one = ParseLength(value);
        if (one < 0 || (length >= 0 && one != length)) {
            return false;  // two lengths that differ are a smuggling attempt
        }
        length = one;
    }
    length = qMax<qint64>(length, 0);
    if (length > maxBody_) {
        fail(Fault::BodyTooLarge);
        return false;
    }
    bodyLeft_ = length;
    return true;
}

qsizetype HttpRequestReader::fail(Fault fault) {
    state_ = State::Failed;
    fault_ = fault;
    return 0;
}
