// brenloft-get --enable-rpc driven over HTTP as aria2's clients drive it, ended by SIGTERM and
// started again in the same folder, then ended by a client.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>

#include "tests/rpc/rpc_test_client.h"
#include "tests/support/get_command.h"
#include "tests/support/nginx_peer.h"
#include "tests/support/sandbox.h"
#include "tests/support/test_files.h"

namespace {

struct Daemon {
    QProcess process;
    quint16 port = 0;
    QString secret;
    QString told;  // its standard error so far

    // Starts it on any free port and reads where it listens and its secret from what it tells.
    bool start(const Sandbox& box, const QString& folder) {
        PrepareGet(process, box, box.path());
        process.setReadChannel(QProcess::StandardError);
        if (!StartGet(process, {"-n", "2", "-d", folder, "--enable-rpc", "--rpc-listen-port=0"})) {
            return false;
        }
        const QRegularExpression at(R"(127\.0\.0\.1:(\d+)/jsonrpc)");
        const QRegularExpression kept(R"(secret: (\S+) \(kept)");
        while (secret.isEmpty() && process.waitForReadyRead(10000)) {
            told += QString::fromLocal8Bit(process.readAllStandardError());
            port = static_cast<quint16>(at.match(told).captured(1).toUInt());
            secret = kept.match(told).captured(1);
        }
        return port != 0 && !secret.isEmpty();
    }
    QJsonValue call(const QString& method, QJsonArray params, const QString& token) {
        params.prepend(QStringLiteral("token:") + token);
        const QJsonObject request{
            {"jsonrpc", "2.0"}, {"id", "t"}, {"method", method}, {"params", params}};
        const QList<HttpReply> replies =
            AskHttp(port, Post(QJsonDocument(request).toJson(QJsonDocument::Compact)));
        const QJsonObject answer =
            replies.isEmpty() ? QJsonObject{} : QJsonDocument::fromJson(replies[0].body).object();
        return answer.contains(u"error") ? answer[u"error"][u"code"] : answer[u"result"];
    }
    QString status(const QString& gid) {
        return call("aria2.tellStatus", {gid, QJsonArray{"status"}}, secret)[u"status"].toString();
    }
    bool endedWithZero() {
        return process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit &&
               process.exitCode() == 0;
    }
};

}  // namespace

TEST(BrenloftGetDaemon, RestartResumesWhatRanKeepsWhatWasPausedAndEndsOnShutdown) {
    Sandbox box;
    for (const char* folder : {"home", "served", "out"}) {
        ASSERT_TRUE(QDir().mkpath(box.file(QLatin1String(folder))));
    }
    const QByteArray data = RandomBytes(2 * 1024 * 1024);
    ASSERT_TRUE(WriteFile(box.file("served/one.bin"), data));
    ASSERT_TRUE(WriteFile(box.file("served/two.bin"), data));
    NginxPeer nginx(box.file("served"));
    // About eight seconds over two connections: still running when the first run ends.
    nginx.addRateLimitedLocation("/slow/", 128 * 1024);
    ASSERT_TRUE(nginx.start()) << nginx.error().toStdString();
    const QString out = box.file("out");

    Daemon first;
    ASSERT_TRUE(first.start(box, out)) << first.told.toStdString();
    EXPECT_EQ(first.call("aria2.getVersion", {}, "wrong"), QJsonValue(1));
    const QString one =
        first.call("aria2.addUri", {QJsonArray{nginx.url("/slow/one.bin")}}, first.secret)
            .toString();
    const QString two =
        first.call("aria2.addUri", {QJsonArray{nginx.url("/slow/two.bin")}}, first.secret)
            .toString();
    // Its list keeps no file outside its folder: a client may not place one there.
    EXPECT_EQ(
        first.call("aria2.addUri",
                   {QJsonArray{nginx.url("/one.bin")}, QJsonObject{{"dir", box.file("home")}}},
                   first.secret),
        QJsonValue(1));
    EXPECT_EQ(first.call("aria2.pause", {two}, first.secret).toString(), two);
    ASSERT_TRUE(WaitFor([&] { return first.status(two) == "paused"; }));
    ASSERT_EQ(first.status(one), "active");
    first.process.terminate();
    ASSERT_TRUE(first.endedWithZero()) << first.process.readAllStandardError().toStdString();

    EXPECT_EQ(QFile(out + "/.brenloft-get/rpc-secret").permissions(),
              QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);

    Daemon second;
    ASSERT_TRUE(second.start(box, out)) << second.told.toStdString();
    EXPECT_EQ(second.secret, first.secret);
    EXPECT_TRUE(WaitFor([&] { return second.status(one) == "complete"; }, std::chrono::minutes(2)));
    EXPECT_EQ(second.status(two), "paused");
    EXPECT_EQ(FileSha256(out + "/one.bin"), Sha256(data));
    EXPECT_EQ(second.call("aria2.shutdown", {}, second.secret).toString(), "OK");
    EXPECT_TRUE(second.endedWithZero()) << second.process.readAllStandardError().toStdString();
}
