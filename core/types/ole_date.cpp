#include "core/types/ole_date.h"

#include <QLocale>
#include <cmath>

namespace {

const QDate kEpoch(1899, 12, 30);
constexpr qint64 kMsPerDay = 86400000;

}  // namespace

OleDate OleDate::fromDateTime(const QDateTime& local) {
    const QDateTime dt = local.toLocalTime();
    const qint64 days = kEpoch.daysTo(dt.date());
    const qint64 ms = dt.time().msecsSinceStartOfDay();
    // Before the epoch the OLE date counts days backwards but the time forwards.
    const double fraction = static_cast<double>(ms) / kMsPerDay;
    return OleDate(days >= 0 ? days + fraction : days - fraction);
}

OleDate OleDate::today() {
    return OleDate(static_cast<double>(kEpoch.daysTo(QDate::currentDate())));
}

OleDate OleDate::now() {
    return fromDateTime(QDateTime::currentDateTime());
}

QDateTime OleDate::toDateTime() const {
    const double whole = std::trunc(days_);
    const double fraction = std::fabs(days_ - whole);
    qint64 ms = std::llround(fraction * kMsPerDay);
    qint64 day = static_cast<qint64>(whole);
    if (ms >= kMsPerDay) {
        ms -= kMsPerDay;
        day += days_ >= 0 ? 1 : -1;
    }
    return QDateTime(kEpoch.addDays(day), QTime::fromMSecsSinceStartOfDay(static_cast<int>(ms)));
}

bool OleDate::hasDate() const {
    return std::trunc(days_) != 0.0;
}

bool OleDate::hasTime() const {
    return std::fabs(days_ - std::trunc(days_)) * kMsPerDay >= 0.5;
}

std::optional<OleDate> DateFromText(QStringView text) {
    const QString t = text.trimmed().toString();
    if (t.isEmpty()) {
        return std::nullopt;
    }
    static const char* const kTimeFormats[] = {"H:mm:ss", "H:mm", "h:mm:ss AP", "h:mm AP"};
    for (const char* format : kTimeFormats) {
        const QTime time = QTime::fromString(t, QLatin1String(format));
        if (time.isValid()) {
            return OleDate(time.msecsSinceStartOfDay() / double(kMsPerDay));
        }
    }
    static const char* const kDateTimeFormats[] = {"yyyy-MM-dd H:mm:ss", "yyyy-MM-dd H:mm",
                                                   "yyyy-MM-ddTH:mm:ss", "yyyy-MM-dd h:mm:ss AP",
                                                   "yyyy-MM-dd h:mm AP"};
    for (const char* format : kDateTimeFormats) {
        const QDateTime dt = QDateTime::fromString(t, QLatin1String(format));
        if (dt.isValid()) {
            return OleDate::fromDateTime(dt);
        }
    }
    const QDate date = QDate::fromString(t, QStringLiteral("yyyy-MM-dd"));
    if (date.isValid()) {
        return OleDate(double(kEpoch.daysTo(date)));
    }
    const QLocale locale;
    for (const auto format : {QLocale::ShortFormat, QLocale::LongFormat}) {
        const QDateTime dt = locale.toDateTime(t, format);
        if (dt.isValid()) {
            return OleDate::fromDateTime(dt);
        }
        const QDate d = locale.toDate(t, format);
        if (d.isValid()) {
            return OleDate(double(kEpoch.daysTo(d)));
        }
    }
    return std::nullopt;
}

QString DateToText(OleDate date) {
    const QDateTime dt = date.toDateTime();
    if (date.hasDate() && date.hasTime()) {
        return dt.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    }
    if (date.hasDate()) {
        return dt.toString(QStringLiteral("yyyy-MM-dd"));
    }
    return dt.time().toString(QStringLiteral("HH:mm:ss"));
}
