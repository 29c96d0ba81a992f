#include <QCryptographicHash>
#include <QFile>

#include "core/download_list/checksum_note.h"
#include "core/download_list/entry_state.h"
#include "engine/checksum/checksum_checks.h"
#include "engine/checksum/checksum_words.h"
#include "engine/checksum/digest_headers.h"
#include "engine/checksum/sums_files.h"
#include "tests/engine/queue_test_harness.h"

using namespace queue_test;
using Outcome = ChecksumNote::Outcome;

namespace {

QString Hex(const QByteArray& bytes, QCryptographicHash::Algorithm algorithm) {
    return QString::fromLatin1(QCryptographicHash::hash(bytes, algorithm).toHex());
}

QString Base64(const QByteArray& bytes, QCryptographicHash::Algorithm algorithm) {
    return QString::fromLatin1(QCryptographicHash::hash(bytes, algorithm).toBase64());
}

}  // namespace

// What users paste and servers send, read at the lowest level: the kinds by name and by length,
// the two headers with their precedence, the sums files' line forms.
TEST(Checksums, WrittenFormsAreReadOrRefused) {
    const QString h64(64, u'a');
    const QString h128(128, u'B');
    EXPECT_EQ(ParseChecksum(QStringLiteral(" sha-256=") + h64),
              (Checksum{DigestKind::Sha256, h64}));
    EXPECT_EQ(ParseChecksum(QStringLiteral("SHA512:") + h128),
              (Checksum{DigestKind::Sha512, h128.toLower()}));
    EXPECT_EQ(ParseChecksum(QString(32, u'0'))->kind, DigestKind::Md5);
    EXPECT_EQ(ParseChecksum(QStringLiteral("sha1 ") + QString(40, u'f'))->kind, DigestKind::Sha1);
    for (const QString& bad :
         {QStringLiteral("sha-256=") + h64.left(63), QStringLiteral("sha-256=") + QString(64, u'g'),
          QStringLiteral("crc32=") + QString(8, u'1'), QString(50, u'a'), QString()}) {
        EXPECT_FALSE(ParseChecksum(bad).has_value()) << bad.toStdString();
    }

    const QByteArray bytes = "the file";
    ResponseHead head;
    head.digest = QStringLiteral("MD5=") + Base64(bytes, QCryptographicHash::Md5);
    head.reprDigest = QStringLiteral("md5=:") + Base64(bytes, QCryptographicHash::Md5) +
                      QStringLiteral(":, sha-256=:") + Base64(bytes, QCryptographicHash::Sha256) +
                      QStringLiteral(":;q=1");
    std::optional<HeaderChecksum> found = ChecksumFromHead(head);
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(found->source, "Repr-Digest");
    EXPECT_EQ(found->checksum.hex, Hex(bytes, QCryptographicHash::Sha256));
    head.reprDigest =
        QStringLiteral("sha-256=") + Base64(bytes, QCryptographicHash::Sha256);  // no colons
    head.digest += QStringLiteral(", SHA=") + Base64(bytes, QCryptographicHash::Sha1);
    found = ChecksumFromHead(head);
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(found->source, "Digest");
    EXPECT_EQ(found->checksum, (Checksum{DigestKind::Sha1, Hex(bytes, QCryptographicHash::Sha1)}));

    const QByteArray sums = "-----BEGIN PGP SIGNED MESSAGE-----\n" + QByteArray(64, 'c') +
                            "  big.iso.torrent\n" + QByteArray(64, 'a') + " *./big.iso\r\n" +
                            "SHA512 (big.iso) = " + QByteArray(128, 'b') + "\n";
    EXPECT_EQ(ChecksumInSums(sums, "big.iso", false),
              (Checksum{DigestKind::Sha512, QString(128, u'b')}));
    EXPECT_EQ(ChecksumInSums(sums.left(sums.indexOf("SHA512")), "big.iso", false),
              (Checksum{DigestKind::Sha256, h64}));
    EXPECT_FALSE(ChecksumInSums(sums, "other.iso", false).has_value());
    EXPECT_EQ(ChecksumInSums(QByteArray(64, 'a') + "\n", "big.iso", true)->hex, h64);
    EXPECT_EQ(ChecksumInSums(QByteArray(64, 'a') + "  renamed.iso\n", "big.iso", true)->hex, h64);
    EXPECT_FALSE(
        ChecksumInSums("<html><body>" + QByteArray(64, 'a') + "</body></html>", "big.iso", true)
            .has_value());
}

// Every source a server may offer, each found and trusted before those after it; a wrong sum,
// none at all, a sums file too large, a web page for every missing file, the look-ups off and a
// checksum the user gave of each kind.
TEST_F(QueueTest, EachChecksumSourceIsTrustedInItsOrder) {
    const QByteArray bytes = RandomBytes(300000);
    const QString sha256 = Hex(bytes, QCryptographicHash::Sha256);
    const QString sha512 = Hex(bytes, QCryptographicHash::Sha512);
    const QByteArray wrongLine = QByteArray(64, 'e') + "  big.bin\n";
    const QByteArray goodLine = sha256.toLatin1() + " *big.bin\n";
    const struct {
        QString folder;
        QList<std::pair<QString, QByteArray>> files;
        QString header;  // nginx add_header line
        QString given;
        Outcome outcome;
        QString source;
        DigestKind kind;
    } rows[] = {
        {"repr",
         {{"big.bin.sha256", wrongLine}},
         "Repr-Digest \"sha-512=:" + Base64(bytes, QCryptographicHash::Sha512) + ":\"",
         {},
         Outcome::Matches,
         "Repr-Digest",
         DigestKind::Sha512},
        {"digest",
         {{"SHA256SUMS", wrongLine}},
         "Digest \"SHA-256=" + Base64(bytes, QCryptographicHash::Sha256) + "\"",
         {},
         Outcome::Matches,
         "Digest",
         DigestKind::Sha256},
        {"sibling",
         {{"big.bin.sha256", goodLine}, {"SHA256SUMS", wrongLine}},
         {},
         {},
         Outcome::Matches,
         "sibling.bin.sha256",
         DigestKind::Sha256},
        {"sums",
         {{"SHA256SUMS", QByteArray(wrongLine).replace("big", "old") + goodLine}},
         {},
         {},
         Outcome::Matches,
         "SHA256SUMS",
         DigestKind::Sha256},
        {"bsd",
         {{"CHECKSUMS", "SHA512 (big.bin) = " + sha512.toLatin1() + "\n"}},
         {},
         {},
         Outcome::Matches,
         "CHECKSUMS",
         DigestKind::Sha512},
        {"wrong",
         {{"SHA256SUMS", QByteArray(64, 'e') + "  big.bin\n"}},
         {},
         {},
         Outcome::Failed,
         "SHA256SUMS",
         DigestKind::Sha256},
        {"none", {}, {}, {}, Outcome::NoneFound, {}, DigestKind::Sha256},
        {"huge",
         {{"SHA256SUMS", QByteArray(MaxSumsFileBytes, '#') + "\n" + goodLine}},
         {},
         {},
         Outcome::NoneFound,
         {},
         DigestKind::Sha256},
        {"page",
         {{"index.html", "<html><body>" + goodLine + "</body></html>"}},
         {},
         {},
         Outcome::NoneFound,
         {},
         DigestKind::Sha256},
        {"md5",
         {{"SHA256SUMS", wrongLine}},
         {},
         Hex(bytes, QCryptographicHash::Md5),
         Outcome::Matches,
         "given",
         DigestKind::Md5},
        {"sha1",
         {},
         {},
         QStringLiteral("SHA-1=") + Hex(bytes, QCryptographicHash::Sha1),
         Outcome::Matches,
         "given",
         DigestKind::Sha1},
        {"sha512",
         {},
         {},
         QStringLiteral("sha512:") + sha512,
         Outcome::Matches,
         "given",
         DigestKind::Sha512},
        {"given-wrong",
         {{"SHA256SUMS", goodLine}},
         {},
         QStringLiteral("sha-256=") + QString(64, u'0'),
         Outcome::Failed,
         "given",
         DigestKind::Sha256},
        {"off", {{"SHA256SUMS", goodLine}}, {}, {}, Outcome::NoneFound, {}, DigestKind::Sha256},
    };
    nginx = std::make_unique<NginxPeer>(served);
    nginx->logRequests();
    // Each row's file has a name of its own ("sums.bin"), so that none is saved under a number.
    const auto named = [](QByteArray text, const QString& folder) {
        return text.replace("big.bin", folder.toLatin1() + ".bin");
    };
    for (const auto& row : rows) {
        ASSERT_TRUE(QDir().mkpath(served + u'/' + row.folder));
        ASSERT_TRUE(WriteFile(
            served + u'/' + row.folder + u'/' + row.folder + QStringLiteral(".bin"), bytes));
        for (const auto& [name, body] : row.files) {
            ASSERT_TRUE(
                WriteFile(served + u'/' + row.folder + u'/' + named(name.toLatin1(), row.folder),
                          named(body, row.folder)));
        }
        if (!row.header.isEmpty()) {
            nginx->addLocation(QStringLiteral("location /") + row.folder +
                               QStringLiteral("/ { add_header ") + row.header +
                               QStringLiteral("; }"));
        }
    }
    nginx->addLocation("location /page/ { try_files $uri /page/index.html; }");
    ASSERT_TRUE(nginx->start()) << nginx->error().toStdString();

    ChecksumChecks checks(engine->ctx, *queue);
    std::map<int, int> results;
    QObject::connect(&checks, &ChecksumChecks::checked, [&](int slot) { ++results[slot]; });
    engine->settings.MaxSimulDownlads = 20;
    std::vector<int> added;
    const auto add = [&](const auto& row) {
        AddRequest request =
            Request(url(u'/' + row.folder + u'/' + row.folder + QStringLiteral(".bin")));
        request.checksum = ParseChecksum(row.given).value_or(Checksum{});
        ScriptedAddPrompts prompts;
        added.push_back(AddDownload(engine->ctx, *queue, prompts, request));
    };
    const auto allChecked = [&] {
        return WaitFor([&] { return results.size() == added.size() && !checks.busy(); },
                       std::chrono::seconds(60));
    };
    // All at once, then the last row alone, with the look-ups turned off.
    std::for_each(std::begin(rows), std::end(rows) - 1, add);
    ASSERT_TRUE(allChecked()) << results.size() << " " << checks.busy();
    engine->settings.ChecksumLookups = FlagFalse;
    add(*(std::end(rows) - 1));
    ASSERT_TRUE(allChecked());
    for (std::size_t i = 0; i < added.size(); ++i) {
        const auto& row = rows[i];
        SCOPED_TRACE(row.folder.toStdString());
        expectFile(added[i], bytes);
        const ChecksumNote note = ReadChecksumNote(record(added[i]));
        EXPECT_EQ(note.outcome, row.outcome) << ChecksumWords(note).toStdString();
        EXPECT_EQ(note.source, row.source);
        if (row.outcome != Outcome::NoneFound) {
            EXPECT_EQ(note.expected.kind, row.kind);
            EXPECT_EQ(note.sha256, sha256);
        }
        EXPECT_EQ(results[added[i]], 1);
    }
    const QString failed = ChecksumWords(ReadChecksumNote(record(added[5])));
    EXPECT_EQ(failed, QStringLiteral("checksum failed: SHA-256 from SHA256SUMS should be ") +
                          QString(64, u'e') + QStringLiteral(", the file's is ") + sha256);
    const QString log = nginx->accessLog().join(u'\n');
    EXPECT_FALSE(log.contains("/off/SHA256SUMS")) << log.toStdString();
    EXPECT_FALSE(log.contains("/repr/repr.bin.sha256")) << log.toStdString();
    EXPECT_TRUE(log.contains("/sums/sums.bin.sha512")) << log.toStdString();
}

// A file of 2 GiB is hashed a piece at a time, telling its progress, and found whole.
TEST_F(QueueTest, ALargeFileIsHashedWithItsProgress) {
    const QString path = box.file("large.iso");
    QFile large(path);
    ASSERT_TRUE(large.open(QIODevice::WriteOnly) && large.resize(std::int64_t(2) << 30));
    large.close();
    const int slot = idle(QStringLiteral("http://127.0.0.1:9/large.iso"));
    DownloadRecord& r = record(slot);
    r.SavePath = path;
    MarkFinished(r);
    ChecksumNote given;
    given.expected = *ParseChecksum(
        QStringLiteral("sha-256=a7c744c13cc101ed66c29f672f92455547889cc586ce6d44fe76ae824958ea51"));
    given.source = ChecksumNote::Given;
    KeepChecksumNote(r, given);

    ChecksumChecks checks(engine->ctx, *queue);
    std::vector<std::int64_t> progress;
    QObject::connect(&checks, &ChecksumChecks::hashing,
                     [&](int, std::int64_t done, std::int64_t total) {
                         EXPECT_EQ(total, std::int64_t(2) << 30);
                         progress.push_back(done);
                     });
    checks.Check(slot);
    ASSERT_TRUE(WaitFor([&] { return !checks.busy(); }, std::chrono::seconds(300)));
    EXPECT_EQ(ReadChecksumNote(r).outcome, Outcome::Matches);
    ASSERT_GE(progress.size(), 2u);
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    EXPECT_EQ(progress.back(), std::int64_t(2) << 30);
}
