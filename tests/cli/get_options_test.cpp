// brenloft-get's argument parsing and progress line, without running a download.

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "cli/get_options.h"
#include "cli/progress_lines.h"
#include "core/download_list/records.h"
#include "core/text/text_table.h"
#include "tests/support/text_printer.h"

// The rate and the time left appear once the rate is known.
TEST(GetProgress, RateAndTimeLeftOnlyOnceTheRateIsKnown) {
    TextTable texts;
    texts.set(2, QStringLiteral("MB"));
    DownloadRecord r;
    r.FileName = QStringLiteral("big%20file.iso");
    r.FileSize = Currency::fromBytes(100'000'000);
    r.BytesDone = Currency::fromBytes(1'000'000);
    r.Percent = 1;
    r.RemainingSeconds = 99;
    const QString line =
        QStringLiteral("big file.iso%1   1.0% 0.95 MB / 95.36 MB  ").arg(QString(), 20);
    EXPECT_EQ(ProgressLine(r, std::nullopt, 4, texts), line + QStringLiteral("4 seg"));
    EXPECT_EQ(ProgressLine(r, 1'000'000, 4, texts),
              line + QStringLiteral("0.95 MB/s  01:39 left  4 seg"));
}

TEST(GetOptions, LimitTakesBytesOrKAndMSuffixes) {
    const struct {
        const char* text;
        std::int32_t rate;  // 0: refused
    } cases[] = {
        {"100000", 100000},
        {"500k", 512000},
        {"500K", 512000},
        {"2M", 2097152},
        {"2m", 2097152},
        {"1.5k", 1536},
        {"0.5M", 524288},
        {"1", 1},
        {"0", 0},
        {"0.2", 0},
        {"-5k", 0},
        {"k", 0},
        {"", 0},
        {"2G", 0},
        {"1e6", 0},
        {" 5k", 5120},
        {"1.2.3k", 0},
        {"2048M", 0},
        {"2047M", 2146435072},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const std::optional<std::int32_t> rate = ParseRate(QString::fromLatin1(c.text));
        EXPECT_EQ(rate.value_or(0), c.rate);
        const QString text = QString::fromLatin1(c.text);
        for (const QStringList& given : {QStringList{QStringLiteral("--limit"), text},
                                         QStringList{QStringLiteral("--limit=") + text}}) {
            QString error;
            const auto options = ParseGetOptions(given + QStringList{QStringLiteral("u")}, error);
            EXPECT_EQ(options.has_value(), c.rate != 0) << error.toStdString();
            EXPECT_EQ(options ? options->limit : 0, c.rate);
        }
    }
}

TEST(GetOptions, VerboseIsAFlagNotAnAddress) {
    for (const char* flag : {"-v", "--verbose"}) {
        QString error;
        const auto options =
            ParseGetOptions({QString::fromLatin1(flag), QStringLiteral("http://h/f")}, error);
        ASSERT_TRUE(options) << error.toStdString();
        EXPECT_TRUE(options->verbose);
        EXPECT_EQ(options->urls, QStringList{QStringLiteral("http://h/f")});
    }
}

TEST(GetOptions, HelpAndVersionNeedNoUrlAndEndTheReading) {
    using Show = GetOptions::Show;
    const std::vector<std::pair<QStringList, Show>> cases = {
        {{QStringLiteral("--help")}, Show::Help},
        {{QStringLiteral("-h")}, Show::Help},
        {{QStringLiteral("--version")}, Show::Version},
        {{QStringLiteral("-q"), QStringLiteral("--version"), QStringLiteral("-n"),
          QStringLiteral("99")},
         Show::Version},
        {{QStringLiteral("http://h/f"), QStringLiteral("--help"), QStringLiteral("--user")},
         Show::Help},
        {{QStringLiteral("http://h/f"), QStringLiteral("--help"), QStringLiteral("--bad")},
         Show::Help},
        // A value that happens to read "--help" is the value.
        {{QStringLiteral("-d"), QStringLiteral("--help"), QStringLiteral("http://h/f")},
         Show::Nothing},
    };
    for (const auto& [arguments, show] : cases) {
        SCOPED_TRACE(arguments.join(u' ').toStdString());
        QString error;
        const auto options = ParseGetOptions(arguments, error);
        ASSERT_TRUE(options) << error.toStdString();
        EXPECT_EQ(options->show, show);
    }
}

TEST(GetOptions, CertificateFlags) {
    const QString url = QStringLiteral("http://h/f");
    QString error;
    auto options = ParseGetOptions({url}, error);
    ASSERT_TRUE(options);
    EXPECT_TRUE(options->checkCertificates);
    EXPECT_EQ(options->caCertificate, QString());

    options = ParseGetOptions({QStringLiteral("--no-check-certificate"), url}, error);
    ASSERT_TRUE(options);
    EXPECT_FALSE(options->checkCertificates);

    const QString ca = QStringLiteral(BRENLOFT_SOURCE_DIR "/README.md");  // any readable file
    options = ParseGetOptions({QStringLiteral("--ca-certificate"), ca, url}, error);
    ASSERT_TRUE(options) << error.toStdString();
    EXPECT_EQ(options->caCertificate, ca);

    for (const QStringList& bad :
         {QStringList{QStringLiteral("--ca-certificate"), QStringLiteral("/no/such/ca.pem"), url},
          QStringList{QStringLiteral("--ca-certificate"), QStringLiteral(BRENLOFT_SOURCE_DIR), url},
          QStringList{url, QStringLiteral("--ca-certificate")}}) {
        error.clear();
        EXPECT_FALSE(ParseGetOptions(bad, error)) << bad.join(u' ').toStdString();
        EXPECT_FALSE(error.isEmpty());
    }
}

TEST(GetOptions, SegmentsAndDownloadsAtOnceTakeWholeNumbersInRange) {
    const struct {
        const char* flag;
        const char* text;
        int value;  // 0: refused
    } cases[] = {
        {"-n", "1", 1},          {"-n", "8", 8},
        {"-n", "9", 0},          {"-n", "0", 0},
        {"-j", "1", 1},          {"-j", "4", 4},
        {"-j", "20", 20},        {"-j", "21", 0},
        {"-j", "0", 0},          {"-j", "-2", 0},
        {"-j", "x", 0},          {"-j", "2.5", 0},
        {"--max-tries", "2", 2}, {"--max-tries", "999", 999},
        {"--max-tries", "0", 0}, {"--checksum", "md5=0", 0},
        {"--checksum", "0f", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.flag) + " " + c.text);
        QString error;
        const auto options =
            ParseGetOptions({QString::fromLatin1(c.flag), QString::fromLatin1(c.text),
                             QStringLiteral("http://h/f")},
                            error);
        ASSERT_EQ(options.has_value(), c.value != 0) << error.toStdString();
        if (!options) {
            // The message names the flag and repeats what was given.
            EXPECT_TRUE(error.startsWith(QString::fromLatin1(c.flag) + u' '));
            EXPECT_TRUE(error.contains(u'"' + QString::fromLatin1(c.text) + u'"'));
            continue;
        }
        const std::string flag = c.flag;
        EXPECT_EQ(flag == "-n"   ? options->segments
                  : flag == "-j" ? options->simultaneous
                                 : options->maxTries,
                  c.value);
    }
    QString error;
    const auto plain = ParseGetOptions({QStringLiteral("http://h/f")}, error);
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->simultaneous, 3);
    EXPECT_FALSE(ParseGetOptions({QStringLiteral("http://h/f"), QStringLiteral("-j")}, error));
    EXPECT_EQ(error, QStringLiteral("-j needs a value"));
}

// Checksums go with the addresses in their order; one more than there are addresses is refused.
TEST(GetOptions, ChecksumsGoWithTheAddressesInOrder) {
    const QString md5 = QStringLiteral("0123456789abcdef0123456789ABCDEF");
    const QString sha1 = QString(40, u'e');
    QString error;
    const auto options =
        ParseGetOptions({"--checksum", md5, "u1", "u2", "--checksum=sha1:" + sha1}, error);
    ASSERT_TRUE(options) << error.toStdString();
    EXPECT_EQ(options->checksums,
              (QList<Checksum>{{DigestKind::Md5, md5.toLower()}, {DigestKind::Sha1, sha1}}));
    EXPECT_FALSE(ParseGetOptions({"--checksum", md5, "--checksum", sha1, "u1"}, error));
    EXPECT_EQ(error, "--checksum sha-1=" + sha1 + " has no URL to go with (one per URL, in order)");
}

// The remote control's flags take aria2's names and forms; those that do not go together are
// refused with why.
TEST(GetOptions, RemoteControlFlags) {
    const QString pem = QStringLiteral(BRENLOFT_SOURCE_DIR "/README.md");  // any readable file
    const struct {
        QStringList arguments;
        const char* error;  // empty: taken
    } cases[] = {
        {{"--enable-rpc", "--rpc-listen-port=0", "--rpc-secret", "s"}, ""},
        {{"--enable-rpc=true", "--rpc-secure", "--rpc-certificate", pem, "--rpc-private-key=" + pem,
          "--rpc-listen-all=false", "--rpc-max-request-size=1K"},
         ""},
        {{"--enable-rpc", "--rpc-listen-port", "65536"},
         "--rpc-listen-port takes a port, 0 to 65535, not \"65536\""},
        {{"--enable-rpc=yes"}, "--enable-rpc takes true or false, not \"yes\""},
        {{"--enable-rpc=false"}, "no URL given"},
        {{"--rpc-listen-all", "http://h/f"}, "the --rpc-* options need --enable-rpc"},
        {{"--enable-rpc", "http://h/f"},
         "--enable-rpc takes no URL: its clients add them (aria2.addUri)"},
        {{"--enable-rpc", "--rpc-secure", "--rpc-certificate", pem},
         "--rpc-secure needs --rpc-certificate and --rpc-private-key, and they need it"},
        {{"--enable-rpc", "--rpc-certificate", pem, "--rpc-private-key", pem},
         "--rpc-secure needs --rpc-certificate and --rpc-private-key, and they need it"},
        {{"--enable-rpc", "--rpc-max-request-size", "2G"},
         "--rpc-max-request-size takes bytes, or with K or M (2M), not \"2G\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.join(u' ').toStdString());
        QString error;
        const auto options = ParseGetOptions(c.arguments, error);
        EXPECT_EQ(error, QString::fromLatin1(c.error));
        EXPECT_EQ(options.has_value(), error.isEmpty());
    }
    QString error;
    const auto secure = ParseGetOptions(cases[1].arguments, error);
    ASSERT_TRUE(secure && secure->enableRpc && secure->rpcSecure && !secure->rpc.listenAll);
    EXPECT_EQ(secure->rpc.privateKeyFile, pem);
    EXPECT_EQ(secure->rpc.maxRequestSize, 1024);
}
