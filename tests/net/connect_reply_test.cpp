// The proxy's answer to CONNECT, judged from the bytes received so far, whole and split at every
// byte; and the request that asks for the tunnel.
#include <gtest/gtest.h>

#include "net/connect_reply.h"
#include "net/http_tunnel.h"

namespace {

using Status = ConnectReply::Status;

struct Case {
    const char* name;
    QByteArray head;  // the whole input of an answer that is not complete
    QByteArray tail;  // what follows a complete head: the target's bytes, or the proxy's body
    Status status;
    int code;
    const char* statusLine;
};

}  // namespace

TEST(ConnectReply, AnswersWholeAndSplitAtEveryByte) {
    const QByteArray atLimit =
        "HTTP/1.1 200 OK\r\nX: " + QByteArray(MaxConnectReplyHead - 24, 'a') + "\r\n\r\n";
    ASSERT_EQ(atLimit.size(), MaxConnectReplyHead);
    const Case cases[] = {
        {"plain 200", "HTTP/1.1 200 Connection established\r\n\r\n", "", Status::Complete, 200,
         "HTTP/1.1 200 Connection established"},
        {"200 with headers, then the target's bytes",
         "HTTP/1.0 200 OK\r\nProxy-Agent: x\r\nVia: 1.1 p\r\n\r\n", "\x16\x03\x01",
         Status::Complete, 200, "HTTP/1.0 200 OK"},
        {"403 with a body behind",
         "HTTP/1.1 403 Access violation\r\nServer: tinyproxy/1.11.1\r\nConnection: close\r\n\r\n",
         "<html>\r\n\r\n", Status::Complete, 403, "HTTP/1.1 403 Access violation"},
        {"bare LF lines, no reason", "HTTP/1.1 407\nProxy-Authenticate: Basic\n\n", "",
         Status::Complete, 407, "HTTP/1.1 407"},
        {"head just at the limit", atLimit, "", Status::Complete, 200, "HTTP/1.1 200 OK"},
        {"head not ended", "HTTP/1.1 200 OK\r\nVia: p\r\n", "", Status::Incomplete, 0, ""},
        {"nothing yet", "", "", Status::Incomplete, 0, ""},
        {"not HTTP", "SSH-2.0-OpenSSH\r\n\r\n", "", Status::Malformed, 0, ""},
        {"bad status line", "HTTP/1.1 2000 OK\r\n\r\n", "", Status::Malformed, 0, ""},
        {"status code not digits", "HTTP/1.1 2x0 OK\r\n\r\n", "", Status::Malformed, 0, ""},
        {"oversize head", "HTTP/1.1 200 OK\r\nX: " + QByteArray(MaxConnectReplyHead, 'a'), "",
         Status::Malformed, 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QByteArray bytes = c.head + c.tail;
        const ConnectReply whole = ParseConnectReply(bytes);
        EXPECT_EQ(whole.status, c.status);
        if (c.status == Status::Complete) {
            EXPECT_EQ(whole.code, c.code);
            EXPECT_EQ(whole.statusLine, QByteArray(c.statusLine));
            EXPECT_EQ(whole.headLength, c.head.size());
        }
        // As it arrives: incomplete until the head's end, then the same verdict; an answer
        // that turns out malformed is never taken as complete on the way.
        for (qsizetype cut = 0; cut < bytes.size(); ++cut) {
            const Status part = ParseConnectReply(bytes.first(cut)).status;
            if (c.status == Status::Malformed) {
                ASSERT_NE(part, Status::Complete) << "cut at " << cut;
            } else {
                ASSERT_EQ(part, cut < c.head.size() ? Status::Incomplete : c.status)
                    << "cut at " << cut;
            }
        }
    }
}

TEST(ConnectReply, RequestNamesTheTargetInTheLineAndHost) {
    const struct {
        QString host;
        int port;
        QByteArray target;
    } cases[] = {
        {QStringLiteral("example.org"), 443, "example.org:443"},
        {QStringLiteral("127.0.0.1"), 8443, "127.0.0.1:8443"},
        {QStringLiteral("::1"), 443, "[::1]:443"},
        {QStringLiteral("[2001:db8::1]"), 443, "[2001:db8::1]:443"},
        {QStringLiteral("evil\r\nhost.example"), 443, "evilhost.example:443"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ConnectRequest(c.host, c.port), "CONNECT " + c.target +
                                                      " HTTP/1.1\r\nHost: " + c.target +
                                                      "\r\nUser-Agent: Brenloft/1\r\n\r\n");
    }
}
