#include "engine/session/failure_words.h"

#include <QRegularExpression>
#include <array>
#include <utility>

#include "core/text/text_table.h"
#include "engine/http/response_head.h"
#include "engine/session/http_probe.h"
#include "net/winsock_errors.h"

QString Worded(const TextTable& texts, int number, const QString& english) {
    const QString words = texts.text(number);
    return words.isEmpty() ? english : words;
}

namespace {

struct EngineReason {
    std::int16_t code;
    int text;  // interface text
    const char* english;
};

constexpr std::array<EngineReason, 11> kEngineReasons = {{
    {FailureCode::HostNotFound, 112, "host not found"},
    {FailureCode::ConnectionRefused, 113, "connection refused"},
    {FailureCode::NoAnswer, 114, "no answer from the server"},
    {FailureCode::HostUnreachable, 115, "host unreachable"},
    {FailureCode::NoConnection, 848, SessionReason::NoConnection},
    {FailureCode::ClosedWithoutAnswer, 849, SessionReason::ClosedWithoutAnswer},
    {FailureCode::NotHttp, 850, SessionReason::NotHttp},
    {FailureCode::NeedsLogin, 851, SessionReason::NeedsLogin},
    {FailureCode::WebPage, 852, SessionReason::WebPage},
    {FailureCode::TooManyRedirects, 853, SessionReason::TooManyRedirects},
    {FailureCode::StoppedAnswering, 871, SessionReason::NoAnswer},
}};

// The socket errors the engine reports by number; an unknown name is reported as an address
// that is not available.
constexpr std::array<std::pair<std::int32_t, std::int16_t>, 6> kSocketErrors = {{
    {WinSock::AddressNotAvailable, FailureCode::HostNotFound},
    {WinSock::ConnectionRefused, FailureCode::ConnectionRefused},
    {WinSock::TimedOut, FailureCode::NoAnswer},
    {WinSock::HostUnreachable, FailureCode::HostUnreachable},
    {WinSock::NetworkUnreachable, FailureCode::HostUnreachable},
    {WinSock::HostDown, FailureCode::HostUnreachable},
}};

// The standard words of the statuses and replies a server gives most, after their numbers;
// the server's own words are not kept.
constexpr std::array<std::pair<int, const char*>, 16> kAnswerWords = {{
    {400, "Bad Request"},
    {401, "Unauthorized"},
    {403, "Forbidden"},
    {404, "Not Found"},
    {405, "Method Not Allowed"},
    {407, "Proxy Authentication Required"},
    {408, "Request Timeout"},
    {410, "Gone"},
    {429, "Too Many Requests"},
    {500, "Internal Server Error"},
    {501, "Not Implemented"},
    {502, "Bad Gateway"},
    {503, "Service Unavailable"},
    {504, "Gateway Timeout"},
    {FailureCode::FtpReplyBase + 530, "Not logged in"},
    {FailureCode::FtpReplyBase + 550, "File unavailable"},
}};

QString AnswerWords(int code, int number) {
    for (const auto& [known, words] : kAnswerWords) {
        if (known == code) {
            return QString::number(number) + u' ' + QLatin1String(words);
        }
    }
    return QString::number(number);
}

// The number in "too many redirects (more than N)", or -1 when `why` is not that reason.
int RedirectLimitIn(const QString& why) {
    const QString redirects = QLatin1String(SessionReason::TooManyRedirects);
    const qsizetype at = redirects.indexOf(QLatin1String("%1"));
    const QString before = redirects.left(at);
    const QString after = redirects.mid(at + 2);
    if (!why.startsWith(before) || !why.endsWith(after) ||
        why.size() <= before.size() + after.size()) {
        return -1;
    }
    bool number = false;
    const int count =
        why.mid(before.size(), why.size() - before.size() - after.size()).toInt(&number);
    return number ? count : -1;
}

}  // namespace

std::int16_t HttpFailureCode(int status) {
    return status >= 100 && status <= 599 ? static_cast<std::int16_t>(status) : FailureCode::None;
}

std::int16_t FtpFailureCode(int reply) {
    return reply >= 100 && reply <= 599
               ? static_cast<std::int16_t>(FailureCode::FtpReplyBase + reply)
               : FailureCode::None;
}

std::int16_t FailureCodeFor(const QString& why) {
    const QString trimmed = why.trimmed();
    static const QRegularExpression kSocketError(QStringLiteral("^socket error (\\d+)$"));
    const QRegularExpressionMatch socket = kSocketError.match(trimmed);
    if (socket.hasMatch()) {
        const std::int32_t number = socket.captured(1).toInt();
        for (const auto& [error, code] : kSocketErrors) {
            if (error == number) {
                return code;
            }
        }
        return FailureCode::None;
    }
    for (const EngineReason& reason : kEngineReasons) {
        if (trimmed == QLatin1String(reason.english)) {
            return reason.code;
        }
    }
    return RedirectLimitIn(trimmed) >= 0 ? FailureCode::TooManyRedirects : FailureCode::None;
}

QString FailureWords(std::int16_t code, const TextTable& texts) {
    if (code == FailureCode::None) {
        return {};
    }
    if (HttpFailureCode(code) == code) {
        return Worded(texts, 880, QStringLiteral("the server answered %1"))
            .arg(AnswerWords(code, code));
    }
    const int reply = code - FailureCode::FtpReplyBase;
    if (FtpFailureCode(reply) == code) {
        return Worded(texts, 881, QStringLiteral("the FTP server answered %1"))
            .arg(AnswerWords(code, reply));
    }
    for (const EngineReason& reason : kEngineReasons) {
        if (reason.code == code) {
            const QString words = Worded(texts, reason.text, QLatin1String(reason.english));
            return code == FailureCode::TooManyRedirects ? words.arg(HttpProbe::MaxRedirects)
                                                         : words;
        }
    }
    return {};
}

QString FailureWords(std::int16_t code) {
    static const TextTable kNoLanguage;
    return FailureWords(code, kNoLanguage);
}

QString FailureReason(const QString& why, const TextTable& texts) {
    const QString trimmed = why.trimmed();
    // The one reason with a number in it: its words around the number it came with.
    if (const int limit = RedirectLimitIn(trimmed); limit >= 0) {
        return Worded(texts, 853, QLatin1String(SessionReason::TooManyRedirects)).arg(limit);
    }
    const std::int16_t code = FailureCodeFor(trimmed);
    return code == FailureCode::None ? trimmed : FailureWords(code, texts);
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
