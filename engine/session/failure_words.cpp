#include "engine/session/failure_words.h"

#include <QRegularExpression>
#include <array>
#include <optional>
#include <utility>

#include "core/text/text_table.h"
#include "engine/files/file_room.h"
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

constexpr std::array<EngineReason, 15> kEngineReasons = {{
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
    {FailureCode::FileChanged, 1281, SessionReason::FileChanged},
    {FailureCode::NowWebPage, 1282, SessionReason::NowWebPage},
    {FailureCode::ProxyNeedsLogin, 1440, SessionReason::ProxyNeedsLogin},
    {FailureCode::ProxyRefusedLogin, 1441, SessionReason::ProxyRefusedLogin},
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

// The standard words of the statuses and replies a server gives most, after their numbers,
// with the interface text that words them; the server's own words are not kept.
struct AnswerWord {
    int code;
    int text;
    const char* english;
};

constexpr std::array<AnswerWord, 17> kAnswerWords = {{
    {400, 1060, "Bad Request"},
    {401, 1061, "Unauthorized"},
    {403, 1062, "Forbidden"},
    {404, 1063, "Not Found"},
    {405, 1064, "Method Not Allowed"},
    {407, 1065, "Proxy Authentication Required"},
    {408, 1066, "Request Timeout"},
    {410, 1067, "Gone"},
    {429, 1068, "Too Many Requests"},
    {500, 1069, "Internal Server Error"},
    {501, 1070, "Not Implemented"},
    {502, 1071, "Bad Gateway"},
    {503, 1072, "Service Unavailable"},
    {504, 1073, "Gateway Timeout"},
    {FailureCode::FtpReplyBase + 421, 1304, "Service not available"},
    {FailureCode::FtpReplyBase + 530, 1074, "Not logged in"},
    {FailureCode::FtpReplyBase + 550, 1075, "File unavailable"},
}};

QString AnswerWords(int code, int number, const TextTable& texts) {
    for (const AnswerWord& known : kAnswerWords) {
        if (known.code == code) {
            return QString::number(number) + u' ' +
                   Worded(texts, known.text, QLatin1String(known.english));
        }
    }
    return QString::number(number);
}

// The engine's reasons that carry values (a path, a host, a count), in its English with %1,
// %2... where the values go, and the interface text that words them. The more particular
// come first: "cannot write part file X: Y" is also "cannot write %1: %2".
struct WordedPattern {
    int text;
    const char* english;
};

constexpr std::array<WordedPattern, 23> kPatterns = {{
    {853, SessionReason::TooManyRedirects},
    {1000, "disk full: cannot write %1"},
    {1001, "cannot write %1: disk full"},
    {1340, kNotEnoughSpace},
    {1002, "cannot read part file %1: %2"},
    {1003, "part file %1 holds %2 of its %3 bytes"},
    {1004, "cannot create %1: it and its %2 numbered names exist"},
    {1010, "cannot write part file %1: %2"},
    {1005, "cannot create %1: %2"},
    {1006, "cannot copy part file %1 into %2: %3"},
    {1007, "part file %1 ended after %2 of its %3 bytes"},
    {1008, "cannot check %1: %2"},
    {1009, "no download folder is set for %1"},
    {1011, "cannot write %1: %2"},
    {1012, "The proxy %1 closed the connection instead of opening the tunnel to %2"},
    {1013, "The proxy %1 gave no HTTP answer to the request for a tunnel to %2"},
    {1014, "The proxy %1 refused the tunnel to %2: %3"},
    {1015, "The proxy %1 sent data of its own into the tunnel to %2"},
    {1442, "the SOCKS proxy refused: %1"},
    {1016, SessionReason::Compressed},
    {1017, "the server redirected to an address that is not http://, https:// or ftp://: %1"},
    {1018, "the server redirected to an address that cannot be used: %1"},
    {1019, "download %1 left the list while its file was being built"},
}};

// The pattern as an expression that takes any text in each place.
QRegularExpression Expression(const WordedPattern& pattern) {
    static const QRegularExpression place(QStringLiteral("%\\d"));
    const QString english = QLatin1String(pattern.english);
    QString expression;
    qsizetype from = 0;
    for (auto it = place.globalMatch(english); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        expression += QRegularExpression::escape(english.mid(from, m.capturedStart() - from)) +
                      QStringLiteral("(.+)");
        from = m.capturedEnd();
    }
    expression += QRegularExpression::escape(english.mid(from));
    return QRegularExpression(QRegularExpression::anchoredPattern(expression),
                              QRegularExpression::DotMatchesEverythingOption);
}

// The values `why` gives the places of pattern `i`, in their order; none when it is not worded
// so.
std::optional<QStringList> ValuesIn(std::size_t i, const QString& why) {
    static const std::array<QRegularExpression, kPatterns.size()> expressions = [] {
        std::array<QRegularExpression, kPatterns.size()> made;
        for (std::size_t n = 0; n < kPatterns.size(); ++n) {
            made[n] = Expression(kPatterns[n]);
        }
        return made;
    }();
    const QRegularExpressionMatch m = expressions[i].match(why);
    if (!m.hasMatch()) {
        return std::nullopt;
    }
    QStringList values = m.capturedTexts();
    values.removeFirst();
    return values;
}

// The interface texts of the socket errors; the words come before the number.
constexpr std::array<std::pair<std::int32_t, int>, 21> kSocketWords = {{
    {WinSock::WouldBlock, 1020},
    {WinSock::InProgress, 1021},
    {WinSock::AddressFamilyNotSupported, 1022},
    {WinSock::AddressNotAvailable, 1023},
    {WinSock::NetworkDown, 1024},
    {WinSock::NetworkUnreachable, 1025},
    {WinSock::ConnectionAborted, 1026},
    {WinSock::ConnectionReset, 1027},
    {WinSock::NoBufferSpace, 1028},
    {WinSock::NotConnected, 1029},
    {WinSock::Shutdown, 1030},
    {WinSock::TimedOut, 1031},
    {WinSock::ConnectionRefused, 1032},
    {WinSock::HostDown, 1033},
    {WinSock::HostUnreachable, 1034},
    {WinSock::TooManySockets, 1035},
    {WinSock::AccessDenied, 1036},
    {WinSock::InvalidArgument, 1037},
    {WinSock::AddressInUse, 1038},
    {WinSock::TlsFailed, 1039},
    {WinSock::TunnelRefused, 1040},
}};

QString SocketErrorWords(std::int32_t error, const TextTable& texts) {
    int text = 1041;  // an error the table does not name
    for (const auto& [number, words] : kSocketWords) {
        if (number == error) {
            text = words;
        }
    }
    return QStringLiteral("%1 (%2)")
        .arg(Worded(texts, text, QLatin1String(SocketErrorName(error))))
        .arg(error);
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
    if (const std::optional<std::int32_t> number = SocketErrorIn(trimmed)) {
        for (const auto& [error, code] : kSocketErrors) {
            if (error == *number) {
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
    // A server's answer as FailureWords gives it in English (a busy server's last one).
    static const QRegularExpression kAnswered(
        QStringLiteral("^the (FTP )?server answered (\\d{3})"));
    if (const QRegularExpressionMatch m = kAnswered.match(trimmed); m.hasMatch()) {
        const int number = m.captured(2).toInt();
        const std::int16_t code =
            m.hasCaptured(1) ? FtpFailureCode(number) : HttpFailureCode(number);
        if (code != FailureCode::None && FailureWords(code) == trimmed) {
            return code;
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
            .arg(AnswerWords(code, code, texts));
    }
    const int reply = code - FailureCode::FtpReplyBase;
    if (FtpFailureCode(reply) == code) {
        return Worded(texts, 881, QStringLiteral("the FTP server answered %1"))
            .arg(AnswerWords(code, reply, texts));
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

std::optional<std::int32_t> SocketErrorIn(const QString& why) {
    // "socket error N" is how lists and logs of earlier versions said it.
    static const QRegularExpression kNumbered(
        QStringLiteral("^(.+) \\((\\d+)\\)$|^socket error (\\d+)$"));
    const QRegularExpressionMatch m = kNumbered.match(why.trimmed());
    if (!m.hasMatch()) {
        return std::nullopt;
    }
    if (m.hasCaptured(3)) {
        return m.captured(3).toInt();
    }
    const std::int32_t number = m.captured(2).toInt();
    if (m.captured(1) != QLatin1String(SocketErrorName(number))) {
        return std::nullopt;
    }
    return number;
}

QString FailureReason(const QString& why, const TextTable& texts) {
    const QString trimmed = why.trimmed();
    const std::int16_t code = FailureCodeFor(trimmed);
    if (code != FailureCode::None && code != FailureCode::TooManyRedirects) {
        return FailureWords(code, texts);
    }
    if (const std::optional<std::int32_t> error = SocketErrorIn(trimmed)) {
        return SocketErrorWords(*error, texts);
    }
    for (std::size_t i = 0; i < kPatterns.size(); ++i) {
        const WordedPattern& pattern = kPatterns[i];
        if (const std::optional<QStringList> values = ValuesIn(i, trimmed)) {
            const QString words = Worded(texts, pattern.text, QLatin1String(pattern.english));
            const QStringList& v = *values;
            // In one pass each: a value that holds "%1" stays as it is.
            switch (v.size()) {
                case 1:
                    return words.arg(v[0]);
                case 2:
                    return words.arg(v[0], v[1]);
                default:
                    return words.arg(v[0], v[1], v[2]);
            }
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
