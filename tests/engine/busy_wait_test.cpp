// How long a busy server asks to be left alone, the waits where it names none, and which FTP
// replies say "busy" rather than "no".
#include <gtest/gtest.h>

#include <QTimeZone>
#include <vector>

#include "core/text/text_table.h"
#include "engine/session/busy_wait.h"

TEST(BusyWait, RetryAfterInSecondsOrAsADate) {
    const QDateTime now(QDate(2026, 3, 1), QTime(12, 0), QTimeZone::utc());
    const struct {
        const char* headers;
        std::optional<std::int64_t> ms;
    } rows[] = {
        {"Retry-After: 2\r\n", 2000},
        {"retry-after:120 \r\n", 120000},
        {"Retry-After: Sun, 01 Mar 2026 12:01:40 GMT\r\n", 100000},
        {"Retry-After: Sunday, 01-Mar-26 12:00:05 GMT\r\n", 5000},
        {"Retry-After: Sun Mar  1 12:00:30 2026\r\n", 30000},
        {"Retry-After: Sun, 01 Mar 2026 11:00:00 GMT\r\n", 0},
        {"Retry-After: 99999999999\r\n", Busy::LongestRetryAfterMs},
        {"Retry-After: -5\r\n", std::nullopt},
        {"Retry-After: Sun, 31 Feb 2026 12:00:00 GMT\r\n", std::nullopt},
        {"X-Retry-After: 2\r\n", std::nullopt},
        {"\r\nRetry-After: 2\r\n", std::nullopt},  // body bytes, not a header
    };
    for (const auto& row : rows) {
        const QByteArray head = QByteArray("HTTP/1.1 503 Service Unavailable\r\n") + row.headers;
        EXPECT_EQ(Busy::RetryAfterMs(head + "\r\n", now), row.ms) << row.headers;
    }
}

TEST(BusyWait, BackoffDoublesUpToTenMinutesAndTheWordsCountDown) {
    std::vector<std::int64_t> waits;
    for (int waited = 0; waited <= 10; ++waited) {
        waits.push_back(Busy::WaitMs(std::nullopt, waited, Busy::FirstWaitMs));
    }
    EXPECT_EQ(waits, (std::vector<std::int64_t>{2000, 4000, 8000, 16000, 32000, 64000, 128000,
                                                256000, 512000, 600000, 600000}));
    EXPECT_EQ(Busy::WaitMs(7000, 9, Busy::FirstWaitMs), 7000) << "the server's time goes first";

    const TextTable english;
    EXPECT_EQ(Busy::Words(100000, english), QStringLiteral("Server busy: retrying in 1 min 40 s"));
    EXPECT_EQ(Busy::Words(1200, english), QStringLiteral("Server busy: retrying in 2 s"));
    EXPECT_EQ(Busy::Words(7260000, english), QStringLiteral("Server busy: retrying in 2 h 1 min"));

    EXPECT_TRUE(Busy::BusyFtpReply(421, "Too many connections from the same IP address."));
    EXPECT_TRUE(Busy::BusyFtpReply(530, "Sorry, too many users: try later."));
    EXPECT_FALSE(Busy::BusyFtpReply(530, "Authentication failed."));
    EXPECT_FALSE(Busy::BusyFtpReply(550, "Too many users."));
}
