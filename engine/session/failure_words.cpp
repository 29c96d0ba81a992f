#include "engine/session/failure_words.h"

#include <QRegularExpression>
#include <array>
#include <utility>

#include "core/text/text_table.h"
#include "engine/http/response_head.h"
#include "net/winsock_errors.h"

QString Worded(const TextTable& texts, int number, const QString& english) {
    const QString words = texts.text(number);
    return words.isEmpty() ? english : words;
}

namespace {

QString SocketErrorWords(std::int32_t number, const QString& why, const TextTable& texts) {
    // An unknown name is reported as an address that is not available.
    static constexpr std::array<std::pair<std::int32_t, int>, 6> kWords = {{
        {WinSock::AddressNotAvailable, 112},
        {WinSock::ConnectionRefused, 113},
        {WinSock::TimedOut, 114},
        {WinSock::HostUnreachable, 115},
        {WinSock::NetworkUnreachable, 115},
        {WinSock::HostDown, 115},
    }};
    for (const auto& [error, text] : kWords) {
        if (error == number) {
            return Worded(texts, text, why);
        }
    }
    return why;
}

}  // namespace

QString FailureReason(const QString& why, const TextTable& texts) {
    const QString trimmed = why.trimmed();
    static const QRegularExpression kSocketError(QStringLiteral("^socket error (\\d+)$"));
    const QRegularExpressionMatch socket = kSocketError.match(trimmed);
    if (socket.hasMatch()) {
        return SocketErrorWords(socket.captured(1).toInt(), trimmed, texts);
    }
    static constexpr std::array<std::pair<const char*, int>, 6> kReasons = {{
        {SessionReason::NoConnection, 848},
        {SessionReason::ClosedWithoutAnswer, 849},
        {SessionReason::NotHttp, 850},
        {SessionReason::NeedsLogin, 851},
        {SessionReason::WebPage, 852},
        {SessionReason::NoAnswer, 871},
    }};
    for (const auto& [english, text] : kReasons) {
        if (trimmed == QLatin1String(english)) {
            return Worded(texts, text, trimmed);
        }
    }
    // The one reason with a number in it: its words around the number.
    const QString redirects = QLatin1String(SessionReason::TooManyRedirects);
    const qsizetype at = redirects.indexOf(QLatin1String("%1"));
    const QString before = redirects.left(at);
    const QString after = redirects.mid(at + 2);
    if (trimmed.startsWith(before) && trimmed.endsWith(after) &&
        trimmed.size() > before.size() + after.size()) {
        bool number = false;
        const int count = trimmed.mid(before.size(), trimmed.size() - before.size() - after.size())
                              .toInt(&number);
        if (number) {
            return Worded(texts, 853, redirects).arg(count);
        }
    }
    return trimmed;
}

QString ReconnectingWords(int attempt, const TextTable& texts) {
    return Worded(texts, 870, QStringLiteral("Reconnecting (attempt %1)")).arg(attempt) +
           QStringLiteral(": ") + Worded(texts, 871, QLatin1String(SessionReason::NoAnswer));
}

QString UnaskedEncoding(const ResponseHead& head) {
    if (head.contentEncoding.isEmpty() ||
        head.contentEncoding.compare(u"identity", Qt::CaseInsensitive) == 0) {
        return {};
    }
    return QString::fromLatin1(SessionReason::Compressed).arg(head.contentEncoding.left(40));
}
