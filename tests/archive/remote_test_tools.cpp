#include "tests/archive/remote_test_tools.h"

#include <gtest/gtest.h>

#include "archive/remote/zip_member_fetch.h"
#include "archive/remote/zip_preview_reader.h"
#include "core/download_list/records.h"
#include "core/urls/parse_url.h"

namespace {

// Long enough for a 200 MiB member under the sanitizers on a busy machine.
constexpr std::chrono::minutes kReadDeadline{4};

}  // namespace

const Certificates& TestCertificates() {
    static const Certificates* made = [] {
        auto* c = new Certificates;
        EXPECT_TRUE(c->make()) << c->problem.toStdString();
        return c;
    }();
    return *made;
}

RemoteRig::RemoteRig() {
    engine.sockets.setTlsCaFile(TestCertificates().file(QStringLiteral("ca.pem")));
}

void RemoteRig::useProxy(int port) {
    engine.settings.ProxyHTTP = FlagTrue;
    engine.settings.ProxyServer = QStringLiteral("127.0.0.1");
    // Kept in 16 bits, as the settings store it.
    engine.settings.ProxyPort = static_cast<std::int16_t>(port);
}

RemoteArchive ArchiveAt(const QString& url, qint64 size) {
    const ParsedUrl parsed = ParseUrl(url);
    EXPECT_EQ(parsed.status, UrlValid) << url.toStdString();
    DownloadRecord record;
    record.Protocol = parsed.protocol;
    record.HostName = parsed.host;
    record.Port = parsed.port;
    record.UrlPath = parsed.path;
    record.Url = url;
    record.FileSize = Currency::fromBytes(size);
    return RemoteArchive::fromRecord(record);
}

PreviewOutcome RunPreview(RemoteRig& rig, const RemoteArchive& archive,
                          std::chrono::milliseconds noAnswer) {
    PreviewOutcome outcome;
    ZipPreviewReader reader(rig.engine.sockets, rig.engine.settings, nullptr,
                            rig.engine.ctx.proxyResolver);
    reader.setNoAnswerWait(noAnswer);
    int ends = 0;
    QObject::connect(&reader, &ZipPreviewReader::phaseChanged,
                     [&](int phase) { outcome.phases << phase; });
    QObject::connect(&reader, &ZipPreviewReader::listed, [&] {
        outcome.listed = true;
        ++ends;
    });
    QObject::connect(&reader, &ZipPreviewReader::failed, [&](const RemoteArchiveFailure& f) {
        outcome.failure = f;
        ++ends;
    });
    reader.Start(archive);
    EXPECT_TRUE(WaitFor([&] { return ends > 0; }, kReadDeadline)) << "the preview never ended";
    // Anything late would come from the event loop now.
    WaitFor([] { return false; }, std::chrono::milliseconds(50));
    EXPECT_EQ(ends, 1) << "listed or failed came more than once";
    outcome.readPhase = reader.ReadPhase;
    outcome.readDone = reader.ReadDone;
    outcome.entryCount = reader.EntryCount;
    outcome.directorySize = reader.DirectorySize;
    outcome.location = reader.location();
    outcome.entries = reader.entries();
    return outcome;
}

FetchOutcome RunFetch(RemoteRig& rig, UnzipPrompts& prompts, const RemoteArchive& archive,
                      const QList<ZipEntry>& members, const QString& target, bool recreateFolders,
                      bool overwriteExisting, std::chrono::milliseconds noAnswer) {
    FetchOutcome outcome;
    ZipMemberFetch fetch(rig.engine.sockets, rig.engine.settings, prompts, nullptr,
                         rig.engine.ctx.proxyResolver);
    fetch.setNoAnswerWait(noAnswer);
    int ends = 0;
    QObject::connect(&fetch, &ZipMemberFetch::progress, [&](qint64 done, qint64 total) {
        EXPECT_GE(done, outcome.done) << "progress went back";
        EXPECT_LE(done, total);
        outcome.done = done;
        outcome.total = total;
    });
    QObject::connect(&fetch, &ZipMemberFetch::finished, [&](const UnzipResult& result) {
        outcome.result = result;
        ++ends;
    });
    QObject::connect(&fetch, &ZipMemberFetch::failed, [&](const RemoteArchiveFailure& f) {
        outcome.failure = f;
        ++ends;
    });
    fetch.Start(archive, members, target, recreateFolders, overwriteExisting);
    EXPECT_TRUE(WaitFor([&] { return ends > 0; }, kReadDeadline)) << "the fetch never ended";
    WaitFor([] { return false; }, std::chrono::milliseconds(50));
    EXPECT_EQ(ends, 1) << "finished or failed came more than once";
    return outcome;
}

const char* ReasonName(RemoteArchiveFailure::Reason reason) {
    using Reason = RemoteArchiveFailure::Reason;
    switch (reason) {
        case Reason::NoRanges:
            return "NoRanges";
        case Reason::WrongRange:
            return "WrongRange";
        case Reason::ServerError:
            return "ServerError";
        case Reason::NoAnswer:
            return "NoAnswer";
        case Reason::Connection:
            return "Connection";
        case Reason::Damaged:
            return "Damaged";
        case Reason::Disk:
            return "Disk";
    }
    return "?";
}

std::ostream& operator<<(std::ostream& out, const RemoteArchiveFailure& failure) {
    return out << ReasonName(failure.reason) << " (" << failure.detail.toStdString() << ')';
}

void ExpectSameEntries(const QList<ZipEntry>& got, const QList<ZipEntry>& want) {
    ASSERT_EQ(got.size(), want.size());
    for (qsizetype i = 0; i < got.size(); ++i) {
        const ZipEntry& g = got[i];
        const ZipEntry& w = want[i];
        SCOPED_TRACE(w.name.toStdString());
        EXPECT_EQ(g.name, w.name);
        EXPECT_EQ(g.compressedSize, w.compressedSize);
        EXPECT_EQ(g.uncompressedSize, w.uncompressedSize);
        EXPECT_EQ(g.crc32, w.crc32);
        EXPECT_EQ(g.method, w.method);
        EXPECT_EQ(g.flags, w.flags);
        EXPECT_EQ(g.madeBy, w.madeBy);
        EXPECT_EQ(g.dosTime, w.dosTime);
        EXPECT_EQ(g.dosDate, w.dosDate);
        EXPECT_EQ(g.externalAttributes, w.externalAttributes);
        EXPECT_EQ(g.localHeaderOffset, w.localHeaderOffset);
    }
}
