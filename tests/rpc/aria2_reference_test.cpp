// The same requests to the real aria2c and to our dispatcher, over the same downloads from
// nginx: the answers must have aria2's shapes (keys, JSON types, error codes and words).

#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QTcpSocket>

#include "engine/queue/download_queue.h"
#include "engine/queue/session_windows.h"
#include "rpc/aria2_dispatch.h"
#include "rpc/entry_status.h"
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
        return {named(ours.handle(fill(ourGids)), ourGids),
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
        const QJsonObject mine = ours.handle(request);
        EXPECT_EQ(mine, aria2.ask(request)) << QJsonDocument(mine).toJson().toStdString();
    }
    // A notification is carried out, and answered with nothing.
    EXPECT_EQ(ours.handle({{QStringLiteral("method"), QStringLiteral("aria2.getVersion")}}),
              QJsonObject{});
}
