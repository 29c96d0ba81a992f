#include <gtest/gtest.h>

#include <optional>

#include "core/download_list/checksum_note.h"
#include "core/download_list/entry_state.h"
#include "core/download_list/resume_rebase.h"
#include "engine/address_change/address_change.h"
#include "engine/address_change/continuation_search.h"
#include "engine/address_change/same_file_check.h"
#include "tests/engine/download_session_test_harness.h"
#include "tests/support/http_fault_server.h"

using namespace session_test;
using Outcome = SameFileVerdict::Outcome;

namespace {

constexpr qsizetype kSize = 1000000;

SameFileVerdict Check(Engine& e, int slot, const QString& url, bool nameMustMatch) {
    SameFileCheck check(e.sockets, e.settings);
    std::optional<SameFileVerdict> verdict;
    QObject::connect(&check, &SameFileCheck::finished,
                     [&](const SameFileVerdict& v) { verdict = v; });
    check.Start(e.record(slot), url, {}, nameMustMatch);
    EXPECT_TRUE(WaitFor([&] { return verdict.has_value(); }));
    return verdict.value_or(SameFileVerdict{});
}

}  // namespace

// A signed address that expires part way: the entry waits for a new one, and only an address
// of the very same file, proved by its size, its ETag and its bytes, takes it on to the end.
TEST(AddressChange, OnlyTheSameFileContinuesAnExpiredDownload) {
    Sandbox box;
    HttpFaultServer server;
    ASSERT_TRUE(server.start(box.file("server.log"))) << server.error().toStdString();
    Engine e(box.path());
    Download& d = e.fetch(server.url("expire-300000-a", kSize, "big.iso"));
    ASSERT_TRUE(WaitClosed({&d}, std::chrono::seconds(20)));
    const DownloadRecord& r = e.record(d);
    ASSERT_TRUE(LinkExpired(r)) << FailureCodeOf(r) << " " << r.BytesDone.bytes();

    const struct {
        QString mode;
        qsizetype size;
        QString name;
        Outcome outcome;
        QString words;
    } rows[] = {
        {"lookalike-b", kSize, "big.iso", Outcome::OtherBytes, "other bytes at byte "},
        {"token-d", kSize - 1, "big.iso", Outcome::OtherSize,
         "another size: 1000000 bytes here, 999999 bytes there"},
        {"retagged-f", kSize, "big.iso", Outcome::OtherVersion,
         "another version of the file: ETag \"s-1000000\" here, \"r-1000000\" there"},
        {"expired-page", kSize, "big.iso", Outcome::WebPage, "gives a web page"},
        {"expire-300000-a", kSize, "big.iso", Outcome::Refused, "403 Forbidden"},
        {"token-e", kSize, "other.iso", Outcome::Same, ""},
    };
    for (const auto& row : rows) {
        const SameFileVerdict v = Check(e, d.slot, server.url(row.mode, row.size, row.name), false);
        EXPECT_EQ(v.outcome, row.outcome) << row.mode.toStdString();
        EXPECT_TRUE(VerdictWords(v).contains(row.words))
            << row.mode.toStdString() << ": " << VerdictWords(v).toStdString();
    }

    // Found by its name among the list's entries; a name of another file is refused.
    ContinuationSearch search(e.list, e.sockets, e.settings);
    int found = 0;
    std::optional<QStringList> none;
    QObject::connect(&search, &ContinuationSearch::found, [&](int slot) { found = slot; });
    QObject::connect(&search, &ContinuationSearch::none,
                     [&](const QStringList& why) { none = why; });
    search.Start(server.url("token-e", kSize, "other.iso"));
    ASSERT_TRUE(WaitFor([&] { return none.has_value(); }));
    EXPECT_TRUE(none->join(u'\n').contains("names another file: other.iso"))
        << none->join(u'\n').toStdString();
    // Without the ETag the old address had: the same bytes prove the same file.
    const QString fresh = server.url("bare-c", kSize, "big.iso");
    search.Start(fresh);
    ASSERT_TRUE(WaitFor([&] { return found != 0; }));
    ASSERT_EQ(found, d.slot);

    const QString expired = r.Url;
    const qint64 kept = r.BytesDone.bytes();
    ChecksumNote given;
    given.expected = *ParseChecksum(QString(32, u'a'));
    KeepChecksumNote(e.record(d), given);
    ASSERT_TRUE(ChangeAddress(e.record(d), fresh));
    EXPECT_EQ(EarlierAddresses(r), QStringList{expired});
    EXPECT_EQ(ReadChecksumNote(r), given);  // kept beside the earlier addresses
    RebaseForResume(e.record(d));
    Download& again = e.start(d.slot);
    ASSERT_TRUE(WaitClosed({&again}));
    ASSERT_TRUE(FileComplete(r));
    EXPECT_EQ(FileSha256(r.SavePath), Sha256(HttpFaultServer::Body("signed", kSize)));
    // The bytes the expired address gave were not asked of the new one (the probe's open range
    // ends at its head).
    qint64 asked = 0;
    QFile log(box.file("server.log"));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    for (const QString& line : QString::fromLatin1(log.readAll()).split(u'\n')) {
        const QStringList f = line.split(u' ');
        if (f.size() == 5 && f[0] == u"GET" && f[1].startsWith(u"/bare-c/") &&
            !f[4].endsWith(u'-')) {
            asked += f[3].toLongLong() - f[2].toLongLong() + 1;
        }
    }
    EXPECT_LE(asked, kSize - kept + 8 * SameFileCheck::CompareBytes);
}
