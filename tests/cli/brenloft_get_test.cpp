// brenloft-get as a script would run it, against a real nginx on loopback: files arriving
// whole, exit statuses and the lines that explain them, the login, proxy and limit flags, and
// runs killed or terminated mid-download that the same command finishes, and FTP addresses.
#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSet>
#include <chrono>
#include <map>
#include <memory>
#include <ostream>

#include <unistd.h>

#include <functional>

#include "core/download_list/download_list.h"
#include "core/download_list/list_additions.h"
#include "core/download_list/part_layout.h"
#include "core/paths/folder_lock.h"
#include "core/urls/parse_url.h"
#include "tests/support/ftp_peers.h"
#include "tests/support/get_command.h"
#include "tests/support/nginx_peer.h"
#include "tests/support/peer_process.h"
#include "tests/support/proxy_peer.h"
#include "tests/support/sandbox.h"
#include "tests/support/test_certificates.h"
#include "tests/support/test_files.h"
#include "tests/support/text_printer.h"

namespace {

QString Canonical(const QString& path) {
    return QFileInfo(path).canonicalFilePath();
}

// The paths a run printed, as canonical paths in order.
QStringList PrintedPaths(const QStringList& out) {
    QStringList printed;
    for (const QString& line : out) {
        printed << Canonical(line);
    }
    printed.sort();
    return printed;
}

// Entries the command's own list still holds for continuing (finished ones stay, to be
// reported by a later run).
int ActiveEntries(const QString& listPath) {
    if (!QFile::exists(listPath)) {
        return 0;
    }
    DownloadListState list;
    LoadList(list, listPath);
    int active = 0;
    for (int slot = 1; slot <= list.DownloadCount; ++slot) {
        const DownloadRecord& r = list.DownloadList[slot];
        active += r.Active == FlagTrue && r.Completed != FlagTrue ? 1 : 0;
    }
    return active;
}

QStringList PartFiles(const QString& folder) {
    return QDir(folder + QStringLiteral("/.brenloft-get/temp")).entryList(QDir::Files);
}

class BrenloftGet : public ::testing::Test {
protected:
    void SetUp() override {
        served = box.file(QStringLiteral("served"));
        ASSERT_TRUE(QDir().mkpath(served));
        ASSERT_TRUE(QDir().mkpath(box.file(QStringLiteral("home"))));
    }
    QString serve(const QString& name, const QByteArray& bytes) {
        EXPECT_TRUE(WriteFile(served + u'/' + name, bytes));
        return name;
    }
    QString folder(const QString& name) {
        const QString path = box.file(name);
        EXPECT_TRUE(QDir().mkpath(path));
        return path;
    }

    Sandbox box;
    QString served;
};

}  // namespace

// Several files in one command, with one and with eight segments, into the folder given and
// into the current one: each arrives whole, its path on stdout, and nothing is left to continue.
TEST_F(BrenloftGet, DownloadsEveryFileWhole) {
    std::map<QString, QByteArray> files;
    // One more than the command runs at once, so one waits for a free turn.
    for (const qsizetype size :
         {qsizetype(0), qsizetype(1), qsizetype(299999), qsizetype(1000003)}) {
        const QString name = QStringLiteral("f%1.bin").arg(size);
        files[name] = RandomBytes(size);
        serve(name, files[name]);
    }
    NginxPeer nginx(served);
    ASSERT_TRUE(nginx.start()) << nginx.error().toStdString();
    QStringList urls;
    for (const auto& [name, bytes] : files) {
        urls << nginx.url(name);
    }

    struct Case {
        QString segments;
        bool givenFolder;
        QString atOnce;  // -j, empty: not given
    };
    // -j 1 runs the addresses strictly one after another, -j 20 all of them at once.
    for (const Case& c : {Case{"1", true, ""}, Case{"8", false, ""}, Case{"4", true, "1"},
                          Case{"2", false, "20"}}) {
        SCOPED_TRACE("-n " + c.segments.toStdString() + " -j " + c.atOnce.toStdString());
        const QString target = folder(QStringLiteral("out-") + c.segments);
        QStringList arguments{QStringLiteral("-q"), QStringLiteral("-n"), c.segments};
        if (!c.atOnce.isEmpty()) {
            arguments << QStringLiteral("-j") << c.atOnce;
        }
        if (c.givenFolder) {
            arguments << QStringLiteral("-d") << target;
        }
        const GetRun run = RunGet(box, arguments + urls, c.givenFolder ? box.path() : target);
        ASSERT_TRUE(run.finished);
        EXPECT_EQ(run.exitCode, 0) << run.err.join(u'\n').toStdString();
        EXPECT_EQ(run.err, QStringList{});

        QStringList expected;
        for (const auto& [name, bytes] : files) {
            const QString path = target + u'/' + name;
            expected << Canonical(path);
            EXPECT_EQ(FileSha256(path), Sha256(bytes)) << name.toStdString();
        }
        const QStringList printed = PrintedPaths(run.out);
        expected.sort();
        EXPECT_EQ(printed, expected) << run.out.join(u'\n').toStdString();
        EXPECT_EQ(PartFiles(target), QStringList{});
        EXPECT_EQ(ActiveEntries(ListPathIn(target)), 0) << "nothing is left to continue";
    }

    // Run again into the same folder, it finds every file there whole: it prints their paths
    // and fetches nothing, so no numbered name appears and no file is written again.
    const QString again = box.file(QStringLiteral("out-1"));
    std::map<QString, QDateTime> written;
    for (const auto& [name, bytes] : files) {
        written[name] = QFileInfo(again + u'/' + name).lastModified();
    }
    const GetRun run = RunGet(
        box, QStringList{QStringLiteral("-q"), QStringLiteral("-d"), again} + urls, box.path());
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 0) << run.err.join(u'\n').toStdString();
    EXPECT_EQ(run.err, QStringList{});
    const QStringList printed = PrintedPaths(run.out);
    QStringList expected;
    for (const auto& [name, bytes] : files) {
        expected << Canonical(again + u'/' + name);
        EXPECT_EQ(FileSha256(again + u'/' + name), Sha256(bytes)) << name.toStdString();
        EXPECT_EQ(QFileInfo(again + u'/' + name).lastModified(), written[name])
            << name.toStdString();
    }
    expected.sort();
    EXPECT_EQ(printed, expected);
    EXPECT_EQ(QDir(again).entryList(QDir::Files).size(), qsizetype(files.size()));
    EXPECT_EQ(PartFiles(again), QStringList{});
    EXPECT_EQ(ActiveEntries(ListPathIn(again)), 0);
}

// A file already there under the name the server gives counts as the download only with the
// server's size and time (Last-Modified): it is reported and left as it is. One of that size
// but another time, or of another size, is someone else's: the address is fetched into a
// numbered name beside it.
TEST_F(BrenloftGet, AFileAlreadyWholeIsReportedNotFetched) {
    const QByteArray named = RandomBytes(300000);
    const QByteArray other = RandomBytes(200000);
    const QByteArray timed = RandomBytes(100000);
    serve(QStringLiteral("named.bin"), named);
    serve(QStringLiteral("other.bin"), other);
    serve(QStringLiteral("timed.bin"), timed);
    NginxPeer nginx(served);
    nginx.addContentDispositionLocation(QStringLiteral("/named/"),
                                        QStringLiteral("attachment; filename=\"given.bin\""));
    ASSERT_TRUE(nginx.start()) << nginx.error().toStdString();
    const QString target = folder(QStringLiteral("out"));
    // The same sizes as the server's files but other bytes: had they been fetched, they would
    // show. Only the last has the server's time too.
    const QByteArray ours = RandomBytes(named.size());
    ASSERT_TRUE(WriteFile(target + QStringLiteral("/given.bin"), ours));
    const QByteArray shorter = RandomBytes(other.size() - 1);
    ASSERT_TRUE(WriteFile(target + QStringLiteral("/other.bin"), shorter));
    const QByteArray sameTime = RandomBytes(timed.size());
    ASSERT_TRUE(WriteFile(target + QStringLiteral("/timed.bin"), sameTime));
    // Files written in the same second as the server's would share its time.
    const auto stamp = [&](const QString& name, const QDateTime& time) {
        QFile file(target + u'/' + name);
        return file.open(QIODevice::ReadWrite) &&
               file.setFileTime(time, QFileDevice::FileModificationTime);
    };
    const QDateTime servedTime = QFileInfo(served + QStringLiteral("/timed.bin")).lastModified();
    ASSERT_TRUE(stamp(QStringLiteral("timed.bin"), servedTime));
    ASSERT_TRUE(stamp(QStringLiteral("given.bin"), servedTime.addSecs(-3600)));

    const GetRun run =
        RunGet(box,
               {QStringLiteral("-q"), QStringLiteral("-d"), target,
                nginx.url(QStringLiteral("/named/named.bin")),
                nginx.url(QStringLiteral("/other.bin")), nginx.url(QStringLiteral("/timed.bin"))},
               box.path());
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 0) << run.err.join(u'\n').toStdString();
    EXPECT_EQ(run.err, QStringList{});
    const QStringList printed = PrintedPaths(run.out);
    EXPECT_EQ(printed, (QStringList{Canonical(target + QStringLiteral("/given[1].bin")),
                                    Canonical(target + QStringLiteral("/other[1].bin")),
                                    Canonical(target + QStringLiteral("/timed.bin"))}));
    EXPECT_EQ(FileSha256(target + QStringLiteral("/given.bin")), Sha256(ours));
    EXPECT_EQ(FileSha256(target + QStringLiteral("/given[1].bin")), Sha256(named));
    EXPECT_EQ(FileSha256(target + QStringLiteral("/other.bin")), Sha256(shorter));
    EXPECT_EQ(FileSha256(target + QStringLiteral("/other[1].bin")), Sha256(other));
    EXPECT_EQ(FileSha256(target + QStringLiteral("/timed.bin")), Sha256(sameTime));
    EXPECT_EQ(QDir(target).entryList(QDir::Files).size(), 5);
    EXPECT_EQ(PartFiles(target), QStringList{});
    EXPECT_EQ(ActiveEntries(ListPathIn(target)), 0);
}

// A work folder the user did not make is not acted on. One as an archive brings it (the user's,
// writable by no one else) with a settings file that turns on an anti-virus command and a proxy
// that does not answer, and a list whose entry for the address saves outside DIR: the command
// never runs, no proxy is asked, nothing outside DIR is touched, and the entry is dropped with
// a line saying why. One that is a symbolic link, another user's or writable by others is
// refused whole.
TEST_F(BrenloftGet, AWorkFolderSomeoneElseMadeIsNotTrusted) {
    serve(QStringLiteral("data.bin"), RandomBytes(100000));
    NginxPeer nginx(served);
    ASSERT_TRUE(nginx.start()) << nginx.error().toStdString();
    const QString url = nginx.url(QStringLiteral("/data.bin"));
    const QString outside = folder(QStringLiteral("outside"));
    std::unique_ptr<FolderLock> otherRun;
    const auto planted = [&](const QString& work) {
        QDir().mkpath(work);
        WriteFile(work + QStringLiteral("/no-settings.ini"),
                  QStringLiteral("[Options]\nUseAntiVirus=-1\nAntiVirusCommand=/usr/bin/touch "
                                 "%1/ran\nProxyHTTP=-1\nProxyServer=127.0.0.1\nProxyPort=%2\n")
                      .arg(outside)
                      .arg(FreeLoopbackPort())
                      .toUtf8());
        DownloadListState list;
        const int slot = ChooseFreeSlot(list);
        FillNewRecord(list.DownloadList[slot], ParseUrl(url), url, 0, outside + "/data.bin");
        SaveList(list, ListPathIn(QFileInfo(work).path()));
    };
    const struct {
        const char* name;
        std::function<void(const QString& work)> plant;
        int exitCode;
        QString message;  // after the work folder's path, or the whole line when it is empty
    } cases[] = {
        {"a settings file and a list", planted, 0,
         QStringLiteral("brenloft-get: list entry 1 (%1) dropped: save path %2/data.bin is not in ")
             .arg(url, outside)},
        {"a symbolic link", [&](const QString& work) { QFile::link(outside, work); }, 1,
         QStringLiteral(" is a symbolic link")},
        {"writable by others",
         [](const QString& work) {
             QDir().mkpath(work);
             QFile::setPermissions(work, QFileDevice::Permissions(0x7777));
         },
         1, QStringLiteral(" is writable by others (if you made it: chmod 700 %1)")},
        {"another user's",
         [](const QString& work) {
             QDir().mkpath(work);
             ASSERT_EQ(::chown(QFile::encodeName(work).constData(), 65534, 65534), 0);
         },
         1, QStringLiteral(" is not owned by you")},
        {"in use by another run",
         [&](const QString& work) {
             QDir().mkpath(work);
             otherRun = std::make_unique<FolderLock>(work, FolderLock::Wait::No);
         },
         1,
         QStringLiteral(" is in use by another brenloft-get; wait for it to end or give another "
                        "folder with -d")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString target = folder(QString::fromLatin1(c.name));
        const QString work = target + QStringLiteral("/.brenloft-get");
        c.plant(work);
        const GetRun run =
            RunGet(box, {QStringLiteral("-q"), QStringLiteral("-d"), target, url}, box.path());
        ASSERT_TRUE(run.finished);
        EXPECT_EQ(run.exitCode, c.exitCode);
        ASSERT_EQ(run.err.size(), 1) << run.err.join(u'\n').toStdString();
        EXPECT_TRUE(c.exitCode == 0
                        ? run.err[0].startsWith(c.message)
                        : run.err[0] == QStringLiteral("brenloft-get: ") + work +
                                            QString(c.message).replace(QStringLiteral("%1"), work))
            << run.err[0].toStdString();
        EXPECT_EQ(QFileInfo::exists(target + QStringLiteral("/data.bin")), c.exitCode == 0);
        EXPECT_EQ(QDir(outside).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                  QStringList{})
            << "nothing outside DIR is touched";
    }
}

// Arguments that make no sense are refused before anything happens: status 2 and the usage.
TEST_F(BrenloftGet, BadArgumentsExitTwoWithTheUsage) {
    const QString url = QStringLiteral("http://127.0.0.1:1/never.bin");
    const std::vector<QStringList> cases = {
        {},
        {QStringLiteral("-q")},
        {QStringLiteral("-n"), QStringLiteral("9"), url},
        {QStringLiteral("-n"), QStringLiteral("0"), url},
        {QStringLiteral("-n"), QStringLiteral("two"), url},
        {QStringLiteral("-j"), QStringLiteral("21"), url},
        {QStringLiteral("-j"), QStringLiteral("0"), url},
        {QStringLiteral("--limit"), QStringLiteral("fast"), url},
        {QStringLiteral("--proxy"), QStringLiteral("127.0.0.1"), url},
        {QStringLiteral("--user"), QStringLiteral("ann"), url},
        {QStringLiteral("--user"), QStringLiteral("ann"), QStringLiteral("--password"),
         QStringLiteral("p"), QStringLiteral("--ask-password"), url},
        {QStringLiteral("--user"), QStringLiteral("ann"), QStringLiteral("--password-file"),
         QStringLiteral("/no/such/file"), url},
        {QStringLiteral("--frobnicate"), url},
        {url, QStringLiteral("-d")},
        {QStringLiteral("gopher://127.0.0.1/x.bin"), QStringLiteral("not an address")},
    };
    const QString work = folder(QStringLiteral("work"));
    for (const QStringList& arguments : cases) {
        SCOPED_TRACE(arguments.join(u' ').toStdString());
        const GetRun run = RunGet(box, arguments, work, std::chrono::seconds(30));
        ASSERT_TRUE(run.finished);
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_EQ(run.out, QStringList{});
        ASSERT_EQ(run.err.size(), 2) << run.err.join(u'\n').toStdString();
        EXPECT_TRUE(run.err.last().startsWith(QStringLiteral("usage: brenloft-get ")))
            << run.err.join(u'\n').toStdString();
        EXPECT_TRUE(run.err.last().contains(QStringLiteral("[-j DOWNLOADS]")));
        EXPECT_TRUE(run.err.first().startsWith(QStringLiteral("brenloft-get: ")));
    }
    EXPECT_EQ(QDir(work).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
              QStringList{})
        << "nothing was created";
}

// A missing file and a port nobody listens on fail with one line each naming the address and
// why; the file that could be fetched still arrives.
TEST_F(BrenloftGet, FailuresExitOneWithALinePerAddress) {
    const QByteArray good = RandomBytes(300000);
    serve(QStringLiteral("good.bin"), good);
    NginxPeer nginx(served);
    ASSERT_TRUE(nginx.start()) << nginx.error().toStdString();
    const QString missing = nginx.url(QStringLiteral("/missing.bin"));
    const QString refused =
        QStringLiteral("http://127.0.0.1:%1/nobody.bin").arg(FreeLoopbackPort());
    const QString target = folder(QStringLiteral("out"));
    const QString unusable = QStringLiteral("gopher://127.0.0.1/x.bin");

    const GetRun run = RunGet(box,
                              {QStringLiteral("-q"), QStringLiteral("-d"), target, missing, refused,
                               unusable, nginx.url(QStringLiteral("/good.bin"))},
                              box.path());
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, QStringList{Canonical(target + QStringLiteral("/good.bin"))});
    EXPECT_EQ(FileSha256(target + QStringLiteral("/good.bin")), Sha256(good));

    ASSERT_EQ(run.err.size(), 3) << run.err.join(u'\n').toStdString();
    QString missingLine;
    QString refusedLine;
    QString unusableLine;
    for (const QString& line : run.err) {
        if (line.contains(unusable)) {
            unusableLine = line;
            continue;
        }
        (line.startsWith(QStringLiteral("brenloft-get: ") + missing + u':') ? missingLine
                                                                            : refusedLine) = line;
    }
    EXPECT_TRUE(missingLine.contains(QStringLiteral("404"))) << run.err.join(u'\n').toStdString();
    EXPECT_TRUE(refusedLine.startsWith(QStringLiteral("brenloft-get: ") + refused + u':'))
        << run.err.join(u'\n').toStdString();
    EXPECT_TRUE(refusedLine.contains(QStringLiteral("refused"))) << refusedLine.toStdString();
    EXPECT_TRUE(unusableLine.contains(QStringLiteral("not an http://, https:// or ftp:// address")))
        << run.err.join(u'\n').toStdString();
    EXPECT_EQ(QFileInfo::exists(target + QStringLiteral("/missing.bin")), false);
    EXPECT_EQ(QFileInfo::exists(target + QStringLiteral("/nobody.bin")), false);
}

// Killed with SIGKILL after its list was saved mid-download, the same command run again
// continues the saved segments (the same part files, none planned anew) and finishes the file;
// over plain HTTP and over TLS.
TEST_F(BrenloftGet, KilledRunIsFinishedByTheSameCommand) {
    Certificates certificates;
    ASSERT_TRUE(certificates.make()) << certificates.problem.toStdString();
    constexpr qsizetype Size = 200 * 1024 * 1024;
    // 8 connections at 2 MiB/s: over ten seconds, so the list is saved well before the end.
    constexpr std::int64_t RatePerConnection = 2 * 1024 * 1024;
    const QByteArray data = RandomBytes(Size);
    serve(QStringLiteral("big.bin"), data);
    const QByteArray sha = Sha256(data);
    for (const bool tls : {false, true}) {
        SCOPED_TRACE(tls ? "over TLS" : "plain");
        NginxPeer nginx(served);
        nginx.addRateLimitedLocation(QStringLiteral("/slow/"), RatePerConnection);
        QStringList tlsFlags;
        if (tls) {
            nginx.setTls(certificates.file(QStringLiteral("good.pem")),
                         certificates.file(QStringLiteral("server.key")));
            tlsFlags = {QStringLiteral("--ca-certificate"),
                        certificates.file(QStringLiteral("ca.pem"))};
        }
        ASSERT_TRUE(nginx.start()) << nginx.error().toStdString();
        const QString url = nginx.url(QStringLiteral("/slow/big.bin"));

        const QString target = folder(tls ? QStringLiteral("tls") : QStringLiteral("plain"));
        const QString listPath = ListPathIn(target);
        const QStringList arguments = tlsFlags + EightSegmentsInto(target, url);

        QProcess first;
        PrepareGet(first, box, box.path());
        ASSERT_TRUE(StartGet(first, arguments));
        // The list as saved: read from a copy, since the program replaces the file as it saves.
        const QString copy = box.file(QStringLiteral("list-copy.dat"));
        auto savedProgress = [&]() -> std::int64_t {
            QFile::remove(copy);
            if (!QFile::copy(listPath, copy)) {
                return 0;
            }
            DownloadListState list;
            LoadList(list, copy);
            std::int64_t stored = 0;
            for (int slot = 1; slot <= list.DownloadCount; ++slot) {
                const DownloadRecord& r = list.DownloadList[slot];
                for (int j = 1; r.Active == FlagTrue && j <= r.SegmentCount; ++j) {
                    stored += (r.Segments.at(j)->Done + r.Segments.at(j)->Received).bytes();
                }
            }
            return stored;
        };
        ASSERT_TRUE(WaitFor([&] { return savedProgress() > 0; }, std::chrono::seconds(60)))
            << "the list is saved while downloading; the run said: "
            << first.readAllStandardError().toStdString();
        ASSERT_EQ(first.state(), QProcess::Running) << "killed mid-download, not after it";
        first.kill();
        ASSERT_TRUE(first.waitForFinished(10000));
        EXPECT_EQ(first.exitStatus(), QProcess::CrashExit);

        // The eight segments write into one file.
        const QStringList partsAtKill = PartFiles(target);
        EXPECT_EQ(partsAtKill.size(), 1) << partsAtKill.join(u' ').toStdString();
        EXPECT_FALSE(QFileInfo::exists(target + QStringLiteral("/big.bin")));

        QProcess second;
        PrepareGet(second, box, box.path());
        ASSERT_TRUE(StartGet(second, arguments));
        const bool ended = WaitFor([&] { return second.state() == QProcess::NotRunning; },
                                   std::chrono::seconds(180));
        if (!ended) {
            second.kill();
            second.waitForFinished(5000);
        }
        ASSERT_TRUE(ended);
        EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(second.exitCode(), 0);
        EXPECT_EQ(OutputLines(second.readAllStandardError()), QStringList{});
        EXPECT_EQ(OutputLines(second.readAllStandardOutput()),
                  QStringList{Canonical(target + QStringLiteral("/big.bin"))});
        // The saved plan was continued, not made anew: its file is the one at the kill.
        DownloadListState done;
        LoadList(done, listPath);
        QStringList continued;
        for (int slot = 1; slot <= done.DownloadCount; ++slot) {
            const DownloadRecord& r = done.DownloadList[slot];
            for (int j = 1; j <= r.SegmentCount; ++j) {
                continued << QFileInfo(r.Segments.at(j)->PartFile).fileName();
            }
        }
        continued.removeDuplicates();
        EXPECT_EQ(continued, partsAtKill);
        EXPECT_EQ(FileSha256(target + QStringLiteral("/big.bin")), sha);
        EXPECT_EQ(PartFiles(target), QStringList{});
        EXPECT_EQ(ActiveEntries(listPath), 0);
    }
}

// The flags reach the engine: a login for a protected file, a proxy that every request goes
// through, and a speed limit.
TEST_F(BrenloftGet, FlagsForLoginProxyAndLimit) {
    const QByteArray data = RandomBytes(300000);
    serve(QStringLiteral("data.bin"), data);
    NginxPeer nginx(served);
    nginx.addBasicAuthLocation(QStringLiteral("/private/"), QStringLiteral("ann"),
                               QStringLiteral("s3cret"));
    ASSERT_TRUE(nginx.start()) << nginx.error().toStdString();
    // A proxy that sends every request on to the server above, whatever address it names.
    NginxPeer proxy(served);
    proxy.addLocation(
        QStringLiteral("location / { proxy_pass http://127.0.0.1:%1; }").arg(nginx.port()));
    ASSERT_TRUE(proxy.start()) << proxy.error().toStdString();
    const QString privateUrl = nginx.url(QStringLiteral("/private/data.bin"));

    {
        const QString target = folder(QStringLiteral("without-login"));
        const GetRun run = RunGet(
            box, {QStringLiteral("-q"), QStringLiteral("-d"), target, privateUrl}, box.path());
        ASSERT_TRUE(run.finished);
        EXPECT_EQ(run.exitCode, 1);
        ASSERT_EQ(run.err.size(), 1) << run.err.join(u'\n').toStdString();
        EXPECT_TRUE(run.err[0].startsWith(QStringLiteral("brenloft-get: ") + privateUrl + u':'));
        EXPECT_FALSE(QFileInfo::exists(target + QStringLiteral("/data.bin")));
    }
    // The password on the command line, in a file's first line, and on standard input.
    const QString passwordFile = box.file(QStringLiteral("password"));
    ASSERT_TRUE(WriteFile(passwordFile, "s3cret\nignored\n"));
    for (const auto& [way, input] : {std::pair{QStringList{"--password", "s3cret"}, QByteArray()},
                                     {QStringList{"--password-file", passwordFile}, QByteArray()},
                                     {QStringList{"--ask-password"}, QByteArray("s3cret\n")}}) {
        SCOPED_TRACE(way[0].toStdString());
        const QString target = folder(QStringLiteral("with-login") + way[0]);
        const GetRun run = RunGet(box,
                                  QStringList{QStringLiteral("-q"), QStringLiteral("-d"), target,
                                              QStringLiteral("--user"), QStringLiteral("ann")} +
                                      way + QStringList{privateUrl},
                                  box.path(), std::chrono::seconds(120), input);
        ASSERT_TRUE(run.finished);
        EXPECT_EQ(run.exitCode, 0) << run.err.join(u'\n').toStdString();
        EXPECT_EQ(run.err, QStringList{});
        EXPECT_EQ(FileSha256(target + QStringLiteral("/data.bin")), Sha256(data));
    }
    {
        // Nothing listens at the address itself: only the proxy can deliver it.
        const QString target = folder(QStringLiteral("proxied"));
        const QString unreachable =
            QStringLiteral("http://127.0.0.1:%1/data.bin").arg(FreeLoopbackPort());
        const GetRun run = RunGet(box,
                                  {QStringLiteral("-q"), QStringLiteral("-n"), QStringLiteral("4"),
                                   QStringLiteral("-d"), target, QStringLiteral("--proxy"),
                                   QStringLiteral("127.0.0.1:%1").arg(proxy.port()), unreachable},
                                  box.path());
        ASSERT_TRUE(run.finished);
        EXPECT_EQ(run.exitCode, 0) << run.err.join(u'\n').toStdString();
        EXPECT_EQ(run.err, QStringList{});
        EXPECT_EQ(FileSha256(target + QStringLiteral("/data.bin")), Sha256(data));
    }
    {
        // 300,000 bytes at 100,000 bytes a second take about three seconds, less what the first
        // read takes before the answer's head marks the connection limited (up to a socket
        // buffer); without the limit it takes milliseconds.
        const QString target = folder(QStringLiteral("limited"));
        QElapsedTimer clock;
        clock.start();
        const GetRun run =
            RunGet(box,
                   {QStringLiteral("-q"), QStringLiteral("--limit"), QStringLiteral("100000"),
                    QStringLiteral("-d"), target, nginx.url(QStringLiteral("/data.bin"))},
                   box.path());
        const qint64 took = clock.elapsed();
        ASSERT_TRUE(run.finished);
        EXPECT_EQ(run.exitCode, 0) << run.err.join(u'\n').toStdString();
        EXPECT_EQ(run.err, QStringList{});
        EXPECT_EQ(FileSha256(target + QStringLiteral("/data.bin")), Sha256(data));
        EXPECT_GE(took, 1000) << "the limit was not applied";
    }
}

// Stopped by SIGTERM mid-download it pauses, saves its list, says so and exits 130; the same
// command then finishes the file.
TEST_F(BrenloftGet, TerminatedRunSavesAndIsFinishedByTheSameCommand) {
    constexpr qsizetype Size = 8 * 1024 * 1024;
    const QByteArray data = RandomBytes(Size);
    serve(QStringLiteral("mid.bin"), data);
    NginxPeer nginx(served);
    nginx.addRateLimitedLocation(QStringLiteral("/slow/"), 512 * 1024);
    ASSERT_TRUE(nginx.start()) << nginx.error().toStdString();
    const QString target = folder(QStringLiteral("out"));
    const QStringList arguments{QStringLiteral("-q"), QStringLiteral("-d"), target,
                                nginx.url(QStringLiteral("/slow/mid.bin"))};

    QProcess first;
    PrepareGet(first, box, box.path());
    ASSERT_TRUE(StartGet(first, arguments));
    auto stored = [&] { return WrittenBytesIn(target + QStringLiteral("/.brenloft-get/temp")); };
    ASSERT_TRUE(WaitFor([&] { return stored() > 512 * 1024; }, std::chrono::seconds(30)));
    first.terminate();
    ASSERT_TRUE(first.waitForFinished(10000));
    EXPECT_EQ(first.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(first.exitCode(), 130);
    // Exactly the one line: a sanitizer report on the way out would show here.
    EXPECT_EQ(OutputLines(first.readAllStandardError()),
              QStringList{"brenloft-get: interrupted; run the same command again to continue"});
    EXPECT_FALSE(QFileInfo::exists(target + QStringLiteral("/mid.bin")));
    const QStringList partsAtStop = PartFiles(target);

    // What the list kept is what the part files hold.
    DownloadListState list;
    LoadList(list, ListPathIn(target));
    std::int64_t saved = 0;
    for (int slot = 1; slot <= list.DownloadCount; ++slot) {
        const DownloadRecord& r = list.DownloadList[slot];
        for (int j = 1; r.Active == FlagTrue && j <= r.SegmentCount; ++j) {
            const SegmentRecord& s = *r.Segments.at(j);
            EXPECT_EQ(s.Received.bytes(), 0) << "paused before saving";
            QFile part(s.PartFile);
            ASSERT_TRUE(part.open(QIODevice::ReadOnly) && part.seek(RangeOffsetInFile(r, s)));
            EXPECT_TRUE(part.read(s.Done.bytes()) ==
                        data.mid(s.EndPos.bytes() - s.Length.bytes() + 1, s.Done.bytes()))
                << s.PartFile.toStdString();
            saved += s.Done.bytes();
        }
    }
    EXPECT_GT(saved, 0);

    const GetRun run = RunGet(box, arguments, box.path());
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.err, QStringList{});
    EXPECT_EQ(run.out, QStringList{Canonical(target + QStringLiteral("/mid.bin"))});
    EXPECT_EQ(FileSha256(target + QStringLiteral("/mid.bin")), Sha256(data));
    EXPECT_EQ(PartFiles(target), QStringList{});
    EXPECT_FALSE(partsAtStop.isEmpty());
}

// The same address given twice is one download: one file, whole, one line on stdout.
TEST_F(BrenloftGet, SameAddressTwiceIsOneDownload) {
    const QByteArray data = RandomBytes(1000003);
    serve(QStringLiteral("twice.bin"), data);
    NginxPeer nginx(served);
    ASSERT_TRUE(nginx.start()) << nginx.error().toStdString();
    const QString target = folder(QStringLiteral("out"));
    const QString url = nginx.url(QStringLiteral("/twice.bin"));

    const GetRun run = RunGet(box, {QStringLiteral("-q"), QStringLiteral("-d"), target, url, url},
                              box.path(), std::chrono::seconds(60));
    ASSERT_TRUE(run.finished) << "the command did not end";
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.err, QStringList{});
    EXPECT_EQ(run.out, QStringList{Canonical(target + QStringLiteral("/twice.bin"))});
    EXPECT_EQ(FileSha256(target + QStringLiteral("/twice.bin")), Sha256(data));
    EXPECT_EQ(QDir(target).entryList(QDir::Files), QStringList{"twice.bin"});
    EXPECT_EQ(PartFiles(target), QStringList{});
}

// Each finished file is checked: against a checksum given for it, against a wrong SHA256SUMS
// line its folder serves (exit 1, naming both values, even with -q), and with none looked for.
TEST_F(BrenloftGet, FinishedFilesAreChecked) {
    const QByteArray data = RandomBytes(300000);
    const QString right = QString::fromLatin1(Sha256(data));
    const QString wrong = QString::fromLatin1(Sha256("other bytes"));
    ASSERT_TRUE(QDir().mkpath(served + QStringLiteral("/bad")));
    for (const char* name : {"data.bin", "bad/data.bin"}) {
        serve(QLatin1String(name), data);
    }
    serve(QStringLiteral("bad/SHA256SUMS"), (wrong + QStringLiteral("  data.bin\n")).toLatin1());
    NginxPeer nginx(served);
    ASSERT_TRUE(nginx.start()) << nginx.error().toStdString();
    const struct {
        QStringList flags;
        const char* path;
        int exitCode;
        QString line;
    } cases[] = {
        {{"--checksum", "sha-256=" + right.toUpper()},
         "/data.bin",
         0,
         "SHA-256 matches the given checksum"},
        {{"-q"},
         "/bad/data.bin",
         1,
         QStringLiteral("checksum failed: SHA-256 from SHA256SUMS should be %1, the file's is %2")
             .arg(wrong, right)},
        {{"--no-checksum-lookup"}, "/bad/data.bin", 0, "no checksum found"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line.toStdString());
        const QString target = folder(c.flags[0]);
        const GetRun run = RunGet(
            box, c.flags + QStringList{"-d", target, nginx.url(QLatin1String(c.path))}, box.path());
        ASSERT_TRUE(run.finished);
        EXPECT_EQ(run.exitCode, c.exitCode);
        EXPECT_EQ(run.err, QStringList{"brenloft-get: data.bin: " + c.line});
        EXPECT_EQ(FileSha256(target + "/data.bin"), Sha256(data)) << "kept under its name";
        // Listed among the finished files only when it passed.
        EXPECT_EQ(run.out,
                  c.exitCode == 0 ? QStringList{Canonical(target + "/data.bin")} : QStringList{});
    }
}

// FTP addresses as well, against vsftpd: a large file over eight segments arrives whole; a
// missing file and a refused login each fail with a line that says so.
TEST_F(BrenloftGet, FtpAddresses) {
    // vsftpd's unprivileged user reads the files: the served folder is open to everyone.
    const auto open = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup |
                      QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther;
    QFile::setPermissions(served, open);
    const QByteArray large = RandomBytes(200 * 1024 * 1024);
    serve(QStringLiteral("large.bin"), large);
    QFile::setPermissions(served + QStringLiteral("/large.bin"),
                          QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
    VsftpdPeer vsftpd(served);
    ASSERT_TRUE(vsftpd.start()) << vsftpd.error().toStdString();
    const QString target = folder(QStringLiteral("ftp"));
    GetRun run = RunGet(box,
                        {QStringLiteral("-q"), QStringLiteral("-n"), QStringLiteral("8"),
                         QStringLiteral("-d"), target, vsftpd.url(QStringLiteral("/large.bin"))},
                        box.path());
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 0) << run.err.join(u'\n').toStdString();
    EXPECT_EQ(run.out, QStringList{Canonical(target + QStringLiteral("/large.bin"))});
    EXPECT_EQ(FileSha256(target + QStringLiteral("/large.bin")), Sha256(large));
    EXPECT_EQ(PartFiles(target), QStringList{});

    PyFtpPeer pyftpd(served);
    pyftpd.addUser(QStringLiteral("bob"), QStringLiteral("right"), served);
    ASSERT_TRUE(pyftpd.start()) << pyftpd.error().toStdString();
    const QString missing = pyftpd.url(QStringLiteral("/none.bin"));
    const QString refused =
        pyftpd.url(QStringLiteral("bob"), QStringLiteral("wrong"), QStringLiteral("/large.bin"));
    run = RunGet(box, {QStringLiteral("-q"), QStringLiteral("-d"), target, missing, refused},
                 box.path());
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, QStringList{});
    ASSERT_EQ(run.err.size(), 2) << run.err.join(u'\n').toStdString();
    EXPECT_TRUE(run.err.filter(QStringLiteral("not found")).size() == 1)
        << run.err.join(u'\n').toStdString();
    EXPECT_TRUE(run.err.filter(QStringLiteral("refused the login")).size() == 1)
        << run.err.join(u'\n').toStdString();
    EXPECT_EQ(run.err.filter(QStringLiteral("wrong")).size(), 0) << "no password in any output";
}

// https:// through the real socket layer's TLS, against nginx with certificates of a test CA:
// eight segments arrive whole after one full handshake (the others resume its session); a
// certificate that does not verify ends the address with a line naming the host and why;
// --no-check-certificate takes any certificate and says so.
TEST_F(BrenloftGet, HttpsAddressesOverTls) {
    Certificates certificates;
    ASSERT_TRUE(certificates.make()) << certificates.problem.toStdString();
    const QByteArray data = RandomBytes(3000001);
    serve(QStringLiteral("data.bin"), data);
    const QString ca = certificates.file(QStringLiteral("ca.pem"));
    const struct {
        const char* certificate;
        QStringList flags;
        const char* reason;  // empty: the file arrives whole
        const char* host = "127.0.0.1";
    } cases[] = {
        {"good.pem", {QStringLiteral("--ca-certificate"), ca}, ""},
        {"good.pem", {}, "unknown authority"},
        {"expired.pem", {QStringLiteral("--ca-certificate"), ca}, "has expired"},
        {"wrong-host.pem", {QStringLiteral("--ca-certificate"), ca}, "another host name"},
        {"self-signed.pem", {QStringLiteral("--no-check-certificate")}, ""},
        // An IPv6 address is checked against the certificate's IPv6 address, not a name.
        {"good.pem", {QStringLiteral("--ca-certificate"), ca}, "", "::1"},
        {"wrong-host.pem", {QStringLiteral("--ca-certificate"), ca}, "another host name", "::1"},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.certificate);
        NginxPeer nginx(served);
        nginx.setTls(certificates.file(QString::fromLatin1(c.certificate)),
                     certificates.file(QStringLiteral("server.key")));
        const QString host = QString::fromLatin1(c.host);
        if (host.contains(u':')) {
            nginx.listenOnIPv6();
        }
        ASSERT_TRUE(nginx.start()) << nginx.error().toStdString();
        const QString url = QStringLiteral("https://%1:%2/data.bin")
                                .arg(host.contains(u':') ? u'[' + host + u']' : host)
                                .arg(nginx.port());
        const QString target = folder(QStringLiteral("tls%1").arg(n++));
        const GetRun run = RunGet(box,
                                  QStringList{QStringLiteral("-q"), QStringLiteral("-n"),
                                              QStringLiteral("8"), QStringLiteral("-d"), target} +
                                      c.flags + QStringList{url},
                                  box.path());
        ASSERT_TRUE(run.finished);
        const QString err = run.err.join(u'\n');
        if (*c.reason == '\0') {
            EXPECT_EQ(run.exitCode, 0) << err.toStdString();
            EXPECT_EQ(FileSha256(target + QStringLiteral("/data.bin")), Sha256(data));
            EXPECT_EQ(run.err.size(), c.flags.contains(QStringLiteral("--no-check-certificate")))
                << err.toStdString();
            if (c.flags.contains(QStringLiteral("--ca-certificate"))) {
                EXPECT_EQ(nginx.tlsLog().filter(QRegularExpression(QStringLiteral("^\\. "))).size(),
                          1)
                    << nginx.tlsLog().join(u'\n').toStdString();
            }
        } else {
            EXPECT_EQ(run.exitCode, 1);
            ASSERT_EQ(run.err.size(), 1) << err.toStdString();
            EXPECT_TRUE(run.err[0].startsWith(QStringLiteral("brenloft-get: ") + url + u':'));
            EXPECT_TRUE(run.err[0].contains(host));
            EXPECT_TRUE(run.err[0].contains(QString::fromLatin1(c.reason))) << err.toStdString();
            EXPECT_TRUE(
                run.err[0].contains(QStringLiteral("with --ca-certificate FILE, or take any "
                                                   "certificate with --no-check-certificate")));
            EXPECT_FALSE(QFileInfo::exists(target + QStringLiteral("/data.bin")));
        }
    }
}

// Through the HTTP proxy (a real tinyproxy) an https:// address travels in a tunnel the proxy
// opens with CONNECT, the requests inside it those of a direct connection: the file arrives
// whole with one segment and with eight (one full handshake, the others resumed); a proxy that
// refuses the tunnel ends the address at once with a line naming the proxy and its answer. An
// http:// address still goes to the proxy as a plain request naming the whole address, and a
// redirect crosses between the two ways. The proxy that http_proxy names serves as well, and -v
// says which one an address took and why.
TEST_F(BrenloftGet, HttpsThroughTheProxyTunnel) {
    Certificates certificates;
    ASSERT_TRUE(certificates.make()) << certificates.problem.toStdString();
    const QByteArray data = RandomBytes(2000001);
    serve(QStringLiteral("data.bin"), data);
    // Each redirect names a server started before it.
    NginxPeer plain(served);
    ASSERT_TRUE(plain.start()) << plain.error().toStdString();
    NginxPeer tls(served);
    tls.setTls(certificates.file(QStringLiteral("good.pem")),
               certificates.file(QStringLiteral("server.key")));
    tls.addRedirect(QStringLiteral("/to-plain"), plain.url(QStringLiteral("/data.bin")));
    ASSERT_TRUE(tls.start()) << tls.error().toStdString();
    NginxPeer back(served);
    back.addRedirect(QStringLiteral("/to-tls"), tls.url(QStringLiteral("/data.bin")));
    ASSERT_TRUE(back.start()) << back.error().toStdString();
    const QString tunnel = QStringLiteral("CONNECT 127.0.0.1:%1").arg(tls.port());
    const QString plainGet = QStringLiteral("GET ") + plain.url(QStringLiteral("/data.bin"));
    const struct {
        const char* name;
        QString url;
        const char* segments;
        bool refused;                    // the proxy allows CONNECT to another port only
        QStringList asked;               // what the proxy's log shows it was asked
        const char* variable = nullptr;  // names the proxy instead of --proxy
    } cases[] = {
        {"https, one segment", tls.url(QStringLiteral("/data.bin")), "1", false, {tunnel}},
        {"https, eight segments", tls.url(QStringLiteral("/data.bin")), "8", false, {tunnel}},
        {"https, tunnel refused", tls.url(QStringLiteral("/data.bin")), "8", true, {tunnel}},
        {"http", plain.url(QStringLiteral("/data.bin")), "4", false, {plainGet}},
        {"http, http_proxy",
         plain.url(QStringLiteral("/data.bin")),
         "4",
         false,
         {plainGet},
         "http_proxy"},
        {"https redirected to http",
         tls.url(QStringLiteral("/to-plain")),
         "4",
         false,
         {tunnel, plainGet}},
        {"http redirected to https",
         back.url(QStringLiteral("/to-tls")),
         "4",
         false,
         {QStringLiteral("GET ") + back.url(QStringLiteral("/to-tls")), tunnel}},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ProxyPeer proxy;
        if (c.refused) {
            proxy.allowConnectPorts({FreeLoopbackPort()});
        }
        ASSERT_TRUE(proxy.start()) << proxy.error().toStdString();
        const QString target = folder(QStringLiteral("tunnel%1").arg(n++));
        const auto tlsLogBefore = tls.tlsLog().size();
        const QString proxyUrl = QStringLiteral("http://") + proxy.address();
        QStringList arguments{c.variable ? QStringLiteral("-v") : QStringLiteral("-q"),
                              QStringLiteral("-n"),
                              QString::fromLatin1(c.segments),
                              QStringLiteral("-d"),
                              target,
                              QStringLiteral("--ca-certificate"),
                              certificates.file(QStringLiteral("ca.pem")),
                              c.url};
        if (c.variable == nullptr) {
            arguments << QStringLiteral("--proxy") << proxy.address();
        }
        const GetRun run =
            RunGet(box, arguments, box.path(), std::chrono::seconds(120), {},
                   c.variable ? QStringList{c.variable + (u'=' + proxyUrl)} : QStringList{});
        ASSERT_TRUE(run.finished);
        const QString err = run.err.join(u'\n');
        const QString log = proxy.error();
        for (const QString& asked : c.asked) {
            EXPECT_TRUE(log.contains(asked)) << asked.toStdString() << '\n' << log.toStdString();
        }
        if (c.refused) {
            EXPECT_EQ(run.exitCode, 1);
            ASSERT_EQ(run.err.size(), 1) << err.toStdString();
            EXPECT_EQ(run.err[0],
                      QStringLiteral("brenloft-get: %1: The proxy %2 refused the tunnel "
                                     "to 127.0.0.1:%3: HTTP/1.1 403 Access violation")
                          .arg(c.url, proxy.address())
                          .arg(tls.port()));
            EXPECT_FALSE(QFileInfo::exists(target + QStringLiteral("/data.bin")));
            continue;
        }
        EXPECT_EQ(run.exitCode, 0) << err.toStdString();
        EXPECT_TRUE(
            c.variable
                ? err.contains(
                      QStringLiteral("proxy for %1: %2 (from %3)").arg(c.url, proxyUrl, c.variable))
                : run.err.isEmpty())
            << err.toStdString();
        EXPECT_EQ(FileSha256(target + QStringLiteral("/data.bin")), Sha256(data));
        if (c.asked == QStringList{tunnel}) {
            // Origin-form requests, one full handshake: the tunnel is invisible to TLS.
            const QStringList requests = tls.tlsLog().mid(tlsLogBefore);
            EXPECT_EQ(requests.filter(QRegularExpression(QStringLiteral("^\\. "))).size(), 1)
                << requests.join(u'\n').toStdString();
            // The file's and those naming its checksum (data.bin.sha256, SHA256SUMS...).
            EXPECT_EQ(
                requests.filter(QRegularExpression(QStringLiteral(" GET /\\S* HTTP/1.1$"))).size(),
                requests.size())
                << requests.join(u'\n').toStdString();
        }
    }
}
