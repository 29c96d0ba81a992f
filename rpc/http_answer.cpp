#include "rpc/http_answer.h"

#include <QDateTime>
#include <QLocale>

namespace {

QByteArray Reason(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 204:
            return "No Content";
        case 400:
            return "Bad Request";
        case 404:
            return "Not Found";
        case 411:
            return "Length Required";
        case 413:
            return "Payload Too Large";
        default:
            return "Internal Server Error";
    }
}

}  // namespace

QByteArray HttpAnswer::bytes() const {
    const QByteArray date =
        QLocale::c()
            .toString(QDateTime::currentDateTimeUtc(), QStringLiteral("ddd, dd MMM yyyy hh:mm:ss"))
            .toLatin1() +
        " GMT";
    QByteArray out = "HTTP/1.1 " + QByteArray::number(status) + ' ' + Reason(status) + "\r\n";
    out += "Date: " + date + "\r\n";
    if (status != 204) {
        out += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    }
    out += "Expires: " + date + "\r\nCache-Control: no-cache\r\n";
    if (!contentType.isEmpty()) {
        out += "Content-Type: " + contentType + "\r\n";
    }
    for (const auto& [name, value] : headers) {
        out += name + ": " + value + "\r\n";
    }
    if (close) {
        out += "Connection: close\r\n";
    }
    return out + "\r\n" + body;
}
