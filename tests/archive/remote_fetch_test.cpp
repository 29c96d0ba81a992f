#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <functional>
#include <memory>

#include "archive/remote/zip_member_fetch.h"
#include "tests/archive/archive_test_tools.h"
#include "tests/archive/remote_test_tools.h"
#include "tests/support/http_fault_server.h"
#include "tests/support/nginx_peer.h"
#include "tests/support/sandbox.h"
#include "tests/support/test_files.h"

// Members fetched alone from a server land as extracting the downloaded archive puts them:
// same files, same bits, same skips and questions, nothing outside the folder, no temporary
// file left, whatever the archive or the connection does.

namespace {

using Reason = RemoteArchiveFailure::Reason;
using namespace UnzipCode;

struct Served {
    QString archive;  // the local copy
    RemoteArchive remote;
    QList<ZipEntry> entries;
};

// Lists the archive as the window would, through the preview.
Served Preview(RemoteRig& rig, const QString& url, const QString& local) {
    Served served{local, ArchiveAt(url, QFileInfo(local).size()), {}};
    const PreviewOutcome outcome = RunPreview(rig, served.remote);
    EXPECT_TRUE(outcome.listed) << (outcome.failure ? *outcome.failure : RemoteArchiveFailure{});
    served.entries = outcome.entries;
    return served;
}

QStringList Names(const QList<ZipEntry>& entries) {
    QStringList names;
    for (const ZipEntry& e : entries) {
        names << e.name;
    }
    return names;
}

bool AnyTemporary(const QString& folder) {
    for (const QString& path : TreeOf(folder).keys()) {
        if (QFileInfo(path).fileName().startsWith(QStringLiteral(".brenloft-unzip-"))) {
            return true;
        }
    }
    return false;
}

struct FetchCase {
    const char* name;
    // extraction_samples.py's arguments before OUT, and what follows it ("outside" and
    // "source" name the sandbox's folders).
    QStringList kind;
    QString after;
    // The members chosen; all when empty.
    std::function<bool(const ZipEntry&)> chosen = {};
    bool recreateFolders = true;
    bool overwriteExisting = false;
    QStringList existing = {};  // files in the target beforehand, holding "old"
    std::deque<ReplaceAnswer> answers = {};
    bool plantLink = false;  // "link" in the target leads outside
    // Compared with extracting the local copy; else `code` and `message` are expected.
    bool asExtraction = true;
    int code = kOk;
    const char* message = "";
};

bool Method(const ZipEntry& e, quint16 method) {
    return !e.isFolder() && e.method == method;
}

TEST(RemoteFetch, MembersLandAsExtractingTheDownloadedArchivePutsThem) {
    const QString mixed = QStringLiteral("mixed");
    const QString source = QStringLiteral("source");
    const QString outside = QStringLiteral("outside");
    const FetchCase cases[] = {
        {"every member", {mixed}, source},
        {"the stored members", {mixed}, source, [](const ZipEntry& e) { return Method(e, 0); }},
        {"the deflated members, folders not recreated",
         {mixed},
         source,
         [](const ZipEntry& e) { return Method(e, 8); },
         false},
        {"existing files: replace, then keep",
         {mixed},
         source,
         {},
         true,
         false,
         {"plain.txt", "deep/er/folder/note.txt"},
         {ReplaceAnswer::Replace, ReplaceAnswer::Keep}},
        {"existing files: keep all after the first question",
         {mixed},
         source,
         {},
         true,
         false,
         {"plain.txt", "run.sh", "deep/er/folder/note.txt"},
         {ReplaceAnswer::KeepAll}},
        {"existing files replaced without asking",
         {mixed},
         source,
         {},
         true,
         true,
         {"plain.txt", "deep/er/folder/note.txt"}},
        {"a name with ..", {"dotdot"}, outside},
        {"an absolute name", {"absolute"}, outside},
        {"a backslash", {"backslash"}, outside},
        {"a NUL, a newline, an escape in names", {"control_names"}, outside},
        {"a symbolic link", {"symlink"}, outside},
        {"a symbolic link planted before", {"symlink"}, outside, {}, true, false, {}, {}, true},
        {"a device", {"device"}, outside},
        {"set-user-id bits", {"setuid"}, outside},
        {"a member inflating past its size", {"bomb"}, outside},
        {"a CRC that does not match", {"crc"}, outside},
        {"data that cannot be inflated", {"bad_deflate"}, outside},
        {"a local header longer than guessed", {"long_extra"}, outside},
        {"bzip2",
         {"bzip2"},
         outside,
         {},
         true,
         false,
         {},
         {},
         false,
         false,
         kUnsupported,
         "packed.txt: compression method 12 not supported"},
    };
    for (const FetchCase& c : cases) {
        SCOPED_TRACE(c.name);
        Sandbox box;
        ASSERT_TRUE(QDir().mkpath(box.file(QStringLiteral("served"))));
        ASSERT_TRUE(QDir().mkpath(box.file(outside)));
        if (c.after == source) {
            MakeSourceTree(box.file(source));
        }
        const QString local = box.file(QStringLiteral("served/a.zip"));
        ASSERT_TRUE(MakeSample(c.kind + QStringList{local, box.file(c.after)}, box.path()));
        NginxPeer nginx(box.file(QStringLiteral("served")));
        ASSERT_TRUE(nginx.start()) << nginx.error().toStdString();
        RemoteRig rig;
        const Served served = Preview(rig, nginx.url(QStringLiteral("/a.zip")), local);
        QList<ZipEntry> chosen;
        for (const ZipEntry& e : served.entries) {
            if (!c.chosen || c.chosen(e)) {
                chosen << e;
            }
        }
        ASSERT_FALSE(chosen.isEmpty());

        // The same start for both: the files already there, a link planted.
        const QString remote = box.file(QStringLiteral("remote"));
        const QString extracted = box.file(QStringLiteral("extracted"));
        for (const QString& target : {remote, extracted}) {
            for (const QString& name : c.existing) {
                ASSERT_TRUE(QDir().mkpath(QFileInfo(target + u'/' + name).path()));
                ASSERT_TRUE(WriteFile(target + u'/' + name, "old"));
            }
            if (c.plantLink) {
                ASSERT_TRUE(QDir().mkpath(target));
                ASSERT_TRUE(QFile::link(box.file(outside), target + QStringLiteral("/link")));
            }
        }
        ScriptedUnzipPrompts prompts;
        prompts.replaceAnswers = c.answers;
        const FetchOutcome fetched = RunFetch(rig, prompts, served.remote, chosen, remote,
                                              c.recreateFolders, c.overwriteExisting);
        ASSERT_TRUE(fetched.result.has_value()) << *fetched.failure;
        const UnzipResult& result = *fetched.result;
        EXPECT_TRUE(prompts.replaceAnswers.empty()) << "questions not asked";
        EXPECT_FALSE(AnyTemporary(remote));
        EXPECT_TRUE(TreeOf(box.file(outside)).isEmpty());

        if (!c.asExtraction) {
            EXPECT_EQ(result.code, c.code);
            EXPECT_TRUE(result.messages.join(u'\n').contains(QLatin1String(c.message)))
                << result.messages.join(u'\n').toStdString();
            continue;
        }
        UnzipOptions options = UnzipOptions::ForUpdate(local, extracted);
        options.recreateFolders = c.recreateFolders;
        options.overwriteExisting = c.overwriteExisting;
        options.askBeforeOverwriting = 1;
        if (c.chosen) {
            options.includeNames = Names(chosen);
        }
        ScriptedUnzipPrompts extractionPrompts;
        extractionPrompts.replaceAnswers = c.answers;
        const UnzipResult expected = UnzipArchive(options, extractionPrompts);
        EXPECT_EQ(result.code, expected.code)
            << result.messages.join(u'\n').toStdString() << "\nextraction:\n"
            << expected.messages.join(u'\n').toStdString();
        EXPECT_EQ(result.members, expected.members);
        EXPECT_EQ(result.messages.size(), expected.messages.size())
            << result.messages.join(u'\n').toStdString();
        EXPECT_EQ(TreeOf(remote), TreeOf(extracted));
        QStringList asked = prompts.replaceQuestions;
        asked.replaceInStrings(remote, extracted);
        EXPECT_EQ(asked, extractionPrompts.replaceQuestions);
        if (expected.code == kOk && result.members.size() == chosen.size()) {
            EXPECT_EQ(fetched.done, fetched.total);
        }
        // Each file keeps the member's time.
        for (const ZipEntry& e : chosen) {
            const QFileInfo written(remote + u'/' + e.name);
            if (c.recreateFolders && written.isFile() && !c.existing.contains(e.name)) {
                EXPECT_EQ(written.lastModified(), e.modified()) << e.name.toStdString();
            }
        }
    }
}

// Encrypted members are not fetched: nothing of them is asked from the server.
TEST(RemoteFetch, EncryptedMembersAreSkipped) {
    Sandbox box;
    const QString served = box.file(QStringLiteral("served"));
    const QString tree = box.file(QStringLiteral("tree"));
    ASSERT_TRUE(QDir().mkpath(served) && QDir().mkpath(tree + QStringLiteral("/docs")));
    ASSERT_TRUE(
        WriteFile(tree + QStringLiteral("/docs/a.txt"), QByteArray("secret\n").repeated(99)));
    ASSERT_TRUE(WriteFile(tree + QStringLiteral("/b.bin"), RandomBytes(1000)));
    ASSERT_EQ(
        RunTool(QStringLiteral("zip"),
                {"-q", "-r", "-P", "secret", served + QStringLiteral("/e.zip"), "docs", "b.bin"},
                tree),
        0);
    NginxPeer nginx(served);
    nginx.logRequests();
    ASSERT_TRUE(nginx.start()) << nginx.error().toStdString();
    RemoteRig rig;
    const Served archive = Preview(rig, nginx.url(QStringLiteral("/e.zip")), served + "/e.zip");
    const auto before = nginx.accessLog().size();
    ScriptedUnzipPrompts prompts;
    const FetchOutcome fetched =
        RunFetch(rig, prompts, archive.remote, archive.entries, box.file(QStringLiteral("out")));
    ASSERT_TRUE(fetched.result.has_value());
    EXPECT_EQ(fetched.result->code, kWarning);
    EXPECT_EQ(fetched.result->members, QStringList{"docs/"});
    EXPECT_EQ(fetched.result->messages,
              QStringList({"docs/a.txt: encrypted, skipped: download the whole archive to open it",
                           "b.bin: encrypted, skipped: download the whole archive to open it"}));
    EXPECT_TRUE(prompts.passwordQuestions.isEmpty());
    EXPECT_EQ(TreeOf(box.file(QStringLiteral("out"))).keys(), QStringList{"docs"});
    EXPECT_EQ(nginx.accessLog().size(), before);
}

// A stored member of 300 KiB alone in its archive, behind a server that fails on its data:
// the half-written file goes, earlier members stay, and an abort leaves nothing either.
TEST(RemoteFetch, ABrokenConnectionOrAnAbortLeavesNoHalfFile) {
    Sandbox box;
    const QString served = box.file(QStringLiteral("served"));
    const QString one = box.file(QStringLiteral("one"));
    const QString many = box.file(QStringLiteral("many"));
    ASSERT_TRUE(QDir().mkpath(served) && QDir().mkpath(one));
    ASSERT_TRUE(WriteFile(one + QStringLiteral("/a.bin"), RandomBytes(300 * 1024)));
    MakeSourceTree(many);
    ASSERT_TRUE(MakeSample({QStringLiteral("mixed"), served + "/one.zip", one}, box.path()));
    ASSERT_TRUE(MakeSample({QStringLiteral("mixed"), served + "/many.zip", many}, box.path()));
    const QString log = box.file(QStringLiteral("faults.log"));
    HttpFaultServer faults(served, 100);
    ASSERT_TRUE(faults.start(log)) << faults.error().toStdString();
    NginxPeer nginx(served);
    ASSERT_TRUE(nginx.start()) << nginx.error().toStdString();
    RemoteRig rig;
    const Served single = Preview(rig, nginx.url(QStringLiteral("/one.zip")), served + "/one.zip");
    const Served several =
        Preview(rig, nginx.url(QStringLiteral("/many.zip")), served + "/many.zip");
    ASSERT_EQ(single.entries.size(), 1);
    ASSERT_EQ(several.entries.value(0).name, QStringLiteral("empty"));
    // The fault server fails the first read that does not start at byte 0, once for each
    // address: for one.zip its member's data, for many.zip the second member's header.
    const auto at = [&](const RemoteArchive& archive, const QString& mode, const QString& name) {
        RemoteArchive moved = archive;
        moved.url = faults.url(QStringLiteral("/%1/%2").arg(mode, name));
        moved.urlPath = QStringLiteral("/%1/%2").arg(mode, name);
        moved.port = faults.port();
        return moved;
    };
    const struct {
        const char* name;
        RemoteArchive archive;
        QList<ZipEntry> members;
        Reason reason;
        QStringList left;
    } cases[] = {
        {"reset inside the data",
         at(single.remote, "reset", "one.zip"),
         single.entries,
         Reason::Connection,
         {}},
        {"stall inside the data",
         at(single.remote, "stall", "one.zip"),
         single.entries,
         Reason::NoAnswer,
         {}},
        {"reset at the second member",
         at(several.remote, "reset", "many.zip"),
         several.entries,
         Reason::Connection,
         {"empty"}},
        {"no such archive (404)",
         at(several.remote, "plain", "gone.zip"),
         several.entries,
         Reason::ServerError,
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString target = box.file(QStringLiteral("out-") + QLatin1String(c.name));
        ScriptedUnzipPrompts prompts;
        // Short for the stall; the reset comes half a second after the first bytes.
        const auto wait = c.reason == Reason::NoAnswer ? std::chrono::milliseconds(400)
                                                       : ZipRangeRequest::kNoAnswerWait;
        const FetchOutcome fetched =
            RunFetch(rig, prompts, c.archive, c.members, target, true, false, wait);
        ASSERT_TRUE(fetched.failure.has_value());
        EXPECT_EQ(ReasonName(fetched.failure->reason), std::string(ReasonName(c.reason)))
            << *fetched.failure;
        EXPECT_EQ(TreeOf(target).keys(), c.left);
    }

    for (const bool destroy : {false, true}) {
        SCOPED_TRACE(destroy ? "destroyed" : "aborted");
        const QString name =
            destroy ? QStringLiteral("one-destroyed.zip") : QStringLiteral("one-aborted.zip");
        ASSERT_TRUE(QFile::copy(served + "/one.zip", served + u'/' + name));
        const QString target = box.file(QStringLiteral("out-") + name);
        ScriptedUnzipPrompts prompts;
        auto fetch =
            std::make_unique<ZipMemberFetch>(rig.engine.sockets, rig.engine.settings, prompts);
        fetch->setNoAnswerWait(std::chrono::milliseconds(300));
        int reports = 0;
        QObject::connect(fetch.get(), &ZipMemberFetch::finished,
                         [&](const UnzipResult&) { ++reports; });
        QObject::connect(fetch.get(), &ZipMemberFetch::failed,
                         [&](const RemoteArchiveFailure&) { ++reports; });
        fetch->Start(at(single.remote, QStringLiteral("stall"), name), single.entries, target, true,
                     false);
        // The data's read is under way: its temporary file is there.
        ASSERT_TRUE(WaitFor([&] { return AnyTemporary(target); }));
        if (destroy) {
            fetch.reset();
        } else {
            fetch->Abort();
        }
        EXPECT_FALSE(AnyTemporary(target));
        WaitFor([] { return false; }, std::chrono::milliseconds(500));
        EXPECT_EQ(reports, 0);
        EXPECT_TRUE(TreeOf(target).isEmpty());
    }
}

// Members declaring more than the folder can hold: nothing is asked, nothing written.
TEST(RemoteFetch, MembersLargerThanTheFreeSpaceAreRefusedBeforeAnyRead) {
    Sandbox box;
    ASSERT_TRUE(QDir().mkpath(box.file(QStringLiteral("served"))));
    const QString local = box.file(QStringLiteral("served/huge.zip"));
    ASSERT_TRUE(
        MakeSample({QStringLiteral("huge"), local, box.file(QStringLiteral("x"))}, box.path()));
    NginxPeer nginx(box.file(QStringLiteral("served")));
    nginx.logRequests();
    ASSERT_TRUE(nginx.start()) << nginx.error().toStdString();
    RemoteRig rig;
    const Served served = Preview(rig, nginx.url(QStringLiteral("/huge.zip")), local);
    const auto before = nginx.accessLog().size();
    ScriptedUnzipPrompts prompts;
    const FetchOutcome fetched =
        RunFetch(rig, prompts, served.remote, served.entries, box.file(QStringLiteral("out")));
    ASSERT_TRUE(fetched.failure.has_value());
    EXPECT_EQ(fetched.failure->reason, Reason::Disk);
    EXPECT_TRUE(fetched.failure->detail.contains(QStringLiteral("free"))) << *fetched.failure;
    EXPECT_TRUE(TreeOf(box.file(QStringLiteral("out"))).isEmpty());
    EXPECT_EQ(nginx.accessLog().size(), before);
}

// What nginx's log says of the requests after `from`: their count, the bytes sent, and whether
// each was a range answered as one.
struct Sent {
    qsizetype requests = 0;
    qint64 bytes = 0;
    bool allRanges = true;
};
Sent SentSince(const QStringList& log, qsizetype from) {
    Sent sent;
    static const QRegularExpression line(QStringLiteral(R"re(^(\d+) (\d+) "([^"]*)" )re"));
    for (qsizetype i = from; i < log.size(); ++i) {
        const QRegularExpressionMatch m = line.match(log[i]);
        ++sent.requests;
        sent.bytes += m.captured(2).toLongLong();
        sent.allRanges = sent.allRanges && m.hasMatch() && m.captured(1) == u"206" &&
                         m.captured(3).startsWith(u"bytes=");
    }
    return sent;
}

// The archive of a 256 MiB member, made once in the build tree and kept for later runs.
QString BigArchive() {
    const QString folder = QStringLiteral(BRENLOFT_BINARY_DIR "/test-data/remote-zip");
    const QString path = folder + QStringLiteral("/big.zip");
    if (QFileInfo::exists(path)) {
        return path;
    }
    const QString making = folder + QStringLiteral("/big.zip.making");
    if (!QDir().mkpath(folder) ||
        !MakeSample({QStringLiteral("big"), making, QStringLiteral("256")}, folder) ||
        !QFile::rename(making, path)) {
        return {};
    }
    return path;
}

// SHA-256 (hex) of what `unzip -p` gives for the member, read as it comes.
QByteArray UnzipPrintSha256(const QString& archive, const QString& member) {
    QProcess unzip;
    unzip.start(QStringLiteral("unzip"), {QStringLiteral("-p"), archive, member});
    QCryptographicHash hash(QCryptographicHash::Sha256);
    const QDeadlineTimer deadline(std::chrono::minutes(5));
    while (unzip.state() != QProcess::NotRunning && !deadline.hasExpired()) {
        unzip.waitForReadyRead(1000);
        hash.addData(unzip.readAllStandardOutput());
    }
    hash.addData(unzip.readAllStandardOutput());
    if (unzip.state() != QProcess::NotRunning || unzip.exitStatus() != QProcess::NormalExit ||
        unzip.exitCode() != 0) {
        return {};
    }
    return hash.result().toHex();
}

// From an archive of about 200 MiB a small member and the big one are fetched alone: each is
// what unzip gives, and the server sent little more than the member's compressed bytes.
TEST(RemoteFetch, TwoHundredMiBArchiveGivesUpOnlyTheMemberAsked) {
    const QString archive = BigArchive();
    ASSERT_FALSE(archive.isEmpty());
    Sandbox box;
    NginxPeer nginx(QFileInfo(archive).path());
    nginx.logRequests();
    ASSERT_TRUE(nginx.start()) << nginx.error().toStdString();
    RemoteRig rig;
    const Served served = Preview(rig, nginx.url(QStringLiteral("/big.zip")), archive);
    ASSERT_EQ(Names(served.entries), QStringList({"first.txt", "big.bin", "last.txt"}));
    EXPECT_GT(served.remote.fileSize, 190 * 1024 * 1024);
    const Sent preview = SentSince(nginx.accessLog(), 0);
    EXPECT_EQ(preview.requests, 2);
    EXPECT_TRUE(preview.allRanges);
    EXPECT_LT(preview.bytes, 80 * 1024);

    for (const qsizetype which : {2, 1}) {
        const ZipEntry& member = served.entries[which];
        SCOPED_TRACE(member.name.toStdString());
        const auto before = nginx.accessLog().size();
        const QString target = box.file(QStringLiteral("out"));
        ScriptedUnzipPrompts prompts;
        const FetchOutcome fetched =
            RunFetch(rig, prompts, served.remote, {member}, target, true, false);
        ASSERT_TRUE(fetched.result.has_value()) << *fetched.failure;
        EXPECT_EQ(fetched.result->code, kOk) << fetched.result->messages.join(u'\n').toStdString();
        EXPECT_EQ(fetched.done, qint64(member.compressedSize));
        EXPECT_EQ(fetched.total, qint64(member.compressedSize));
        const QByteArray expected = UnzipPrintSha256(archive, member.name);
        ASSERT_FALSE(expected.isEmpty());
        EXPECT_EQ(FileSha256(target + u'/' + member.name), expected);
        // The local header's read and the data's, each a range; a little more than the data.
        const Sent sent = SentSince(nginx.accessLog(), before);
        EXPECT_EQ(sent.requests, 2);
        EXPECT_TRUE(sent.allRanges);
        EXPECT_GE(sent.bytes, qint64(member.compressedSize));
        EXPECT_LE(sent.bytes, qint64(member.compressedSize) + 4096);
    }
}

}  // namespace
