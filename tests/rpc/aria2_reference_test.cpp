// The same requests to the real aria2c and to our dispatcher, over the same downloads from
// nginx: the answers must have aria2's shapes (keys, JSON types, error codes and words).

#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QProcess>
#include <QTcpSocket>

#include "engine/queue/download_queue.h"
#include "engine/queue/session_windows.h"
#include "rpc/aria2_dispatch.h"
#include "rpc/entry_status.h"
#include "rpc/gid_table.h"
#include "tests/support/engine_rig.h"
#include "tests/support/nginx_peer.h"
#include "tests/support/peer_process.h"
#include "tests/support/test_files.h"

namespace {

const QString Secret = QStringLiteral("s3cret");

class Aria2Peer : public ServedPeer {
public:
    Aria2Peer()
        : ServedPeer({QStringLiteral("aria2c"),
                      QStringLiteral("/usr/bin/aria2c"),
                      QStringLiteral("aria2"),
                      QStringLiteral("aria2"),
                      QStringLiteral("http"),
                      {}}) {}
    bool start() {
        port_ = FreeLoopbackPort();
        return installed() &&
               launch(QStringLiteral("/usr/bin/aria2c"),
                      {QStringLiteral("--enable-rpc"), QStringLiteral("--no-conf"),
                       QStringLiteral("--rpc-listen-port=%1").arg(port_),
                       QStringLiteral("--rpc-secret=") + Secret, QStringLiteral("-d"), folder(),
                       QStringLiteral("--quiet"), QStringLiteral("--max-concurrent-downloads=1"),
                       QStringLiteral("--save-session=") + inFolder(QStringLiteral("session"))},
                      [this] { return LoopbackPortAccepts(port_); });
    }
    // One request over HTTP on a connection of its own.
    QJsonObject ask(const QJsonObject& request) const {
        QTcpSocket socket;
        socket.connectToHost(QStringLiteral("127.0.0.1"), quint16(port()));
        const QByteArray body = QJsonDocument(request).toJson(QJsonDocument::Compact);
        socket.write(
            "POST /jsonrpc HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n"
            "Content-Length: " +
            QByteArray::number(body.size()) + "\r\n\r\n" + body);
        QByteArray answer;
        while (socket.waitForReadyRead(10000) || socket.bytesAvailable() > 0) {
            answer += socket.readAll();
        }
        return QJsonDocument::fromJson(answer.mid(answer.indexOf("\r\n\r\n") + 4)).object();
    }
};

// The dispatcher's answer, once it comes.
QJsonObject Ask(RpcDispatch& dispatch, const QJsonObject& request) {
    std::optional<QJsonObject> answer;
    dispatch.handle(request, [&answer](const QJsonObject& a) { answer = a; });
    EXPECT_TRUE(WaitFor([&] { return answer.has_value(); }));
    return answer.value_or(QJsonObject{});
}

// The JSON types of a value, its keys' and its first element's: what a client relies on.
QJsonValue Shape(const QJsonValue& value) {
    static const QStringList notKept{QStringLiteral("bitfield"), QStringLiteral("verifiedLength"),
                                     QStringLiteral("followedBy"), QStringLiteral("following")};
    if (value.isObject()) {
        QJsonObject shape;
        const QJsonObject object = value.toObject();
        for (auto it = object.begin(); it != object.end(); ++it) {
            if (!notKept.contains(it.key())) {
                shape.insert(it.key(), Shape(it.value()));
            }
        }
        return shape;
    }
    if (value.isArray()) {
        return value.toArray().isEmpty() ? QJsonArray{} : QJsonArray{Shape(value.toArray()[0])};
    }
    static const char* names[] = {"null", "bool", "number", "string", "array", "object"};
    return QLatin1String(names[int(value.type())]);
}

class Aria2Reference : public ::testing::Test {
protected:
    void SetUp() override {
        served = rig.file(QStringLiteral("served"));
        ASSERT_TRUE(QDir().mkpath(served));
        ASSERT_TRUE(WriteFile(served + QStringLiteral("/whole.bin"), RandomBytes(50000)));
        ASSERT_TRUE(WriteFile(served + QStringLiteral("/held.bin"), RandomBytes(50000)));
        ASSERT_TRUE(WriteFile(served + QStringLiteral("/long.bin"), RandomBytes(4000000)));
        ASSERT_TRUE(WriteFile(served + QStringLiteral("/next.bin"), RandomBytes(50000)));
        // One download at a time on both sides, so that a later one waits for the queue.
        rig.settings.MaxSimulDownlads = 1;
        nginx = std::make_unique<NginxPeer>(served);
        nginx->addRateLimitedLocation(QStringLiteral("/slow/"), 2000);
        nginx->addRateLimitedLocation(QStringLiteral("/paced/"), 50000);
        nginx->logRequestHeaders();
        ASSERT_TRUE(nginx->start()) << nginx->error().toStdString();
        ASSERT_TRUE(aria2.start()) << aria2.error().toStdString();
    }

    // Both sides' answers, each GID they named written back as its name ("$paused").
    std::pair<QJsonObject, QJsonObject> both(const QString& method, QJsonArray params,
                                             bool secret = true) {
        const auto fill = [&](const std::map<QString, QString>& names) {
            QJsonArray filled;
            for (const QJsonValue& p : params) {
                filled.append(p.isString() && names.contains(p.toString())
                                  ? QJsonValue(names.at(p.toString()))
                                  : p);
            }
            if (secret) {
                filled.prepend(QStringLiteral("token:") + Secret);
            }
            return QJsonObject{{QStringLiteral("jsonrpc"), QStringLiteral("2.0")},
                               {QStringLiteral("id"), 7},
                               {QStringLiteral("method"), method},
                               {QStringLiteral("params"), filled}};
        };
        const auto named = [](QJsonObject answer, const std::map<QString, QString>& names) {
            QByteArray text = QJsonDocument(answer).toJson();
            for (const auto& [name, gid] : names) {
                text.replace(gid.toLatin1(), name.toLatin1());
            }
            return QJsonDocument::fromJson(text).object();
        };
        return {named(Ask(ours, fill(ourGids)), ourGids),
                named(aria2.ask(fill(theirGids)), theirGids)};
    }

    // Adds the address on both sides as `name`, and waits until both call it `status`.
    void add(const QString& name, const QString& path, const QString& status,
             const QJsonObject& options = {}) {
        const auto [mine, theirs] =
            both(QStringLiteral("aria2.addUri"), {QJsonArray{nginx->url(path)}, options});
        ourGids[name] = mine[u"result"].toString();
        theirGids[name] = theirs[u"result"].toString();
        ASSERT_EQ(ourGids[name].size(), 16) << QJsonDocument(mine).toJson().toStdString();
        settle(name, status);
    }

    void settle(const QString& name, const QString& status) {
        std::pair<QJsonObject, QJsonObject> last;
        EXPECT_TRUE(WaitFor(
            [&] {
                last = both(QStringLiteral("aria2.tellStatus"), {name});
                return last.first[u"result"][u"status"].toString() == status &&
                       last.second[u"result"][u"status"].toString() == status;
            },
            std::chrono::seconds(30)))
            << QJsonDocument(QJsonArray{last.first, last.second}).toJson().toStdString();
    }

    EngineRig rig;
    NoSessionWindows windows;
    DownloadQueue queue{rig.ctx, windows};
    Aria2Dispatch ours{rig.ctx, queue, Secret};
    Aria2Peer aria2;
    QString served;
    std::unique_ptr<NginxPeer> nginx;
    std::map<QString, QString> ourGids;
    std::map<QString, QString> theirGids;
};

}  // namespace

TEST_F(Aria2Reference, AnswersEveryMethodInAria2sShapes) {
    const QJsonObject paused{{QStringLiteral("pause"), QStringLiteral("true")},
                             {QStringLiteral("out"), QStringLiteral("kept.bin")}};
    add(QStringLiteral("$paused"), QStringLiteral("/held.bin"), QStringLiteral("paused"), paused);
    add(QStringLiteral("$complete"), QStringLiteral("/whole.bin"), QStringLiteral("complete"));
    add(QStringLiteral("$error"), QStringLiteral("/missing.bin"), QStringLiteral("error"));
    add(QStringLiteral("$active"), QStringLiteral("/slow/long.bin"), QStringLiteral("active"));
    add(QStringLiteral("$queued"), QStringLiteral("/slow/next.bin"), QStringLiteral("waiting"));
    const QJsonObject files =
        both(QStringLiteral("aria2.getFiles"), {QStringLiteral("$paused")}).first;
    EXPECT_EQ(files[u"result"][0][u"path"].toString().toStdString(),
              (rig.downloads() + QStringLiteral("kept.bin")).toStdString());
    const auto list = [](auto... items) { return QJsonArray{items...}; };
    const QJsonObject call{{QStringLiteral("methodName"), QStringLiteral("aria2.getUris")},
                           {QStringLiteral("params"), list(QStringLiteral("token:no"))}};
    const QJsonObject badChecksum{{QStringLiteral("checksum"), QStringLiteral("sha-1=12")}};
    const QJsonObject splitFour{{QStringLiteral("split"), QStringLiteral("4")},
                                {QStringLiteral("user-agent"), QStringLiteral("Fetcher/2")}};
    const QJsonObject badSplit{{QStringLiteral("split"), QStringLiteral("many")}};
    const struct {
        const char* method;
        QJsonArray params;
        bool whole = true;  // the same answer, not only its shape
        bool secret = true;
        bool some = false;  // aria2's answer has more keys: ours must be among them
    } rows[] = {
        {"aria2.getVersion", {}, false},
        {"aria2.getSessionInfo", {}, false},
        {"aria2.tellStatus", {QStringLiteral("$paused")}, false},
        {"aria2.tellStatus", {QStringLiteral("$complete")}, false},
        {"aria2.tellStatus", {QStringLiteral("$error")}, false},
        {"aria2.tellStatus",
         {QStringLiteral("$active"), list(QStringLiteral("gid"), QStringLiteral("status"))}},
        {"aria2.tellStatus", {QStringLiteral("zz")}},
        {"aria2.tellStatus", {QStringLiteral("0123456789abcdef")}},
        {"aria2.tellStatus", {}},
        {"aria2.tellActive", {}, false},
        {"aria2.tellWaiting", {0, 10}, false},
        {"aria2.tellWaiting", {QStringLiteral("0"), 10}},
        {"aria2.tellStopped", {-1, 1, list(QStringLiteral("gid"))}},
        {"aria2.getUris", {QStringLiteral("$paused")}},
        {"aria2.getFiles", {QStringLiteral("$complete")}, false},
        {"aria2.getServers", {QStringLiteral("$active")}, false},
        {"aria2.getServers", {QStringLiteral("$paused")}},
        {"aria2.getPeers", {QStringLiteral("$paused")}},
        {"aria2.getGlobalStat", {}, false},
        {"aria2.getOption", {QStringLiteral("$paused")}, false, true, true},
        {"aria2.getGlobalOption", {}, false, true, true},
        {"aria2.changePosition", {QStringLiteral("$queued"), 0, QStringLiteral("POS_SET")}},
        {"aria2.changePosition", {QStringLiteral("$queued"), 1, QStringLiteral("POS_CUR")}},
        {"aria2.changePosition", {QStringLiteral("$paused"), 0, QStringLiteral("POS_END")}},
        {"aria2.changePosition", {QStringLiteral("$complete"), 0, QStringLiteral("POS_SET")}},
        {"aria2.changePosition", {QStringLiteral("$queued"), 0, QStringLiteral("POS_NEAR")}},
        {"aria2.tellWaiting", {0, 10, list(QStringLiteral("gid"))}},
        {"aria2.changeOption", {QStringLiteral("$queued"), splitFour}},
        {"aria2.changeOption", {QStringLiteral("$queued"), badSplit}},
        {"aria2.changeGlobalOption",
         {QJsonObject{{QStringLiteral("max-concurrent-downloads"), QStringLiteral("1")}}}},
        {"aria2.changeGlobalOption",
         {QJsonObject{{QStringLiteral("max-overall-download-limit"), QStringLiteral("-5")}}}},
        {"aria2.changeUri",
         {QStringLiteral("$queued"), 1, list(nginx->url(QStringLiteral("/slow/next.bin"))),
          list(nginx->url(QStringLiteral("/slow/whole.bin")))}},
        {"aria2.changeUri", {QStringLiteral("$queued"), 2, list(), list()}},
        {"system.listNotifications", {}, false, false},
        {"system.multicall", {list(call)}, true, false},
        {"aria2.nothing", {}},
        {"aria2.getGlobalStat", {}, true, false},
        {"aria2.getGlobalStat", {QStringLiteral("token:s3cre")}, true, false},
        {"aria2.addTorrent", {QStringLiteral("AAAA")}, false},
        {"aria2.addUri", {QJsonArray{}}},
        {"aria2.addUri", {list(nginx->url(QStringLiteral("/x"))), badChecksum}},
        {"aria2.pause", {QStringLiteral("$complete")}},
        {"aria2.unpause", {QStringLiteral("$error")}},
        {"aria2.remove", {QStringLiteral("$error")}},
        {"aria2.pause", {QStringLiteral("$queued")}},
        {"aria2.tellStatus", {QStringLiteral("$queued"), list(QStringLiteral("status"))}},
        {"aria2.removeDownloadResult", {QStringLiteral("$queued")}},
        {"aria2.saveSession", {}},
        {"aria2.remove", {QStringLiteral("$paused")}},
        {"aria2.tellStatus", {QStringLiteral("$paused")}},
        {"aria2.forceRemove", {QStringLiteral("$active")}},
    };
    for (const auto& row : rows) {
        auto [mine, theirs] = both(QLatin1String(row.method), row.params, row.secret);
        if (row.some) {
            theirs[u"result"] =
                KeepKeys(theirs[u"result"].toObject(), mine[u"result"].toObject().keys());
        }
        const std::string context = QJsonDocument(QJsonArray{mine, theirs}).toJson().toStdString();
        EXPECT_EQ(Shape(mine), Shape(theirs)) << context;
        EXPECT_EQ(mine[u"error"][u"code"], theirs[u"error"][u"code"]) << context;
        if (row.whole) {
            EXPECT_EQ(mine, theirs) << context;
        }
    }
    const QJsonObject options = both(QStringLiteral("aria2.getOption"), {QStringLiteral("$queued")})
                                    .first[u"result"]
                                    .toObject();
    EXPECT_EQ(options[u"split"], QStringLiteral("4"));
    EXPECT_EQ(options[u"user-agent"], QStringLiteral("Fetcher/2"));
    // What was running stays as removed until it is forgotten.
    settle(QStringLiteral("$active"), QStringLiteral("removed"));
    EXPECT_EQ(both(QStringLiteral("aria2.removeDownloadResult"), {QStringLiteral("$active")})
                  .first[u"result"],
              QStringLiteral("OK"));
    both(QStringLiteral("aria2.purgeDownloadResult"), {});
    const auto [mine, theirs] = both(QStringLiteral("aria2.tellStopped"), {0, 10});
    EXPECT_EQ(mine, theirs);
}

TEST_F(Aria2Reference, RefusesMalformedRequestsWithAria2sCodes) {
    const QJsonObject requests[] = {
        {{QStringLiteral("id"), 1}, {QStringLiteral("method"), 5}},
        {{QStringLiteral("id"), 1},
         {QStringLiteral("method"), QStringLiteral("aria2.getVersion")},
         {QStringLiteral("params"), QJsonObject{}}},
    };
    for (const QJsonObject& request : requests) {
        const QJsonObject mine = Ask(ours, request);
        EXPECT_EQ(mine, aria2.ask(request)) << QJsonDocument(mine).toJson().toStdString();
    }
    // A notification is carried out, and answered with nothing.
    EXPECT_EQ(Ask(ours, {{QStringLiteral("method"), QStringLiteral("aria2.getVersion")}}),
              QJsonObject{});
}

// Brenloft's own methods, which answer once a server has: an archive's table of contents from
// the disk and from the server while it downloads, a checked change of address refused; and a
// download's own split and user-agent reach its requests.
TEST_F(Aria2Reference, BrenloftsOwnMethodsAnswerWhenTheServerHas) {
    const QString script = QStringLiteral(
        "import os, sys, zipfile\n"
        "with zipfile.ZipFile(sys.argv[1], 'w') as z:\n"
        "    z.writestr('a.txt', 'a')\n"
        "    z.writestr('dir/b.bin', os.urandom(4000000))\n");
    ASSERT_EQ(QProcess::execute(QStringLiteral("python3"), {QStringLiteral("-c"), script,
                                                            served + QStringLiteral("/pack.zip")}),
              0);
    const auto call = [&](const char* method, QJsonArray params) {
        params.prepend(QStringLiteral("token:") + Secret);
        return Ask(ours, {{QStringLiteral("id"), 1},
                          {QStringLiteral("method"), QLatin1String(method)},
                          {QStringLiteral("params"), params}});
    };
    const auto add = [&](const QString& path, const QJsonObject& options, const QString& status) {
        const QString gid =
            call("aria2.addUri", {QJsonArray{nginx->url(path)}, options})[u"result"].toString();
        EXPECT_TRUE(WaitFor(
            [&] {
                const QJsonValue told = call("aria2.tellStatus", {gid})[u"result"];
                return told[u"status"] == status && told[u"totalLength"] != QStringLiteral("0");
            },
            std::chrono::seconds(30)));
        return gid;
    };
    const QString whole = add(QStringLiteral("/pack.zip"),
                              {{QStringLiteral("user-agent"), QStringLiteral("Fetcher/3")}},
                              QStringLiteral("complete"));
    const QString running =
        add(QStringLiteral("/paced/pack.zip"), {{QStringLiteral("split"), QStringLiteral("3")}},
            QStringLiteral("active"));
    const QJsonArray names{QStringLiteral("a.txt"), QStringLiteral("dir/b.bin")};
    for (const QString& gid : {whole, running}) {
        const QJsonObject listed = call("brenloft.getZipContents", {gid});
        QJsonArray paths;
        for (const QJsonValue& member : listed[u"result"].toArray()) {
            paths.append(member[u"path"]);
        }
        EXPECT_EQ(paths, names) << QJsonDocument(listed).toJson().toStdString();
    }
    EXPECT_TRUE(
        WaitFor([&] { return rig.record(GidTable(rig.list).find(running)).SegmentCount == 3; }));
    for (const NginxPeer::LoggedRequest& request : nginx->headerLog()) {
        if (request.request.contains(QStringLiteral(" /pack.zip"))) {
            EXPECT_EQ(request.userAgent, QStringLiteral("Fetcher/3"))
                << request.request.toStdString();
        }
    }
    EXPECT_EQ(call("brenloft.getChecksum", {whole})[u"result"][u"result"],
              QStringLiteral("unchecked"));
    const QJsonObject refused =
        call("brenloft.changeAddress", {running, nginx->url(QStringLiteral("/gone.zip"))});
    EXPECT_TRUE(refused[u"error"][u"message"].toString().startsWith(
        QStringLiteral("The new address was refused: ")))
        << QJsonDocument(refused).toJson().toStdString();
}
