#include "engine/http/response_head.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>

#include "core/types/currency.h"
#include "engine/session/download_identity.h"

namespace {

ResponseHead Parse(const char* text) {
    return ParseResponseHead(QByteArray(text));
}

// A literal with its embedded NUL bytes kept.
template <std::size_t N>
QByteArray Bytes(const char (&text)[N]) {
    return QByteArray(text, N - 1);
}

constexpr std::int64_t MaxSizeBytes = INT64_MAX / Currency::Scale;

}  // namespace

TEST(ResponseHeadStatus, ReadFromTheStatusLine) {
    EXPECT_EQ(Parse("HTTP/1.1 206 Partial Content\r\n\r\n").status, 206);
    EXPECT_EQ(Parse("HTTP/1.0 302 Found\r\n\r\n").status, 302);
    EXPECT_EQ(Parse("HTTP/1.1 200\r\n\r\n").status, 200);
    // The status line alone, still without its line end, is enough for the code.
    EXPECT_EQ(Parse("HTTP/1.1 404 Not Fo").status, 404);
}

TEST(ResponseHeadStatus, MalformedStatusLines) {
    EXPECT_EQ(Parse("").status, 0);
    EXPECT_EQ(Parse("HTTP/1.").status, 0);
    EXPECT_EQ(Parse("HTTP/1.1 ").status, 0);
    EXPECT_EQ(Parse("HTTP/1.1 OK 200\r\n\r\n").status, 0);
    EXPECT_EQ(Parse("HTTP/1.1 99999999999999999999 Huge\r\n\r\n").status, INT_MAX);
    EXPECT_EQ(Parse("HTTP/1.1 -99999999999999999999\r\n\r\n").status, INT_MIN);
    // The number never runs on into the next line, even when the reason is missing.
    EXPECT_EQ(Parse("HTTP/1.1 200\r\n\r\n123").status, 200);
    EXPECT_EQ(Parse("\r\nHTTP/1.1 200 OK\r\n\r\n").status, 0);
}

TEST(ResponseHeadLength, NamesInAnyCaseAndSizesBeyondFourGiB) {
    ResponseHead head = Parse("HTTP/1.1 200 OK\r\ncontent-length: 1234\r\n\r\n");
    EXPECT_TRUE(head.hasContentLength);
    EXPECT_EQ(head.contentLength, 1234);

    head = Parse("HTTP/1.1 200 OK\r\nCONTENT-LENGTH: 5368709120\r\n\r\n");
    EXPECT_EQ(head.contentLength, 5368709120);

    head = Parse("HTTP/1.1 200 OK\r\nContent-Length: 2147483648\r\n\r\n");
    EXPECT_EQ(head.contentLength, 2147483648);

    head = Parse("HTTP/1.1 200 OK\r\nServer: x\r\n\r\n");
    EXPECT_FALSE(head.hasContentLength);
    EXPECT_EQ(head.contentLength, 0);
}

TEST(ResponseHeadLength, ValuesOutOfRangeAreClamped) {
    // Large enough to overflow the 64-bit range; the result must still scale into a Currency.
    ResponseHead head = Parse("HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999999\r\n\r\n");
    EXPECT_EQ(head.contentLength, MaxSizeBytes);
    EXPECT_EQ(Currency::fromBytes(head.contentLength).bytes(), MaxSizeBytes);

    EXPECT_EQ(Parse("HTTP/1.1 200 OK\r\nContent-Length: 1e400\r\n\r\n").contentLength,
              MaxSizeBytes);
    EXPECT_EQ(Parse("HTTP/1.1 200 OK\r\nContent-Length: -1\r\n\r\n").contentLength, 0);
    EXPECT_EQ(Parse("HTTP/1.1 200 OK\r\nContent-Length: 0e99999\r\n\r\n").contentLength, 0);
    EXPECT_EQ(Parse("HTTP/1.1 200 OK\r\nContent-Length: 12.5\r\n\r\n").contentLength, 12);
    EXPECT_EQ(Parse("HTTP/1.1 200 OK\r\nContent-Length: 13.5\r\n\r\n").contentLength, 14);
}

TEST(ResponseHeadLength, NameUpToTheColonValueBetweenBlanks) {
    EXPECT_EQ(Parse("HTTP/1.1 200 OK\r\nContent-Length:1234\r\n\r\n").contentLength, 1234);
    EXPECT_EQ(Parse("HTTP/1.1 200 OK\r\nContent-Length: \t 1234\t \r\n\r\n").contentLength, 1234);
    ResponseHead head = Parse("HTTP/1.1 200 OK\r\nContent-Length:\r\n\r\n");
    EXPECT_TRUE(head.hasContentLength);
    EXPECT_EQ(head.contentLength, 0);
    EXPECT_FALSE(head.badHeaderLine);
    // A blank before the colon makes the answer one not to take; a line opening with a blank
    // continues the one before.
    for (const char* bad : {"Content-Length : 5", "Content-Length\t:5", "X-Any :1"}) {
        head = Parse(QByteArray("HTTP/1.1 200 OK\r\n") + bad + "\r\n\r\n");
        EXPECT_TRUE(head.badHeaderLine && !head.hasContentLength) << bad;
    }
    EXPECT_FALSE(
        Parse("HTTP/1.1 200 OK\r\nX-Note: a\r\n Transfer-Encoding: chunked\r\n\r\n").chunked);
    EXPECT_EQ(Parse("HTTP/1.1 200 OK\r\ncontent-encoding:\tgzip \r\n\r\n").contentEncoding,
              QStringLiteral("gzip"));
}

TEST(ResponseHeadTexts, LocationAndContentType) {
    const ResponseHead head = Parse(
        "HTTP/1.1 302 Found\r\n"
        "Location:   http://mirror.example/x.zip  \r\n"
        "Content-Type: text/html; charset=iso-8859-1\r\n\r\n");
    EXPECT_EQ(head.location, QStringLiteral("http://mirror.example/x.zip"));
    EXPECT_EQ(head.contentType, QStringLiteral("text/html; charset=iso-8859-1"));

    EXPECT_EQ(Parse("HTTP/1.1 302 Found\r\nlocation: /b\xc3\xa4r\r\n\r\n").location,
              QString::fromUtf8("/b\xc3\xa4r"));
    EXPECT_EQ(Parse("HTTP/1.1 302 Found\r\nLocation:\r\n\r\n").location, QString());
    EXPECT_EQ(Parse("HTTP/1.1 200 OK\r\ncontent-type:text/plain\r\n\r\n").contentType,
              QStringLiteral("text/plain"));
    // Last-Modified in the one form servers send, in UTC, whatever the local zone; else none.
    EXPECT_EQ(Parse("HTTP/1.1 200 OK\r\nlast-modified: Sun, 29 Mar 2026 02:30:07 GMT\r\n\r\n")
                  .lastModified.toSecsSinceEpoch(),
              1774751407);
    EXPECT_FALSE(
        Parse("HTTP/1.1 200 OK\r\nLast-Modified: yesterday\r\n\r\n").lastModified.isValid());
    // That date goes back in If-Range as it came; a strong ETag goes instead, a weak one never.
    const ResponseHead dated = Parse(
        "HTTP/1.1 200 OK\r\nLast-Modified: Sun, 29 Mar 2026 02:30:07 GMT\r\n"
        "ETag: W/\"weak\"\r\n\r\n");
    EXPECT_EQ(IfRangeValue(IdentityOf(dated, -1)), "Sun, 29 Mar 2026 02:30:07 GMT");
    EXPECT_EQ(Parse("HTTP/1.1 200 OK\r\netag:  \"a-1\" \r\n\r\n").etag, QStringLiteral("\"a-1\""));
}

TEST(ResponseHeadTexts, ChunkedOnlyForTheWholeLine) {
    EXPECT_TRUE(Parse("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n").chunked);
    EXPECT_TRUE(Parse("HTTP/1.1 200 OK\r\ntransfer-encoding:\tCHUNKED \r\n\r\n").chunked);
    EXPECT_FALSE(Parse("HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip, chunked\r\n\r\n").chunked);
    EXPECT_TRUE(Parse("HTTP/1.1 200 OK\r\nTransfer-Encoding:chunked\r\n\r\n").chunked);
    // Only ASCII letters fold: a dotless i is not an I.
    EXPECT_FALSE(Parse("HTTP/1.1 200 OK\r\nTransfer-Encod\xc4\xb1ng: chunked\r\n\r\n").chunked);
}

TEST(ResponseHeadFileName, FromContentDisposition) {
    const auto name = [](const char* disposition) {
        return ParseResponseHead(QByteArray("HTTP/1.1 200 OK\r\n") + disposition + "\r\n\r\n")
            .fileName;
    };
    EXPECT_EQ(name("Content-Disposition: attachment; filename=\"a b.zip\""),
              QStringLiteral("a b.zip"));
    EXPECT_EQ(name("Content-Disposition: attachment; filename=x.zip"), QStringLiteral("x.zip"));
    EXPECT_EQ(name("content-disposition: attachment; FileName=Report.PDF"),
              QStringLiteral("Report.PDF"));
    EXPECT_EQ(name("Content-Disposition: attachment; filename=\"a.zip\"; size=5"),
              QStringLiteral("a.zip"));
    // Unquoted, the rest of the line is taken as it stands.
    EXPECT_EQ(name("Content-Disposition: attachment; filename=x.zip; size=5"),
              QStringLiteral("x.zip; size=5"));
    // Quotes before the closing one are dropped, not kept.
    EXPECT_EQ(name("Content-Disposition: attachment; filename=pre\"fix\".zip"),
              QStringLiteral("prefix"));
    EXPECT_EQ(name("Content-Disposition: attachment; filename=\"never closed.zip"),
              QStringLiteral("never closed.zip"));
    EXPECT_EQ(name("Content-Disposition: attachment; filename=\"\xc3\xa9t\xc3\xa9.zip\""),
              QString::fromUtf8("\xc3\xa9t\xc3\xa9.zip"));
    EXPECT_EQ(name("Content-Disposition: attachment; filename=  "), QString());
    EXPECT_EQ(name("Content-Disposition: inline"), QString());
    EXPECT_EQ(name("X-Content-Disposition: attachment; filename=no.zip"), QString());
}

TEST(ResponseHeadOrder, LaterLinesOverrideEarlierOnes) {
    const ResponseHead head = Parse(
        "HTTP/1.1 200 OK\r\n"
        "Content-Length: 10\r\n"
        "Content-Disposition: attachment; filename=first.zip\r\n"
        "Location: /one\r\n"
        "Content-Length: 5368709121\r\n"
        "Content-Disposition: attachment; filename=\"second.zip\"\r\n"
        "Content-Disposition: inline\r\n"
        "Location: /two\r\n\r\n");
    EXPECT_EQ(head.contentLength, 5368709121);
    EXPECT_EQ(head.fileName, QStringLiteral("second.zip"));
    EXPECT_EQ(head.location, QStringLiteral("/two"));
}

TEST(ResponseHeadOrder, OnlyCompleteHeadLinesCount) {
    ResponseHead head = Parse("HTTP/1.1 200 OK\r\nContent-Length: 12");
    EXPECT_FALSE(head.hasContentLength);

    head = Parse("HTTP/1.1 200 OK\r\nContent-Length: 12\r\nLocation: /x");
    EXPECT_EQ(head.contentLength, 12);
    EXPECT_TRUE(head.location.isEmpty());

    // Bare LF line ends work as well as CR LF.
    head = Parse("HTTP/1.1 200 OK\nContent-Length: 7\n\n");
    EXPECT_EQ(head.contentLength, 7);

    // What follows the empty line is body, however much it looks like a header.
    head = Parse(
        "HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nLocation: /evil\r\n"
        "Content-Length: 99\r\n");
    EXPECT_EQ(head.contentLength, 3);
    EXPECT_TRUE(head.location.isEmpty());
}

TEST(ResponseHeadSafety, HostileInput) {
    EXPECT_EQ(ParseResponseHead(QByteArray()), ResponseHead());
    EXPECT_EQ(ParseResponseHead(QByteArray(1 << 20, 'A')).status, 0);
    EXPECT_EQ(ParseResponseHead(QByteArray(1 << 20, '\n')), ResponseHead());
    EXPECT_EQ(ParseResponseHead(QByteArray(1 << 20, '\r')), ResponseHead());

    const QByteArray nuls =
        Bytes("HTTP/1.1 200 OK\r\nLocation: /a\0b\r\nContent-\0Length: 5\r\n\r\n");
    const ResponseHead head = ParseResponseHead(nuls);
    EXPECT_EQ(head.status, 200);
    EXPECT_EQ(head.location, QString::fromUtf8("/a\0b", 4));
    EXPECT_FALSE(head.hasContentLength);

    // Huge lines of each kind the parser looks into.
    const QByteArray big(4 << 20, '9');
    EXPECT_EQ(ParseResponseHead("HTTP/1.1 " + big + "\r\n\r\n").status, INT_MAX);
    EXPECT_EQ(
        ParseResponseHead("HTTP/1.1 200 OK\r\nContent-Length: " + big + "\r\n\r\n").contentLength,
        MaxSizeBytes);
    EXPECT_EQ(
        ParseResponseHead("HTTP/1.1 200 OK\r\nContent-Disposition: " + big + "\r\n\r\n").fileName,
        QString());
    EXPECT_EQ(ParseResponseHead("HTTP/1.1 200 OK\r\nLocation: " + big + "\r\n\r\n").location.size(),
              big.size());
}

TEST(ResponseHeadSafety, RandomBytesKeepTheInvariants) {
    // Fragments the parser reacts to, mixed with arbitrary bytes.
    const QByteArray pieces[] = {"HTTP/1.1 ",
                                 "\r\n",
                                 "\n",
                                 "Content-Length: ",
                                 "Location: ",
                                 "Content-Type: ",
                                 "Content-Disposition: ",
                                 "filename=",
                                 "\"",
                                 "Transfer-Encoding: chunked",
                                 "-",
                                 "9999999999",
                                 "\xff\xfe",
                                 QByteArray(1, '\0'),
                                 " "};
    std::uint32_t state = 12345;
    const auto next = [&state] {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    };
    for (int round = 0; round < 3000; ++round) {
        QByteArray input;
        const int count = static_cast<int>(next() % 24);
        for (int i = 0; i < count; ++i) {
            if (next() % 3 == 0) {
                input += static_cast<char>(next() & 0xff);
            } else {
                input += pieces[next() % std::size(pieces)];
            }
        }
        const ResponseHead head = ParseResponseHead(input);
        ASSERT_GE(head.contentLength, 0);
        ASSERT_LE(head.contentLength, MaxSizeBytes);
        ASSERT_TRUE(head.hasContentLength || head.contentLength == 0);
    }
}

// A reply arrives in pieces of any size: whatever the first chunk holds, only complete head
// lines may shape the result, and a body in the same chunk changes nothing.
TEST(ResponseHeadSplit, EveryCutOfHeadAndBody) {
    const QByteArray headText =
        "HTTP/1.1 206 Partial Content\r\n"
        "Date: Mon, 01 Jan 2024 00:00:00 GMT\r\n"
        "Content-Type: application/zip\r\n"
        "Content-Length: 6442450944\r\n"
        "Content-Disposition: attachment; filename=\"big archive.zip\"\r\n"
        "Location: /moved/big.zip\r\n"
        "Transfer-Encoding: chunked\r\n"
        "\r\n";
    const QByteArray body = Bytes(
        "PK\x03\x04\0\0\r\n\r\nContent-Length: 1\r\n"
        "Location: /elsewhere\nContent-Type: text/html\n\n\xff\0\n");
    const QByteArray full = headText + body;

    const ResponseHead complete = ParseResponseHead(headText);
    EXPECT_EQ(complete.status, 206);
    EXPECT_EQ(complete.contentType, QStringLiteral("application/zip"));
    EXPECT_TRUE(complete.hasContentLength);
    EXPECT_EQ(complete.contentLength, 6442450944);
    EXPECT_EQ(complete.fileName, QStringLiteral("big archive.zip"));
    EXPECT_EQ(complete.location, QStringLiteral("/moved/big.zip"));
    EXPECT_TRUE(complete.chunked);

    const qsizetype statusEnd = headText.indexOf('\n') + 1;
    for (qsizetype cut = 0; cut <= full.size(); ++cut) {
        SCOPED_TRACE(cut);
        const QByteArray prefix = full.left(cut);
        const ResponseHead got = ParseResponseHead(prefix);
        if (cut >= headText.size()) {
            ASSERT_EQ(got, complete);
            continue;
        }
        // Cut inside the head: the same as if the chunk had stopped after its last LF, but the
        // status comes from the status line however far it got.
        ResponseHead expected = ParseResponseHead(prefix.left(prefix.lastIndexOf('\n') + 1));
        expected.status = got.status;
        ASSERT_EQ(got, expected);
        if (cut >= statusEnd) {
            ASSERT_EQ(got.status, 206);
        }
    }
}
