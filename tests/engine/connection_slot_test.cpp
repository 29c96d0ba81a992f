// A download session's connection slots: each socket maps back to the one slot that owns it,
// forgetting a connection leaves nothing of it behind, the part file is opened once and given
// back with the slot (flushed first with "SafeDisk" on), and the FTP login goes out once per
// connection.
#include <gtest/gtest.h>

#include <QDir>

#include "core/download_list/records.h"
#include "core/settings/settings.h"
#include "engine/files/segment_files.h"
#include "engine/ftp/ftp_values.h"
#include "engine/session/connection_slot.h"
#include "net/socket_class.h"
#include "net/socket_module.h"
#include "tests/support/sandbox.h"

namespace {

class SessionConnectionSlot : public ::testing::Test {
protected:
    void SetUp() override { sockets.StartSockets(); }
    void TearDown() override { sockets.StopSockets(); }

    // What the slot's control connection has queued to send (nothing is connected here).
    QByteArray queued(ConnectionSlot& slot) {
        SocketEntry* e = sockets.entry(slot.socket().SocketIndex);
        return e != nullptr ? std::exchange(e->SendBuffer, QByteArray()) : QByteArray();
    }

    Sandbox box;
    VelmoraSockets sockets;
    SegmentFiles files;
    Settings settings;
};

TEST_F(SessionConnectionSlot, EverySocketMapsBackToTheOneSlotThatOwnsIt) {
    ConnectionSlots table(sockets, files, settings);
    EXPECT_EQ(table.slotOf(nullptr), -1);
    for (int k = 0; k < ConnectionSlots::Count; ++k) {
        EXPECT_EQ(table[k].index(), k);
        EXPECT_EQ(table[k].existingSocket(), nullptr) << "made on first use only";
        EXPECT_EQ(table[k].existingDataSocket(), nullptr);
    }
    for (int k = 0; k < ConnectionSlots::Count; ++k) {
        SCOPED_TRACE(k);
        SocketClass* control = &table[k].socket();
        SocketClass* data = &table[k].dataSocket();
        EXPECT_EQ(&table[k].socket(), control) << "the same connection on every call";
        EXPECT_NE(control, data);
        const int expected = k == ConnectionSlots::Probe ? -1 : k;  // the probe is no segment
        EXPECT_EQ(table.slotOf(control), expected);
        EXPECT_EQ(table.dataSlotOf(data), expected);
        EXPECT_EQ(table.slotOf(data), -1) << "a data connection is no control connection";
        EXPECT_EQ(table.dataSlotOf(control), -1);
    }
    // A replaced probe socket is a new connection; the old one goes from the event loop.
    SocketClass* before = table.probe().existingSocket();
    EXPECT_NE(&table.probe().replaceSocket(), before);
}

TEST_F(SessionConnectionSlot, ForgettingAConnectionLeavesNothingOfItBehind) {
    ConnectionSlot slot(0, sockets, files, settings);
    slot.incoming.head = "HTTP/1.1 206";
    slot.incoming.headDone = true;
    slot.incoming.bodyEnd = BodyEnd::Chunked;
    slot.incoming.refusedRange = true;
    slot.incoming.sinceAlive = 300;
    slot.ftpLogin = FtpLogin::PassSent;
    slot.ftpTransferReported = true;
    slot.ftpDataClosed = true;
    std::vector<FtpReply> replies;
    ASSERT_TRUE(slot.ftpReplies.feed("220-first line of a greeting\r\n", replies));
    ASSERT_TRUE(replies.empty());
    const std::uint32_t generation = slot.generation();

    slot.forgetConnection();
    EXPECT_EQ(slot.generation(), generation + 1) << "timers of the old connection retire";
    EXPECT_TRUE(slot.incoming.head.isEmpty());
    EXPECT_FALSE(slot.incoming.headDone);
    EXPECT_EQ(slot.incoming.bodyEnd, BodyEnd::AtLength);
    EXPECT_FALSE(slot.incoming.refusedRange);
    EXPECT_EQ(slot.incoming.sinceAlive, 0);
    EXPECT_EQ(slot.ftpLogin, FtpLogin::None);
    EXPECT_FALSE(slot.ftpTransferReported);
    EXPECT_FALSE(slot.ftpDataClosed);
    // The half greeting is gone: the next connection's first reply stands on its own.
    ASSERT_TRUE(slot.ftpReplies.feed("331 password please\r\n", replies));
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].code, 331);

    slot.close();
    EXPECT_EQ(slot.generation(), generation + 2) << "closing forgets the connection too";
}

TEST_F(SessionConnectionSlot, PartFileOpensOnceIsFlushedEverySecondAndGoesWithTheSlot) {
    const QString path = box.file(QStringLiteral("part001.tmp"));
    for (const std::int16_t safeDisk : {FlagFalse, FlagTrue}) {
        SCOPED_TRACE(safeDisk);
        settings.SafeDisk = safeDisk;
        const std::uint64_t before = files.flushCount();
        auto flushes = [&] { return files.flushCount() - before; };
        ConnectionSlot slot(3, sockets, files, settings);
        slot.socket();
        const std::int32_t handle = slot.partFile(path, 1000);
        ASSERT_GT(handle, 0);
        EXPECT_EQ(slot.partFile(path, 1500), handle) << "opened once";
        ASSERT_EQ(files.VelmoraWriteFile(handle, "abc", 3), 3);
        EXPECT_TRUE(slot.flushPartFileEverySecond(2000));
        EXPECT_EQ(flushes(), 0u) << "not before a second has passed";
        EXPECT_TRUE(slot.flushPartFileEverySecond(2001));
        EXPECT_EQ(flushes(), safeDisk == FlagTrue ? 1u : 0u);
        EXPECT_TRUE(slot.flushPartFileEverySecond(3002));
        EXPECT_EQ(flushes(), safeDisk == FlagTrue ? 1u : 0u) << "nothing new to flush";
        ASSERT_EQ(files.VelmoraWriteFile(handle, "d", 1), 1);

        slot.close();
        EXPECT_EQ(flushes(), safeDisk == FlagTrue ? 2u : 0u) << "closing flushes the rest";
        EXPECT_EQ(slot.openPartFile(), 0);
        EXPECT_EQ(files.openCount(), 0u);
        EXPECT_NE(slot.existingSocket(), nullptr) << "a closed slot keeps its sockets";

        ASSERT_GT(slot.partFile(path, 3000), 0);
        EXPECT_EQ(files.openCount(), 1u);
    }
    EXPECT_EQ(files.openCount(), 0u) << "the slot gives its part file back when it goes";

    ConnectionSlot nowhere(0, sockets, files, settings);
    EXPECT_EQ(nowhere.partFile(box.file(QStringLiteral("missing/part.tmp")), 0), 0);
    EXPECT_EQ(files.openCount(), 0u);
}

TEST_F(SessionConnectionSlot, FtpLoginGoesOutOncePerConnection) {
    struct Case {
        QString user;
        QString password;
        QByteArray userLine;
        QByteArray passLine;
    };
    const std::vector<Case> cases = {
        {"alice", "s3cret: p@ss", "USER alice\r\n", "PASS s3cret: p@ss\r\n"},
        {"anonymous", "", "USER anonymous\r\n", "PASS " + QByteArray(kAnonymousPassword) + "\r\n"},
        {"bob", "line\r\nDELE x", "USER bob\r\n", "PASS lineDELE x\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.user.toStdString());
        DownloadRecord record;
        record.UserName = c.user;
        record.Password = c.password;
        ConnectionSlot slot(1, sockets, files, settings);
        const FtpReply greeting{220, "ready"};
        const FtpReply needPassword{331, "password please"};

        slot.answerFtpLogin(greeting, record, QStringLiteral("test:"));
        EXPECT_EQ(queued(slot), c.userLine);
        EXPECT_EQ(slot.ftpLogin, FtpLogin::UserSent);
        slot.answerFtpLogin(greeting, record, QStringLiteral("test:"));
        EXPECT_EQ(queued(slot), QByteArray()) << "a second greeting gets no second USER";
        slot.answerFtpLogin(needPassword, record, QStringLiteral("test:"));
        EXPECT_EQ(queued(slot), c.passLine);
        EXPECT_EQ(slot.ftpLogin, FtpLogin::PassSent);
        slot.answerFtpLogin(FtpReply{230, "in"}, record, QStringLiteral("test:"));
        EXPECT_EQ(queued(slot), QByteArray()) << "other replies are not the login's";

        slot.forgetConnection();
        slot.answerFtpLogin(greeting, record, QStringLiteral("test:"));
        EXPECT_EQ(queued(slot), c.userLine) << "a new connection logs in again";
    }
}

}  // namespace

// Slots serve segments by number, not by position: a split inserts a record and the segments
// behind it move up, a freed slot is the first one taken again, and a row keeps showing the
// segment its slot served last.
TEST_F(SessionConnectionSlot, SlotsFollowTheirSegmentsThroughInsertionsAndRelease) {
    ConnectionSlots table(sockets, files, settings);
    EXPECT_EQ(table.shownSegment(2), 3) << "before any connection, the row of its own number";
    for (int k = 0; k < 3; ++k) {
        table.assign(k, k + 1);
    }
    EXPECT_EQ(table.freeSlot(3), -1) << "the limit counts";
    EXPECT_EQ(table.freeSlot(8), 3);
    const SocketClass* old = &table[1].socket();
    table.segmentInserted(2);  // a range split off segment 1 became segment 2
    const int expected[][2] = {{1, 0}, {2, -1}, {3, 1}, {4, 2}};
    for (const auto& [segment, slot] : expected) {
        EXPECT_EQ(table.serving(segment), slot) << segment;
    }
    table.release(1);
    EXPECT_EQ(table.freeSlot(8), 1);
    EXPECT_EQ(table.shownSegment(1), 3) << "the segment it served last";
    EXPECT_EQ(table.slotOf(old), 1) << "the slot keeps its socket, closed";
    table.assign(1, 2);
    EXPECT_EQ(table.serving(2), 1);
    EXPECT_EQ(table[1].lastSegment, 2);
}
