#include "engine/http/http_requests.h"

#include <gtest/gtest.h>

#include "engine/http/base64.h"

namespace {

HttpRequestTarget Plain() {
    HttpRequestTarget t;
    t.host = QStringLiteral("files.example.org");
    t.path = QStringLiteral("/pub/big%20file.iso");
    t.url = QStringLiteral("http://files.example.org:8080/pub/big%20file.iso");
    return t;
}

HttpRequestTarget Full() {
    HttpRequestTarget t = Plain();
    t.user = QStringLiteral("anna");
    t.password = QStringLiteral("s3cret");  // anna:s3cret
    t.referer = QStringLiteral("http://example.org/list.html");
    return t;
}

}  // namespace

TEST(Base64, PaddingAndAlphabet) {
    EXPECT_EQ(Base64(QString()), QByteArray());
    EXPECT_EQ(Base64(QStringLiteral("a")), QByteArray("YQ=="));
    EXPECT_EQ(Base64(QStringLiteral("ab")), QByteArray("YWI="));
    EXPECT_EQ(Base64(QStringLiteral("abc")), QByteArray("YWJj"));
    EXPECT_EQ(Base64(QStringLiteral("abcd")), QByteArray("YWJjZA=="));
    EXPECT_EQ(Base64(QStringLiteral("Aladdin:open sesame")),
              QByteArray("QWxhZGRpbjpvcGVuIHNlc2FtZQ=="));
    // The top of the alphabet and bytes above 127.
    EXPECT_EQ(Base64Bytes(QByteArray("\xfb\xff\xbf", 3)), QByteArray("+/+/"));
    EXPECT_EQ(Base64Bytes(QByteArray("\0\0\0", 3)), QByteArray("AAAA"));
}

TEST(Base64, NonAsciiTextGoesAsUtf8) {
    // "é" is C3 A9 in UTF-8.
    EXPECT_EQ(Base64(QString::fromUtf8("\xc3\xa9")), QByteArray("w6k="));
}

TEST(ProbeRequest, MinimalDirect) {
    EXPECT_EQ(ProbeRequest(Plain()), QByteArray("GET /pub/big%20file.iso HTTP/1.1\r\n"
                                                "Accept: *.*, */*\r\n"
                                                "Connection: Keep-Alive\r\n"
                                                "Host: files.example.org\r\n"
                                                "Range: bytes=0-\r\n"
                                                "\r\n"));
}

TEST(ProbeRequest, RefererBeforeAuthorization) {
    EXPECT_EQ(ProbeRequest(Full()), QByteArray("GET /pub/big%20file.iso HTTP/1.1\r\n"
                                               "Accept: *.*, */*\r\n"
                                               "Connection: Keep-Alive\r\n"
                                               "Host: files.example.org\r\n"
                                               "Referer: http://example.org/list.html\r\n"
                                               "Authorization: Basic YW5uYTpzM2NyZXQ=\r\n"
                                               "Range: bytes=0-\r\n"
                                               "\r\n"));
}

TEST(ProbeRequest, ThroughProxyNamesFullUrlAndDisablesCaches) {
    HttpRequestTarget t = Plain();
    t.proxyHttp = true;
    EXPECT_EQ(ProbeRequest(t),
              QByteArray("GET http://files.example.org:8080/pub/big%20file.iso HTTP/1.1\r\n"
                         "Accept: *.*, */*\r\n"
                         "Connection: Keep-Alive\r\n"
                         "Host: files.example.org\r\n"
                         "Range: bytes=0-\r\n"
                         "Pragma: no-cache\r\n"
                         "Cache-Control: no-cache\r\n"
                         "\r\n"));
}

TEST(ProbeRequest, AuthorizationNeedsUserAndPassword) {
    HttpRequestTarget userOnly = Plain();
    userOnly.user = QStringLiteral("anna");
    HttpRequestTarget passwordOnly = Plain();
    passwordOnly.password = QStringLiteral("s3cret");
    for (const HttpRequestTarget& t : {userOnly, passwordOnly}) {
        EXPECT_FALSE(ProbeRequest(t).contains("Authorization"));
        EXPECT_FALSE(SegmentRequest(t, 0, 9).contains("Authorization"));
        EXPECT_FALSE(WholeFileRequest(t).contains("Authorization"));
        EXPECT_EQ(ProbeRequest(t), ProbeRequest(Plain()));
    }
}

TEST(SegmentRequest, MinimalDirect) {
    EXPECT_EQ(SegmentRequest(Plain(), 0, 1048575), QByteArray("GET /pub/big%20file.iso HTTP/1.1\r\n"
                                                              "Accept: *.*, */*\r\n"
                                                              "Accept-Encoding: \r\n"
                                                              "Connection: Keep-Alive\r\n"
                                                              "Host: files.example.org\r\n"
                                                              "Range: bytes=0-1048575\r\n"
                                                              "\r\n"));
}

TEST(SegmentRequest, AuthorizationBeforeRefererThroughProxyBeyondFourGiB) {
    HttpRequestTarget t = Full();
    t.proxyHttp = true;
    EXPECT_EQ(SegmentRequest(t, 4294967296, 6442450943),
              QByteArray("GET http://files.example.org:8080/pub/big%20file.iso HTTP/1.1\r\n"
                         "Accept: *.*, */*\r\n"
                         "Accept-Encoding: \r\n"
                         "Connection: Keep-Alive\r\n"
                         "Host: files.example.org\r\n"
                         "Authorization: Basic YW5uYTpzM2NyZXQ=\r\n"
                         "Referer: http://example.org/list.html\r\n"
                         "Range: bytes=4294967296-6442450943\r\n"
                         "Pragma: no-cache\r\n"
                         "Cache-Control: no-cache\r\n"
                         "\r\n"));
}

TEST(WholeFileRequest, MinimalDirect) {
    EXPECT_EQ(WholeFileRequest(Plain()), QByteArray("GET /pub/big%20file.iso HTTP/1.1\r\n"
                                                    "Accept: *.*, */*\r\n"
                                                    "Accept-Encoding: \r\n"
                                                    "Connection: Keep-Alive\r\n"
                                                    "Host: files.example.org\r\n"
                                                    "\r\n"));
}

TEST(WholeFileRequest, CredentialsAndRefererBeforeConnection) {
    HttpRequestTarget t = Full();
    t.proxyHttp = true;
    EXPECT_EQ(WholeFileRequest(t),
              QByteArray("GET http://files.example.org:8080/pub/big%20file.iso HTTP/1.1\r\n"
                         "Accept: *.*, */*\r\n"
                         "Accept-Encoding: \r\n"
                         "Authorization: Basic YW5uYTpzM2NyZXQ=\r\n"
                         "Referer: http://example.org/list.html\r\n"
                         "Connection: Keep-Alive\r\n"
                         "Host: files.example.org\r\n"
                         "Pragma: no-cache\r\n"
                         "Cache-Control: no-cache\r\n"
                         "\r\n"));
}

TEST(RequestText, TextsGoAsUtf8) {
    HttpRequestTarget t;
    t.host = QString::fromUtf8(
        "b\xc3\xbc"
        "cher.example");
    t.path = QString::fromUtf8("/\xc3\xa9t\xc3\xa9.zip");
    EXPECT_EQ(WholeFileRequest(t), QByteArray("GET /\xc3\xa9t\xc3\xa9.zip HTTP/1.1\r\n"
                                              "Accept: *.*, */*\r\n"
                                              "Accept-Encoding: \r\n"
                                              "Connection: Keep-Alive\r\n"
                                              "Host: b\xc3\xbc"
                                              "cher.example\r\n"
                                              "\r\n"));
}

TEST(RequestText, LineBreaksInValuesCannotAddHeaders) {
    HttpRequestTarget t = Plain();
    t.referer = QStringLiteral("http://x/\r\nCookie: stolen");
    t.path = QStringLiteral("/a\nX-Evil: 1");
    const QByteArray probe = ProbeRequest(t);
    EXPECT_FALSE(probe.contains("\nCookie"));
    EXPECT_FALSE(probe.contains("\nX-Evil"));
    EXPECT_TRUE(probe.startsWith("GET /aX-Evil: 1 HTTP/1.1\r\n"));
    EXPECT_TRUE(probe.contains("\r\nReferer: http://x/Cookie: stolen\r\n"));
    EXPECT_EQ(probe.count("\r\n"), 7);
}
