#include <gtest/gtest.h>

#include <ostream>

#include "core/urls/address_lines.h"
#include "core/urls/url_scan.h"
#include "tests/support/text_printer.h"

namespace {

QStringList Scan(const char* text) {
    return ScanDroppedUrls(QString::fromUtf8(text));
}

TEST(ScanDroppedUrls, TakesEachAddressOutOfTheWordsAroundIt) {
    EXPECT_EQ(Scan("Get http://a.example/one.zip and http://b.example/two.iso today"),
              (QStringList{"http://a.example/one.zip", "http://b.example/two.iso"}));
    EXPECT_EQ(Scan("http://a.example/x"), QStringList{"http://a.example/x"});
    EXPECT_TRUE(Scan("").isEmpty());
    EXPECT_TRUE(Scan("nothing to fetch here, not even www.example.org").isEmpty());
    EXPECT_TRUE(Scan("HTTP://A.EXAMPLE/X Ftp://b.example/y hTTp://c/").isEmpty())
        << "the schemes are matched with exact case";
}

TEST(ScanDroppedUrls, LineBreaksEndAnAddressOnlyWhenNoBlankFollows) {
    // A blank later in the text wins over the line break before it.
    EXPECT_EQ(Scan("http://a.example/1\r\nhttp://b.example/2 end"),
              (QStringList{"http://a.example/1\r\nhttp://b.example/2", "http://b.example/2"}));
    // Without any blank, each address ends at its own line break, the last at the end.
    EXPECT_EQ(Scan("http://a.example/1\r\nhttp://b.example/2\r\nftp://c.example/3"),
              (QStringList{"http://a.example/1", "http://b.example/2", "ftp://c.example/3"}));
    EXPECT_EQ(Scan("http://a.example/1\r\n"), QStringList{"http://a.example/1"});
    // A lone line feed is no line break here.
    EXPECT_EQ(Scan("http://a.example/1\nhttp://b.example/2"),
              (QStringList{"http://a.example/1\nhttp://b.example/2", "http://b.example/2"}));
}

TEST(ScanDroppedUrls, HttpComesBeforeFtpAndQuotedAddressesCountAgain) {
    EXPECT_EQ(Scan("ftp://f.example/a http://h.example/b ftp://g.example/c"),
              (QStringList{"http://h.example/b", "ftp://f.example/a", "ftp://g.example/c"}));
    EXPECT_EQ(Scan("http://r.example/go?to=http://t.example/file.bin"),
              (QStringList{"http://r.example/go?to=http://t.example/file.bin",
                           "http://t.example/file.bin"}));
    // "sftp://" holds "ftp://" too.
    EXPECT_EQ(Scan("sftp://s.example/x"), QStringList{"ftp://s.example/x"});
    EXPECT_EQ(Scan("http://"), QStringList{"http://"});
}

TEST(ScanDroppedUrls, HttpsComesBetweenHttpAndFtp) {
    struct Case {
        const char* text;
        QStringList found;
    };
    const Case cases[] = {
        {"ftp://f/a https://s/b http://h/c https://t/d",
         {"http://h/c", "https://s/b", "https://t/d", "ftp://f/a"}},
        // "https://" does not hold "http://", so a secure address is found once.
        {"https://s.example/file.iso", {"https://s.example/file.iso"}},
        {"HTTPS://S.EXAMPLE/X Https://s/y", {}},
        {"https://s/go?to=http://t/f.bin", {"http://t/f.bin", "https://s/go?to=http://t/f.bin"}},
        {"https://a/1\r\nhttps://b/2", {"https://a/1", "https://b/2"}},
    };
    for (const Case& c : cases) {
        const QString text = QString::fromUtf8(c.text);
        EXPECT_EQ(ScanDroppedUrls(text), c.found) << c.text;
    }
}

TEST(ScanUriList, ScansEveryLineButTheComments) {
    const QString list = QStringLiteral(
        "# dragged from a browser\r\n"
        "http://a.example/one.zip\r\n"
        "#http://commented.example/out\r\n"
        "ftp://b.example/two.iso\r\n"
        "file:///home/user/notes.txt\r\n"
        "http://c.example/three.bin");
    EXPECT_EQ(ScanUriList(list), (QStringList{"http://a.example/one.zip", "ftp://b.example/two.iso",
                                              "http://c.example/three.bin"}));
    // Lines ended by a bare line feed too; an empty list has none.
    EXPECT_EQ(ScanUriList(QStringLiteral("http://a/1\nhttp://b/2\n")),
              (QStringList{"http://a/1", "http://b/2"}));
    EXPECT_TRUE(ScanUriList(QString()).isEmpty());
}

}  // namespace

// Pasted or imported text: each line one address judged on its own, blank lines ignored.
TEST(CheckAddressLines, EachLineIsAnAddressOrARefusalWithItsReason) {
    const AddressLines lines = CheckAddressLines(QStringLiteral(
        " http://a.example/1.zip \r\n\r\nHTTPS://b.example/2.iso\rhtp://x\nftp://c.example/3\n"
        "http://d.example\nhttp:///e.bin\nhttp://f.example:0/g.bin\nhttp://a.example/1.zip\n"
        "magnet:?xt=urn:btih:ab"));
    EXPECT_EQ(lines.usable,
              (QStringList{"http://a.example/1.zip", "HTTPS://b.example/2.iso", "ftp://c.example/3",
                           "http://a.example/1.zip", "magnet:?xt=urn:btih:ab"}));
    QStringList refused;
    for (const RefusedLine& r : lines.refused) {
        refused << r.line + QStringLiteral(": ") + r.why;
    }
    EXPECT_EQ(refused,
              (QStringList{"htp://x: not an http://, https:// or ftp:// address",
                           "http://d.example: it ends at the server name: a file's address goes "
                           "on with \"/\" and its path",
                           "http:///e.bin: no server name after the scheme",
                           "http://f.example:0/g.bin: the port is not a number from 1 to 65535"}));
}
