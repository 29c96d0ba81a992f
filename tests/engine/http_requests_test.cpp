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
                                                "Accept-Encoding: identity\r\n"
                                                "Connection: Keep-Alive\r\n"
                                                "Host: files.example.org\r\n"
                                                "User-Agent: Brenloft/1\r\n"
                                                "Range: bytes=0-\r\n"
                                                "\r\n"));
}

TEST(ProbeRequest, RefererBeforeAuthorization) {
    EXPECT_EQ(ProbeRequest(Full()), QByteArray("GET /pub/big%20file.iso HTTP/1.1\r\n"
                                               "Accept: *.*, */*\r\n"
                                               "Accept-Encoding: identity\r\n"
                                               "Connection: Keep-Alive\r\n"
                                               "Host: files.example.org\r\n"
                                               "User-Agent: Brenloft/1\r\n"
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
                         "Accept-Encoding: identity\r\n"
                         "Connection: Keep-Alive\r\n"
                         "Host: files.example.org\r\n"
                         "User-Agent: Brenloft/1\r\n"
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
                                                              "Accept-Encoding: identity\r\n"
                                                              "Connection: Keep-Alive\r\n"
                                                              "Host: files.example.org\r\n"
                                                              "User-Agent: Brenloft/1\r\n"
                                                              "Range: bytes=0-1048575\r\n"
                                                              "\r\n"));
}

TEST(SegmentRequest, AuthorizationBeforeRefererThroughProxyBeyondFourGiB) {
    HttpRequestTarget t = Full();
    t.proxyHttp = true;
    t.ifRange = "\"5f3a-1c\"";
    EXPECT_EQ(SegmentRequest(t, 4294967296, 6442450943),
              QByteArray("GET http://files.example.org:8080/pub/big%20file.iso HTTP/1.1\r\n"
                         "Accept: *.*, */*\r\n"
                         "Accept-Encoding: identity\r\n"
                         "Connection: Keep-Alive\r\n"
                         "Host: files.example.org\r\n"
                         "User-Agent: Brenloft/1\r\n"
                         "Authorization: Basic YW5uYTpzM2NyZXQ=\r\n"
                         "Referer: http://example.org/list.html\r\n"
                         "Range: bytes=4294967296-6442450943\r\n"
                         "If-Range: \"5f3a-1c\"\r\n"
                         "Pragma: no-cache\r\n"
                         "Cache-Control: no-cache\r\n"
                         "\r\n"));
}

TEST(WholeFileRequest, MinimalDirect) {
    EXPECT_EQ(WholeFileRequest(Plain()), QByteArray("GET /pub/big%20file.iso HTTP/1.1\r\n"
                                                    "Accept: *.*, */*\r\n"
                                                    "Accept-Encoding: identity\r\n"
                                                    "Connection: Keep-Alive\r\n"
                                                    "Host: files.example.org\r\n"
                                                    "User-Agent: Brenloft/1\r\n"
                                                    "\r\n"));
}

TEST(WholeFileRequest, CredentialsAndRefererBeforeConnection) {
    HttpRequestTarget t = Full();
    t.proxyHttp = true;
    EXPECT_EQ(WholeFileRequest(t),
              QByteArray("GET http://files.example.org:8080/pub/big%20file.iso HTTP/1.1\r\n"
                         "Accept: *.*, */*\r\n"
                         "Accept-Encoding: identity\r\n"
                         "Authorization: Basic YW5uYTpzM2NyZXQ=\r\n"
                         "Referer: http://example.org/list.html\r\n"
                         "Connection: Keep-Alive\r\n"
                         "Host: files.example.org\r\n"
                         "User-Agent: Brenloft/1\r\n"
                         "Pragma: no-cache\r\n"
                         "Cache-Control: no-cache\r\n"
                         "\r\n"));
}

TEST(RequestText, TextsGoAsUtf8AndThePathPercentEncoded) {
    HttpRequestTarget t;
    t.host = QString::fromUtf8(
        "b\xc3\xbc"
        "cher.example");
    t.path = QString::fromUtf8("/\xc3\xa9t\xc3\xa9.zip");
    // The path goes percent-encoded on the request line; the host as UTF-8.
    EXPECT_EQ(WholeFileRequest(t), QByteArray("GET /%C3%A9t%C3%A9.zip HTTP/1.1\r\n"
                                              "Accept: *.*, */*\r\n"
                                              "Accept-Encoding: identity\r\n"
                                              "Connection: Keep-Alive\r\n"
                                              "Host: b\xc3\xbc"
                                              "cher.example\r\n"
                                              "User-Agent: Brenloft/1\r\n"
                                              "\r\n"));
}

TEST(RequestText, LineBreaksInValuesCannotAddHeaders) {
    HttpRequestTarget t = Plain();
    t.referer = QStringLiteral("http://x/\r\nCookie: stolen");
    t.path = QStringLiteral("/a\nX-Evil: 1");
    const QByteArray probe = ProbeRequest(t);
    EXPECT_FALSE(probe.contains("\nCookie"));
    EXPECT_FALSE(probe.contains("\nX-Evil"));
    EXPECT_TRUE(probe.startsWith("GET /aX-Evil:%201 HTTP/1.1\r\n"));
    EXPECT_TRUE(probe.contains("\r\nReferer: http://x/Cookie: stolen\r\n"));
    EXPECT_EQ(probe.count("\r\n"), 9);
}

TEST(RequestText, EveryRequestNamesTheProgramOnceRightAfterHost) {
    for (const HttpRequestTarget& t : {Plain(), Full()}) {
        for (const QByteArray& request :
             {ProbeRequest(t), SegmentRequest(t, 0, 9), WholeFileRequest(t)}) {
            EXPECT_EQ(request.count("User-Agent: "), 1) << request.toStdString();
            EXPECT_TRUE(request.contains("Host: files.example.org\r\nUser-Agent: Brenloft/1\r\n"))
                << request.toStdString();
        }
    }
}

TEST(RequestText, HostCarriesThePortOnlyWhenItIsNotTheSchemesDefault) {
    struct Case {
        bool https;
        std::int32_t port;
        const char* host;
        const char* name = "h.example";
    };
    const Case cases[] = {
        {false, 0, "Host: h.example\r\n"},
        {false, 80, "Host: h.example\r\n"},
        {false, 8080, "Host: h.example:8080\r\n"},
        {false, 443, "Host: h.example:443\r\n"},
        {true, 0, "Host: h.example\r\n"},
        {true, 443, "Host: h.example\r\n"},
        {true, 80, "Host: h.example:80\r\n"},
        {true, 8443, "Host: h.example:8443\r\n"},
        {false, 65535, "Host: h.example:65535\r\n"},
        // An IPv6 address in brackets, as in the address itself.
        {false, 8080, "Host: [::1]:8080\r\n", "::1"},
        {true, 443, "Host: [2001:db8::7]\r\n", "2001:db8::7"},
        {false, 80, "Host: 127.0.0.1\r\n", "127.0.0.1"},
    };
    for (const Case& c : cases) {
        HttpRequestTarget t;
        t.host = QString::fromLatin1(c.name);
        t.path = QStringLiteral("/f");
        t.https = c.https;
        t.port = c.port;
        for (const QByteArray& request :
             {ProbeRequest(t), SegmentRequest(t, 0, 9), WholeFileRequest(t)}) {
            EXPECT_TRUE(request.contains(QByteArray("\r\n") + c.host))
                << c.https << ' ' << c.port << '\n'
                << request.toStdString();
        }
    }
}

TEST(RequestText, NonAsciiSpaceAndControlPathBytesArePercentEncodedOnTheRequestLine) {
    struct Case {
        const char* path;
        bool proxy;
        const char* line;
    };
    const Case cases[] = {
        {"/plain/a%20b.zip?x=1", false, "GET /plain/a%20b.zip?x=1 HTTP/1.1\r\n"},
        {"/\xc3\xa9t\xc3\xa9.zip", false, "GET /%C3%A9t%C3%A9.zip HTTP/1.1\r\n"},
        {"/\xe5\xa0\xb1/\xe5\x91\x8a.pdf", false, "GET /%E5%A0%B1/%E5%91%8A.pdf HTTP/1.1\r\n"},
        // A space or control byte would split or spoil the line; two hex digits always.
        {"/a b\tc\x7f\x01.bin", false, "GET /a%20b%09c%7F%01.bin HTTP/1.1\r\n"},
        // Through the proxy the whole address is the target and gets the same treatment.
        {"/\xc3\xbc.bin", true, "GET https://h/%C3%BC.bin HTTP/1.1\r\n"},
    };
    for (const Case& c : cases) {
        HttpRequestTarget t;
        t.host = QStringLiteral("h");
        t.path = QString::fromUtf8(c.path);
        t.url = QStringLiteral("https://h") + t.path;
        t.https = true;
        t.proxyHttp = c.proxy;
        for (const QByteArray& request :
             {ProbeRequest(t), SegmentRequest(t, 0, 9), WholeFileRequest(t)}) {
            EXPECT_TRUE(request.startsWith(c.line)) << request.toStdString();
            for (const char byte : request) {
                EXPECT_LT(static_cast<unsigned char>(byte), 0x80) << request.toStdString();
            }
        }
    }
}

TEST(RequestText, AnHttpsRefererIsNeverToldToAPlainServer) {
    struct Case {
        const char* referer;
        bool https;
        bool sent;
    };
    const Case cases[] = {
        {"http://example.org/list.html", false, true},
        {"http://example.org/list.html", true, true},
        {"https://example.org/list.html", true, true},
        {"https://example.org/list.html", false, false},
        {"HTTPS://example.org/list.html", false, false},
        {"Https://example.org/list.html", false, false},
        {"ftp://example.org/", false, true},
    };
    for (const Case& c : cases) {
        HttpRequestTarget t = Plain();
        t.referer = QString::fromUtf8(c.referer);
        t.https = c.https;
        for (const bool proxy : {false, true}) {
            t.proxyHttp = proxy;
            for (const QByteArray& request :
                 {ProbeRequest(t), SegmentRequest(t, 0, 9), WholeFileRequest(t)}) {
                EXPECT_EQ(request.contains(QByteArray("\r\nReferer: ") + c.referer + "\r\n"),
                          c.sent)
                    << request.toStdString();
                EXPECT_EQ(request.contains("Referer"), c.sent) << request.toStdString();
            }
        }
    }
}

// A browser's cookies follow the Referer line in each request, once, and cannot smuggle in a
// header of their own; the archive reads, which fetch what the user did not ask for, never
// carry them.
TEST(RequestText, CookiesFollowTheRefererAndCarryNoLineBreaks) {
    HttpRequestTarget t = Full();
    t.cookie = QStringLiteral("sid=a1; theme=dark");
    EXPECT_EQ(ProbeRequest(t), QByteArray("GET /pub/big%20file.iso HTTP/1.1\r\n"
                                          "Accept: *.*, */*\r\n"
                                          "Accept-Encoding: identity\r\n"
                                          "Connection: Keep-Alive\r\n"
                                          "Host: files.example.org\r\n"
                                          "User-Agent: Brenloft/1\r\n"
                                          "Referer: http://example.org/list.html\r\n"
                                          "Cookie: sid=a1; theme=dark\r\n"
                                          "Authorization: Basic YW5uYTpzM2NyZXQ=\r\n"
                                          "Range: bytes=0-\r\n"
                                          "\r\n"));
    const QByteArray pair =
        "Referer: http://example.org/list.html\r\nCookie: sid=a1; theme=dark\r\n";
    EXPECT_TRUE(SegmentRequest(t, 5, 9).contains("Basic YW5uYTpzM2NyZXQ=\r\n" + pair +
                                                 "Range: bytes=5-9\r\n"));
    EXPECT_TRUE(WholeFileRequest(t).contains(pair + "Connection: Keep-Alive\r\n"));
    EXPECT_FALSE(ArchiveRangeRequest(t, 0, 9).contains("Cookie"));

    t.cookie = QStringLiteral("a=1\r\nX-Evil: 1");
    for (const QByteArray& request :
         {ProbeRequest(t), SegmentRequest(t, 0, 9), WholeFileRequest(t)}) {
        EXPECT_EQ(request.count("Cookie: "), 1);
        EXPECT_TRUE(request.contains("\r\nCookie: a=1X-Evil: 1\r\n")) << request.toStdString();
        EXPECT_FALSE(request.contains("\nX-Evil"));
    }
    t.cookie.clear();
    EXPECT_FALSE(ProbeRequest(t).contains("Cookie"));
}

// The remote archive's reads send exactly these lines: the server, or the plain proxy, sees
// the host twice and the range, nothing of the user.
TEST(ArchiveRangeRequest, ExactLinesDirectThroughTheProxyAndToAnIpv6Host) {
    struct Case {
        const char* name;
        HttpRequestTarget target;
        std::int64_t first;
        std::int64_t last;
        const char* expected;
    };
    HttpRequestTarget proxied = Full();
    proxied.proxyHttp = true;
    HttpRequestTarget ipv6 = Plain();
    ipv6.host = QStringLiteral("::1");
    ipv6.port = 8443;
    ipv6.https = true;
    HttpRequestTarget injected = Plain();
    injected.host = QStringLiteral("a.example\r\nCookie: stolen");
    const Case cases[] = {
        {"direct, credentials never sent", Full(), 6442450944, 6442516502,
         "GET /pub/big%20file.iso HTTP/1.1\r\nAccept: *.*, */*\r\nReferer: files.example.org\r\n"
         "Host: files.example.org\r\nRange: bytes=6442450944-6442516502\r\n\r\n"},
        {"plain proxy names the address", proxied, 0, 22,
         "GET http://files.example.org:8080/pub/big%20file.iso HTTP/1.1\r\nAccept: *.*, */*\r\n"
         "Referer: files.example.org\r\nHost: files.example.org\r\nRange: bytes=0-22\r\n\r\n"},
        {"IPv6 host in brackets, no port", ipv6, 100, 146,
         "GET /pub/big%20file.iso HTTP/1.1\r\nAccept: *.*, */*\r\nReferer: [::1]\r\n"
         "Host: [::1]\r\nRange: bytes=100-146\r\n\r\n"},
        {"line breaks in the host add no header", injected, 5, 6,
         "GET /pub/big%20file.iso HTTP/1.1\r\nAccept: *.*, */*\r\n"
         "Referer: [a.exampleCookie: stolen]\r\nHost: [a.exampleCookie: stolen]\r\n"
         "Range: bytes=5-6\r\n\r\n"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ArchiveRangeRequest(c.target, c.first, c.last), QByteArray(c.expected)) << c.name;
    }
}
