// An aria2 client from npm (the aria2 package's Node library) drives the remote control over
// HTTP and over WebSocket: downloads from nginx added, watched to completion, paused, resumed
// and removed, and, over WebSocket, each step's notification heard.

#include <gtest/gtest.h>

#include <QProcess>

#include "engine/queue/download_queue.h"
#include "engine/queue/session_windows.h"
#include "rpc/remote_control.h"
#include "tests/support/engine_rig.h"
#include "tests/support/nginx_peer.h"
#include "tests/support/test_files.h"

TEST(RemoteControlClient, AnAria2ClientDrivesDownloadsOverHttpAndWebSocket) {
    EngineRig rig;
    NoSessionWindows windows;
    DownloadQueue queue{rig.ctx, windows};
    RemoteControlOptions options;
    options.transport.port = 0;
    options.secret = NewRpcSecret();
    RemoteControl control(rig.ctx, queue, options);
    ASSERT_EQ(control.start().toStdString(), "");

    const QString served = rig.file(QStringLiteral("served"));
    ASSERT_TRUE(QDir().mkpath(served + QStringLiteral("/slow")));
    NginxPeer nginx(served);
    nginx.addRateLimitedLocation(QStringLiteral("/slow/"), 20000);
    for (const QString& mode : {QStringLiteral("http"), QStringLiteral("ws")}) {
        ASSERT_TRUE(WriteFile(served + u'/' + mode + QStringLiteral(".bin"), RandomBytes(300000)));
        ASSERT_TRUE(WriteFile(served + QStringLiteral("/slow/") + mode + QStringLiteral(".bin"),
                              RandomBytes(4000000)));
    }
    ASSERT_TRUE(nginx.start()) << nginx.error().toStdString();

    for (const QString& mode : {QStringLiteral("http"), QStringLiteral("ws")}) {
        QProcess client;
        client.setProcessChannelMode(QProcess::MergedChannels);
        client.start(
            QStringLiteral(NODE_PROGRAM),
            {QStringLiteral(RPC_CLIENT_DIR "/client.mjs"), mode, QString::number(control.port()),
             options.secret, nginx.url(u'/' + mode + QStringLiteral(".bin")),
             nginx.url(QStringLiteral("/slow/") + mode + QStringLiteral(".bin"))});
        ASSERT_TRUE(WaitFor([&] { return client.state() == QProcess::NotRunning; },
                            std::chrono::seconds(90)));
        const QByteArray said = client.readAll();
        EXPECT_EQ(client.exitCode(), 0) << said.toStdString();
        EXPECT_EQ(said.trimmed(), (mode + QStringLiteral(": ok")).toUtf8());
    }
}
