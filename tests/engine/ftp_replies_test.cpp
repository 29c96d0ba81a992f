#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "engine/ftp/ftp_replies.h"
#include "engine/ftp/ftp_values.h"

namespace {

// Feeds the pieces in turn and returns every reply they complete.
std::vector<FtpReply> Read(FtpReplyReader& reader, std::initializer_list<QByteArray> pieces) {
    std::vector<FtpReply> replies;
    for (const QByteArray& piece : pieces) {
        EXPECT_TRUE(reader.feed(piece, replies));
    }
    return replies;
}

}  // namespace

TEST(FtpReplyReader, RepliesSplitOverReadsAreTakenOnceWhole) {
    FtpReplyReader reader;
    auto replies = Read(reader, {"22", "0 ready\r", "\n331 Pass", "word please\r\n200 partial"});
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[0].code, 220);
    EXPECT_EQ(replies[0].text, "220 ready");
    EXPECT_EQ(replies[1].code, 331);
    EXPECT_EQ(replies[1].text, "331 Password please");
    // The unfinished reply completes with its line end; a bare LF ends a line as well.
    replies = Read(reader, {"\n150 x\n"});
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[0].text, "200 partial");
    EXPECT_EQ(replies[1].code, 150);
}

TEST(FtpReplyReader, MultiLineRepliesCountAsOne) {
    FtpReplyReader reader;
    const auto replies = Read(reader, {"230-Welcome\r\n", "   230 is not the end\r\n",
                                       "230-still inside\r\n220 another code inside\r\n",
                                       "230 Login successful.\r\n257 \"/\" is cwd\r\n"});
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[0].code, 230);
    EXPECT_EQ(replies[0].firstLine(), "230-Welcome");
    EXPECT_TRUE(replies[0].text.endsWith("230 Login successful."));
    EXPECT_EQ(replies[1].code, 257);
}

TEST(FtpReplyReader, EndlessRepliesAreRefused) {
    FtpReplyReader reader;
    std::vector<FtpReply> replies;
    const QByteArray line(1000, 'x');
    bool ok = true;
    for (int i = 0; i < 100 && ok; ++i) {
        ok = reader.feed(line, replies);  // no line end ever
    }
    EXPECT_FALSE(ok);
    reader.reset();
    ok = reader.feed("230-start\r\n", replies);
    for (int i = 0; i < 100 && ok; ++i) {
        ok = reader.feed(line + "\r\n", replies);  // a multi-line reply that never closes
    }
    EXPECT_FALSE(ok);
    EXPECT_TRUE(replies.empty());
    reader.reset();
    EXPECT_TRUE(reader.feed("220 ok\r\n", replies));
    EXPECT_EQ(replies.size(), 1u);
}

TEST(FtpValues, PassiveAddresses) {
    auto address = ParsePassiveReply("227 Entering Passive Mode (192,168,1,2,7,138).");
    ASSERT_TRUE(address);
    EXPECT_EQ(address->host, "192.168.1.2");
    EXPECT_EQ(address->port, 1930);
    // Numbers are rounded down and taken modulo 256; no parentheses is allowed too.
    address = ParsePassiveReply("227 =127,0,0,1,263.9,-1");
    ASSERT_TRUE(address);
    EXPECT_EQ(address->host, "127.0.0.1");
    EXPECT_EQ(address->port, 7 * 256 + 255);
    EXPECT_FALSE(ParsePassiveReply("227 Entering Passive Mode (127,0,0,1,4)"));
    EXPECT_FALSE(ParsePassiveReply("227 (127,0,0,1,x,5)"));
    EXPECT_FALSE(ParsePassiveReply("227 (127,0,0,1,0,0)"));
    EXPECT_FALSE(ParsePassiveReply("227 junk"));
    // An IPv6 server's PASV answer has no four numbers to give.
    EXPECT_FALSE(ParsePassiveReply("227 Entering passive mode (::1,195,80)."));
}

TEST(FtpValues, ExtendedPassivePorts) {
    EXPECT_STREQ(PassiveCommand(QStringLiteral("127.0.0.1")), "PASV");
    EXPECT_STREQ(PassiveCommand(QStringLiteral("::1")), "EPSV");
    const auto port = [](const char* line) {
        return ParseExtendedPassiveReply(line).value_or(PassiveAddress{}).port;
    };
    EXPECT_EQ(port("229 Entering Extended Passive Mode (|||6446|)"), 6446);
    EXPECT_EQ(port("229 Extended passive (!!!65535!)."), 65535);
    for (const char* bad : {"229 (|||0|)", "229 (|||65536|)", "229 (|||-5|)", "229 (|2|::1|6446|)",
                            "229 (|||6446)", "229 (||||)", "229 |||6446|", "229 (|||6446|"}) {
        EXPECT_EQ(port(bad), 0) << bad;
    }
}

TEST(FtpValues, DirectoriesSizesAndCommands) {
    EXPECT_EQ(PwdDirectory("257 \"/pub/files/\" is the current directory"), "/pub/files");
    EXPECT_EQ(PwdDirectory("257 \"/\" is cwd"), "");
    EXPECT_EQ(PwdDirectory("257 \"/a \"quoted\" dir\""), "/a \"quoted\" dir");
    EXPECT_EQ(PwdDirectory("257 no quotes"), "");
    EXPECT_EQ(SizeReplyValue("213 5000000"), 5000000);
    EXPECT_EQ(SizeReplyValue("213 junk"), 0);
    EXPECT_EQ(SizeReplyValue("213 -5"), 0);
    EXPECT_EQ(SizeReplyValue("213 99999999999999999999999"), INT64_MAX / 10000);
    EXPECT_EQ(OpeningReplySize("150 Opening BINARY mode data connection for /a (b) (1234 bytes)."),
              1234);
    EXPECT_EQ(OpeningReplySize("150 File status okay."), 0);
    EXPECT_EQ(FtpPathBytes("/my%20files/caf%C3%A9.zip"), "/my files/caf\xc3\xa9.zip");
    // A decoded line end cannot start a second command.
    EXPECT_EQ(FtpCommand("RETR", FtpPathBytes("/a%0D%0ADELE%20b")), "RETR /aDELE b\r\n");
    EXPECT_EQ(FtpCommand("PASV"), "PASV\r\n");
    EXPECT_EQ(std::strlen(kAnonymousPassword), 21u);
}
