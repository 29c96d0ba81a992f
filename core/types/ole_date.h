#pragma once

#include <QDateTime>
#include <compare>
#include <optional>

// The OLE Automation date: days since 30 December 1899, the fraction being the time of day.
// Stored in the list file as a raw IEEE double; the settings store keeps it as text.
class OleDate {
public:
    constexpr OleDate() = default;
    constexpr explicit OleDate(double days) : days_(days) {}

    static OleDate fromDateTime(const QDateTime& local);
    static OleDate today();  // date only, no time of day
    static OleDate now();

    QDateTime toDateTime() const;  // local time
    constexpr double days() const { return days_; }
    bool hasDate() const;  // false for a bare time of day (day 0)
    bool hasTime() const;  // false for midnight

    OleDate addDays(int days) const { return OleDate(days_ + days); }
    friend constexpr auto operator<=>(OleDate, OleDate) = default;

private:
    double days_ = 0.0;
};

// A date, a time of day, or both, as the user or the settings store writes them
// ("2026-12-08 23:00:00", "2026-12-08", "23:00", "11:00 PM", or the locale's short forms).
// A bare time gives day 0.
std::optional<OleDate> DateFromText(QStringView text);

// The text that DateFromText reads back: the date part when there is one, the time part when
// there is one, "00:00:00" for day 0 at midnight.
QString DateToText(OleDate date);
