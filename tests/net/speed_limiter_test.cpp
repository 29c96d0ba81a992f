#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QTimer>

#include "net/speed_limiter.h"
#include "tests/net/socket_test_support.h"

namespace {

struct Limiter : ::testing::Test {
    SpeedLimiter limiter;
    std::int32_t now = 1000000;
    void SetUp() override {
        limiter.setLimits({true, 10240});
        limiter.setTickSource([this] { return now; });
    }
};

}  // namespace

TEST_F(Limiter, AllowanceIsElapsedTimeTimesTheLimitWithTheExcessCarried) {
    // The first limited read after a long pause counts as 10 ms: 102.4 rounds to 102.
    EXPECT_EQ(limiter.LimitedReadSize(65536), 102);
    EXPECT_EQ(limiter.lastTick(), now);
    now += 50;
    EXPECT_EQ(limiter.LimitedReadSize(65536), 512);
    // A read capped by the buffer size carries the rest to the next read.
    now += 50;
    EXPECT_EQ(limiter.LimitedReadSize(100), 100);
    EXPECT_EQ(limiter.carry(), 412);
    // Within the same millisecond only the carry is there to read.
    EXPECT_EQ(limiter.LimitedReadSize(65536), 412);
    EXPECT_EQ(limiter.carry(), 0);
    EXPECT_EQ(limiter.LimitedReadSize(65536), 0);  // nothing due: not read now
    // Halves round to even: 1 ms at 2500 B/s is 2.5 bytes, 3 ms is 7.5.
    limiter.setLimits({true, 2500});
    now += 1;
    EXPECT_EQ(limiter.LimitedReadSize(65536), 2);
    now += 3;
    EXPECT_EQ(limiter.LimitedReadSize(65536), 8);  // 7.5
}

TEST_F(Limiter, LongPausesAndClockWrapsAreSmallSteps) {
    limiter.LimitedReadSize(65536);
    now += 100001;
    EXPECT_EQ(limiter.LimitedReadSize(65536), 102);
    now = -2147483600;  // the signed tick passed 2^31: a long pause again
    limiter.LimitedReadSize(65536);
    now += 20;
    EXPECT_EQ(limiter.LimitedReadSize(65536), 205);  // 204.8
    now = 5;  // a jump of 2^31 ms: far too long, counted as 10 ms
    EXPECT_EQ(limiter.LimitedReadSize(65536), 102);
}

TEST_F(Limiter, LessThanAByteDueWaitsInsteadOfReadingFreely) {
    limiter.setLimits({true, 100});
    limiter.LimitedReadSize(65536);
    const std::int32_t start = now;
    now += 4;  // 0.4 bytes
    EXPECT_EQ(limiter.LimitedReadSize(65536), 0);
    EXPECT_EQ(limiter.lastTick(), start);
    now += 6;  // 1 byte since the last read
    EXPECT_EQ(limiter.LimitedReadSize(65536), 1);
}

TEST(LimiterTable, WhatAReadLeavesUnreadIsAllowedToTheNextAtOnce) {
    struct Row {
        std::int32_t limit, ms, buffer, unread, allowed, next;
    };
    const Row rows[] = {
        {10240, 50, 65536, 500, 512, 500},  // the OS had only 12 of the 512 bytes allowed
        {10240, 50, 100, 60, 100, 472},     // capped by the buffer: 412 carried, 60 more unread
        {2500, 4, 65536, 10, 10, 10},       // nothing there to read: all of it stays allowed
        // A minute idle, or a slow server's unread allowance: never more than half a second's.
        {10240, 60000, 65536, 0, 5120, 0},
        {10240, 1000, 4096, 4096, 4096, 5120},
    };
    for (const Row& row : rows) {
        SpeedLimiter limiter;
        std::int32_t now = 1000;
        limiter.setLimits({true, row.limit});
        limiter.setTickSource([&now] { return now; });
        limiter.LimitedReadSize(65536);  // starts the clock
        now += row.ms;
        EXPECT_EQ(limiter.LimitedReadSize(row.buffer), row.allowed) << row.limit << " " << row.ms;
        limiter.giveBack(row.unread);
        EXPECT_EQ(limiter.LimitedReadSize(65536), row.next) << row.limit << " " << row.ms;
    }
}

TEST(LimitedTransfer, OneMegabyteAtAQuarterMegabytePerSecondTakesAboutFourSeconds) {
    VelmoraSockets sockets;
    sockets.StartSockets();
    sockets.setLimits({true, 262144});
    LoopbackServer server;
    ASSERT_GT(server.port, 0);
    QTimer pump;  // the program's 500 ms tick
    QObject::connect(&pump, &QTimer::timeout, [&] { sockets.PumpSockets(); });
    pump.start(500);

    SocketClass socket(sockets);
    EventLog log;
    log.listen(socket);
    socket.Connect(QStringLiteral("127.0.0.1"), server.port);
    ASSERT_TRUE(WaitFor([&] { return log.has(QStringLiteral("connect")); }));
    sockets.entry(socket.SocketIndex)->RateLimited = 1;
    QElapsedTimer clock;
    clock.start();
    socket.SendData("SEND 1048576\nCLOSE\n");
    ASSERT_TRUE(
        WaitFor([&] { return log.has(QStringLiteral("closed")); }, std::chrono::seconds(60)));
    const qint64 ms = clock.elapsed();
    EXPECT_EQ(log.received.size(), 1048576);
    EXPECT_TRUE(IsPattern(log.received));
    // A busy machine only makes it slower; faster than the limit allows is a fault.
    EXPECT_GE(ms, 3000);
    RecordProperty("milliseconds", static_cast<int>(ms));
}
