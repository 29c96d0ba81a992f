#include "rpc/http_request_reader.h"

#include <gtest/gtest.h>

namespace {

using State = HttpRequestReader::State;
using Fault = HttpRequestReader::Fault;

struct Row {
    const char* name;
    QByteArray wire;
    State state;  // after the first request
    Fault fault;
    QByteArray target;
    QByteArray body;
    bool keepAlive;
    qsizetype left;  // bytes of the wire not taken (the next request, or what was refused)
};

// Offers the bytes as a socket would, split after `split` bytes (then the rest), and drops
// what the reader took, until the first request is read or refused.
HttpRequestReader Read(const QByteArray& wire, qsizetype split, qsizetype& left) {
    HttpRequestReader reader(1000);
    QByteArray pending;
    for (const QByteArray& part : {wire.left(split), wire.mid(split)}) {
        pending += part;
        while (reader.state() == State::Head || reader.state() == State::Body) {
            const qsizetype used = reader.take(pending);
            pending.remove(0, used);
            if (used == 0) {
                break;
            }
        }
    }
    left = pending.size();
    return reader;
}

const QByteArray Upgrade =
    "GET /jsonrpc HTTP/1.1\r\nUpgrade: websocket\r\nConnection: keep-alive, Upgrade\r\n\r\n";

const Row Rows[] = {
    {"post", "POST /jsonrpc HTTP/1.1\r\nContent-Length: 2\r\n\r\n[]", State::Done, Fault::None,
     "/jsonrpc", "[]", true, 0},
    {"pipelined: only the first is taken",
     "POST /jsonrpc HTTP/1.1\r\nContent-Length: 2\r\n\r\n{}GET /x HTTP/1.1\r\n\r\n", State::Done,
     Fault::None, "/jsonrpc", "{}", true, 19},
    {"a websocket head stays unread until whole", Upgrade, State::Done, Fault::None, "/jsonrpc", "",
     true, 0},
    {"body beyond the limit is refused unread",
     "POST /jsonrpc HTTP/1.1\r\nContent-Length: 1001\r\n\r\n" + QByteArray(1001, 'x'),
     State::Failed, Fault::BodyTooLarge, "", "", true, 1049},
    {"lengths that differ", "POST / HTTP/1.1\r\nContent-Length: 0\r\nContent-Length: 5\r\n\r\n",
     State::Failed, Fault::Malformed, "", "", true, 57},
    {"chunked", "POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n", State::Failed,
     Fault::LengthRequired, "", "", true, 47},
    {"not http", "hello there\r\n\r\n", State::Failed, Fault::Malformed, "", "", true, 15},
    {"head too large", "GET / HTTP/1.1\r\nX: " + QByteArray(20000, 'a'), State::Failed,
     Fault::HeadTooLarge, "", "", true, 20019},
};

TEST(HttpRequestReader, ReadsEachRowSplitAtEveryByte) {
    for (const Row& row : Rows) {
        for (qsizetype split = 0; split <= row.wire.size(); ++split) {
            SCOPED_TRACE(testing::Message() << row.name << ", split at " << split);
            qsizetype left = 0;
            const HttpRequestReader reader = Read(row.wire, split, left);
            ASSERT_EQ(reader.state(), row.state);
            EXPECT_EQ(reader.fault(), row.fault);
            EXPECT_EQ(left, row.left);
            if (row.state == State::Done) {
                EXPECT_EQ(reader.request().target, row.target);
                EXPECT_EQ(reader.request().body, row.body);
                EXPECT_EQ(reader.request().keepAlive(), row.keepAlive);
                EXPECT_EQ(reader.request().wantsWebSocket(), row.wire == Upgrade);
            }
            if (row.wire.size() > 2000) {
                split += 997;  // the long rows at a few places only
            }
        }
    }
}

}  // namespace
