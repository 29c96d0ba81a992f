#include "engine/session/busy_wait.h"

#include <QRegularExpression>
#include <QTimeZone>
#include <algorithm>
#include <array>
#include <utility>

#include "engine/http/http_status.h"
#include "engine/session/failure_words.h"

namespace {

constexpr int kTickMs = 1000;

// Both as header names are matched: without regard to case.
bool EqualsNoCase(QByteArrayView a, QByteArrayView b) {
    return a.size() == b.size() && QByteArray(a.data(), a.size()).toLower() == b;
}

// The value of the head's first Retry-After line, blanks trimmed; nothing without one.
std::optional<QByteArray> RetryAfterValue(const QByteArray& head) {
    const QList<QByteArray> lines = head.split('\n');
    // The status line is no header.
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines[i].trimmed();
        if (line.isEmpty()) {
            break;  // the end of the head
        }
        const qsizetype colon = line.indexOf(':');
        if (colon > 0 && EqualsNoCase(QByteArrayView(line).first(colon), "retry-after")) {
            return line.mid(colon + 1).trimmed();
        }
    }
    return std::nullopt;
}

int Month(const QString& name) {
    static const std::array<const char*, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    for (std::size_t i = 0; i < kMonths.size(); ++i) {
        if (name == QLatin1String(kMonths[i])) {
            return static_cast<int>(i) + 1;
        }
    }
    return 0;
}

// The three date forms HTTP allows: "Sun, 06 Nov 1994 08:49:37 GMT", the older
// "Sunday, 06-Nov-94 08:49:37 GMT" and C's "Sun Nov  6 08:49:37 1994", all in UTC. Each form's
// captures are named, so one reading serves all three.
QDateTime HttpDate(const QString& text) {
    static const std::array<QRegularExpression, 3> kForms = {
        QRegularExpression(QStringLiteral(
            R"(^[A-Z][a-z]{2}, (?<d>\d{2}) (?<m>[A-Z][a-z]{2}) (?<y>\d{4}) (?<t>\d{2}:\d{2}:\d{2}) GMT$)")),
        QRegularExpression(QStringLiteral(
            R"(^[A-Z][a-z]+, (?<d>\d{2})-(?<m>[A-Z][a-z]{2})-(?<y>\d{2}) (?<t>\d{2}:\d{2}:\d{2}) GMT$)")),
        QRegularExpression(QStringLiteral(
            R"(^[A-Z][a-z]{2} (?<m>[A-Z][a-z]{2}) +(?<d>\d{1,2}) (?<t>\d{2}:\d{2}:\d{2}) (?<y>\d{4})$)")),
    };
    for (const QRegularExpression& form : kForms) {
        const QRegularExpressionMatch m = form.match(text);
        if (!m.hasMatch()) {
            continue;
        }
        int year = m.captured(u"y").toInt();
        if (year < 100) {
            year += year < 70 ? 2000 : 1900;
        }
        const QDate date(year, Month(m.captured(u"m")), m.captured(u"d").toInt());
        const QTime time = QTime::fromString(m.captured(u"t"), QStringLiteral("HH:mm:ss"));
        return date.isValid() && time.isValid() ? QDateTime(date, time, QTimeZone::utc())
                                                : QDateTime();
    }
    return {};
}

}  // namespace

namespace Busy {

bool TransientStatus(int status) {
    return status == 408 || status == HttpStatus::TooManyRequests || status == 500 ||
           status == 502 || status == HttpStatus::ServiceUnavailable || status == 504;
}

bool BusyFtpReply(int code, QByteArrayView text) {
    if (code == 421) {
        return true;
    }
    if (code != 530) {
        return false;
    }
    static const QRegularExpression kTooMany(
        QStringLiteral(R"(too many (users|connections|clients|sessions))"),
        QRegularExpression::CaseInsensitiveOption);
    return kTooMany.match(QString::fromLatin1(text.data(), text.size())).hasMatch();
}

std::optional<std::int64_t> RetryAfterMs(const QByteArray& head, const QDateTime& now) {
    QByteArray value;
    if (const std::optional<QByteArray> found = RetryAfterValue(head)) {
        value = *found;
    } else {
        return std::nullopt;
    }
    if (!value.isEmpty() &&
        std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        // More digits than any wait we keep to are that wait.
        if (value.size() > 9) {
            return LongestRetryAfterMs;
        }
        return std::min<std::int64_t>(value.toLongLong() * 1000, LongestRetryAfterMs);
    }
    const QDateTime when = HttpDate(QString::fromLatin1(value));
    if (!when.isValid()) {
        return std::nullopt;
    }
    return std::clamp<std::int64_t>(now.msecsTo(when), 0, LongestRetryAfterMs);
}

std::int64_t BackoffMs(int waited, std::int64_t firstMs) {
    std::int64_t wait = std::max<std::int64_t>(firstMs, 1);
    for (int i = 0; i < waited && wait < LongestWaitMs; ++i) {
        wait *= 2;
    }
    return std::min(wait, std::max(LongestWaitMs, firstMs));
}

std::int64_t WaitMs(std::optional<std::int64_t> retryAfterMs, int waited, std::int64_t firstMs) {
    return retryAfterMs ? *retryAfterMs : BackoffMs(waited, firstMs);
}

QString Words(std::int64_t msLeft, const TextTable& texts) {
    // Rounded up: "0 s" would be shown while the wait still runs.
    const std::int64_t seconds = (std::max<std::int64_t>(msLeft, 0) + 999) / 1000;
    QString left;
    if (seconds < 60) {
        left = Worded(texts, 1302, QStringLiteral("%1 s")).arg(seconds);
    } else if (seconds < 3600) {
        left =
            Worded(texts, 1301, QStringLiteral("%1 min %2 s")).arg(seconds / 60).arg(seconds % 60);
    } else {
        left = Worded(texts, 1303, QStringLiteral("%1 h %2 min"))
                   .arg(seconds / 3600)
                   .arg(seconds / 60 % 60);
    }
    return Worded(texts, 1300, QStringLiteral("Server busy: retrying in %1")).arg(left);
}

}  // namespace Busy

BusyWait::BusyWait(std::function<void()> changed) : changed_(std::move(changed)) {
    timer_.setSingleShot(true);
    ticker_.setInterval(kTickMs);
    QObject::connect(&timer_, &QTimer::timeout, &timer_, [this] {
        ticker_.stop();
        // `then` may begin the next wait: it runs from a copy.
        const std::function<void()> then = std::exchange(then_, {});
        if (changed_) {
            changed_();
        }
        if (then) {
            then();
        }
    });
    QObject::connect(&ticker_, &QTimer::timeout, &ticker_, [this] {
        if (changed_) {
            changed_();
        }
    });
}

bool BusyWait::begin(std::optional<std::int64_t> retryAfterMs, std::int64_t firstMs, int tries,
                     std::function<void()> then) {
    if (++answers_ >= std::max(tries, 1)) {
        cancel();
        return false;
    }
    lastWaitMs_ = Busy::WaitMs(retryAfterMs, answers_ - 1, firstMs);
    then_ = std::move(then);
    ++begun_;
    deadline_.setRemainingTime(lastWaitMs_);
    timer_.start(static_cast<int>(lastWaitMs_));
    ticker_.start();
    if (changed_) {
        changed_();
    }
    return true;
}

void BusyWait::cancel() {
    const bool was = waiting();
    timer_.stop();
    ticker_.stop();
    then_ = {};
    answers_ = 0;
    if (was && changed_) {
        changed_();
    }
}
