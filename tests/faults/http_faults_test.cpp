// Hostile and broken HTTP answers from a fault server of our own, each run through the engine.
// Every download must end one of two ways: complete with the file byte-identical to what was
// served, or failed/paused with a reason given and nothing reported complete. The fast faults
// share one server and one engine; the one that waits for the watchdog has a test of its own.
#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <map>

#include "tests/engine/download_session_test_harness.h"
#include "tests/faults/fault_server.h"

using namespace session_test;
using namespace faults;

namespace {

QString Reasons(const Download& d) {
    return d.observer.whys.join(u'|');
}

bool HasReason(const Download& d) {
    for (const QString& why : d.observer.whys) {
        if (!why.trimmed().isEmpty()) {
            return true;
        }
    }
    return false;
}

// The allowed outcomes; returns whether the download completed.
bool ExpectAllowedOutcome(Engine& engine, const Download& d, const Scenario& s) {
    const DownloadRecord& r = engine.record(d);
    EXPECT_TRUE(d.closed());
    if (d.observer.finished) {
        EXPECT_NE(s.allowed, Allowed::Fail) << "completed: " << r.SavePath.toStdString();
        EXPECT_EQ(FileSha256(r.SavePath), Sha256(HttpFaultServer::Body(s.name, s.size)))
            << "a file reported complete is the file served";
        EXPECT_EQ(r.BytesDone.bytes(), s.size);
        const QFileInfo saved(r.SavePath);
        EXPECT_EQ(saved.canonicalPath(), QFileInfo(engine.downloads()).canonicalFilePath())
            << r.SavePath.toStdString();
        EXPECT_TRUE(SafeFileName(saved.fileName())) << saved.fileName().toStdString();
        return true;
    }
    EXPECT_NE(s.allowed, Allowed::Complete) << Reasons(d).toStdString();
    const ListEntryState state = StateOf(r);
    EXPECT_TRUE(state == ListEntryState::Failed || state == ListEntryState::Paused)
        << StateName(state) << ": " << Reasons(d).toStdString();
    EXPECT_TRUE(HasReason(d)) << "a download that ends unfinished says why";
    if (!s.why.isEmpty()) {
        EXPECT_TRUE(Reasons(d).contains(s.why, Qt::CaseInsensitive)) << Reasons(d).toStdString();
    }
    return false;
}

struct Outside {
    QString path;
    bool existed;
    QByteArray sha;
};

std::vector<Outside> Snapshot(const QStringList& paths) {
    std::vector<Outside> snapshot;
    for (const QString& path : paths) {
        snapshot.push_back({path, QFileInfo::exists(path), FileSha256(path)});
    }
    return snapshot;
}

void ExpectUnchanged(const std::vector<Outside>& before) {
    for (const Outside& o : before) {
        EXPECT_EQ(QFileInfo::exists(o.path), o.existed) << o.path.toStdString();
        EXPECT_EQ(FileSha256(o.path), o.sha) << o.path.toStdString();
    }
}

QStringList Requests(const QString& logPath, const QString& pathStart) {
    QStringList found;
    for (const QByteArray& raw : ReadFile(logPath).split('\n')) {
        const QString line = QString::fromLatin1(raw);
        if (line.startsWith(QStringLiteral("GET ") + pathStart)) {
            found << line;
        }
    }
    return found;
}

}  // namespace

TEST(HttpFaults, EachFaultEndsCompleteOrClearlyFailed) {
    Sandbox box;
    const QString logPath = box.file(QStringLiteral("requests.log"));
    HttpFaultServer server;
    ASSERT_TRUE(server.start(logPath)) << server.error().toStdString();

    // All but the ones with tests of their own below.
    const QSet<QString> elsewhere = {"chunk-negative", "chunk-huge", "chunk-nonhex", "cd-dotdot",
                                     "short-close"};
    std::vector<Scenario> scenarios;
    for (const Scenario& s : EveryScenario()) {
        if (!elsewhere.contains(s.name)) {
            scenarios.push_back(s);
        }
    }

    const QSet<QString> before = Tree(box.path());
    const auto outside = Snapshot(OutsideTargets(box) + QStringList{"/etc/passwd"});
    Engine engine(box.path());
    engine.settings.MaxSegments = 8;
    engine.ctx.changedFile = EngineContext::ChangedFile::StartAgain;
    std::map<QString, Download*> downloads;
    std::vector<Download*> all;
    for (const Scenario& s : scenarios) {
        // Names of their own: two downloads of one name at once are not what this test is about.
        downloads[s.name] =
            &engine.fetch(server.url(s.name, s.size, s.name + QStringLiteral(".bin")));
        all.push_back(downloads[s.name]);
    }
    // A bound for a hang, far beyond any run that works; the ones still open are named.
    if (!WaitClosed(all, std::chrono::seconds(90))) {
        for (const auto& [name, d] : downloads) {
            const DownloadRecord& r = engine.record(*d);
            EXPECT_TRUE(d->closed())
                << name.toStdString() << " never ended: " << r.BytesDone.bytes()
                << " bytes, segments " << Ranges(r).join(u',').toStdString() << ", "
                << Requests(logPath, u'/' + name + u'/').size() << " requests";
        }
        return;
    }

    QSet<QString> savedNames;
    for (const Scenario& s : scenarios) {
        SCOPED_TRACE(s.name.toStdString());
        const Download& d = *downloads[s.name];
        if (ExpectAllowedOutcome(engine, d, s)) {
            const QString name = QFileInfo(engine.record(d).SavePath).fileName();
            EXPECT_FALSE(savedNames.contains(name)) << "one file does not replace another";
            savedNames.insert(name);
        }
    }

    // A loop is followed as far as the limit and no further.
    EXPECT_GT(Requests(logPath, QStringLiteral("/loop-")).size(), 20);
    EXPECT_LT(Requests(logPath, QStringLiteral("/loop-")).size(), 30);

    const QStringList strays =
        Strays(before, Tree(box.path()),
               {QStringLiteral("downloads/"), QStringLiteral("temp/"),
                QStringLiteral("requests.log"), QStringLiteral("Brenloft.dat")});
    EXPECT_EQ(strays, QStringList{});
    ExpectUnchanged(outside);
}

// A segment's connection closed cleanly before its Content-Length: the watchdog asks for the
// rest, and the file is whole.
TEST(HttpFaults, BodyCutShortIsResumed) {
    Sandbox box;
    const QString logPath = box.file(QStringLiteral("requests.log"));
    HttpFaultServer server;
    ASSERT_TRUE(server.start(logPath)) << server.error().toStdString();

    const Scenario s{"short-close", 40000, Allowed::Either, {}};  // under 50,000: one segment
    Engine engine(box.path());
    Download& d = engine.fetch(server.url(s.name, s.size));
    ASSERT_TRUE(WaitClosed({&d}, std::chrono::seconds(90)));
    if (ExpectAllowedOutcome(engine, d, s)) {
        const QStringList requests = Requests(logPath, QStringLiteral("/short-close/"));
        // The probe, the cut request, and one continuing after the bytes received.
        ASSERT_GE(requests.size(), 3) << requests.join(u'\n').toStdString();
        EXPECT_EQ(requests.last(),
                  QStringLiteral("GET /short-close/40000/file.bin 20000 39999 bytes=20000-39999"));
    }
    EXPECT_EQ(FolderEntries(engine.temp()), QStringList{});
}

// Chunk sizes that are negative, too large or not hexadecimal: the download stops, paused, and
// says so, instead of fetching the same damaged body again and again.
TEST(HttpFaults, DamagedChunkSizesFail) {
    Sandbox box;
    const QString logPath = box.file(QStringLiteral("requests.log"));
    HttpFaultServer server;
    ASSERT_TRUE(server.start(logPath)) << server.error().toStdString();
    Engine engine(box.path());
    std::vector<Scenario> scenarios;
    std::vector<Download*> all;
    for (const QString& name : {QStringLiteral("chunk-negative"), QStringLiteral("chunk-huge"),
                                QStringLiteral("chunk-nonhex")}) {
        scenarios.push_back({name, 200000, Allowed::Fail, {}});
        all.push_back(&engine.fetch(server.url(name, 200000)));
    }
    ASSERT_TRUE(WaitClosed(all, std::chrono::seconds(90)));
    for (std::size_t i = 0; i < all.size(); ++i) {
        SCOPED_TRACE(scenarios[i].name.toStdString());
        ExpectAllowedOutcome(engine, *all[i], scenarios[i]);
    }
}

// Two names that both fall back to the same safe name ("." and ".."), downloading at once: each
// file is its own.
TEST(HttpFaults, NamesFallingBackAlikeKeepTheirOwnBytes) {
    Sandbox box;
    HttpFaultServer server;
    ASSERT_TRUE(server.start(box.file(QStringLiteral("requests.log"))))
        << server.error().toStdString();
    Engine engine(box.path());
    const std::vector<Scenario> scenarios = {{"cd-dot", 120000, Allowed::Complete, {}},
                                             {"cd-dotdot", 120000, Allowed::Complete, {}}};
    std::vector<Download*> all;
    for (const Scenario& s : scenarios) {
        all.push_back(&engine.fetch(server.url(s.name, s.size, s.name + QStringLiteral(".bin"))));
    }
    ASSERT_TRUE(WaitClosed(all, std::chrono::seconds(90)));
    for (std::size_t i = 0; i < all.size(); ++i) {
        SCOPED_TRACE(scenarios[i].name.toStdString());
        ExpectAllowedOutcome(engine, *all[i], scenarios[i]);
    }
}
