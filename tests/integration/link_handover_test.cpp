// Magnet links handed to the desktop's torrent program from the add path: a stand-in registered
// with xdg-mime in the test's own home, whose program writes down the link it was started with.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>

#include "engine/queue/add_download.h"
#include "engine/queue/download_queue.h"
#include "engine/queue/session_windows.h"
#include "integration/system/link_handover.h"
#include "tests/support/engine_rig.h"
#include "tests/support/test_files.h"

TEST(LinkHandover, MagnetLinksFromAddingReachTheDesktopsProgram) {
    Sandbox box;
    // Nothing of the machine's desktop: its programs and defaults stay out of reach.
    for (const char* name :
         {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_DATA_DIRS", "XDG_CONFIG_DIRS"}) {
        qputenv(name, box.path().toUtf8());
    }
    qputenv("XDG_CURRENT_DESKTOP", "X-Generic");
    // xdg-open hands links over only in a graphical session; the stand-in draws nothing.
    qputenv("DISPLAY", ":0");
    EngineRig engine;
    NoSessionWindows windows;
    DownloadQueue queue{engine.ctx, windows};
    ScriptedAddPrompts prompts;
    QStringList told;  // the program named for each link, empty for none
    LinkHandover handover(
        [&](const QString&, OtherProgramLink, const QString& program) { told << program; });
    engine.ctx.handOverLink = [&](const QString& link) {
        handover.handOver(link, LinkForOtherProgram(link));
    };
    const auto add = [&](const QString& url) {
        AddRequest request;
        request.url = url;
        EXPECT_EQ(AddDownload(engine.ctx, queue, prompts, request), 0);
    };
    const QString magnet = QStringLiteral("magnet:?xt=urn:btih:0123456789abcdef&dn=a+b");
    const QString log = box.file(QStringLiteral("handler.sh.log"));

    add(magnet);
    ASSERT_TRUE(WaitFor([&] { return !told.isEmpty(); }));
    EXPECT_EQ(told, QStringList{QString()}) << "no program takes magnet links yet";

    const QString script = box.file(QStringLiteral("handler.sh"));
    ASSERT_TRUE(WriteFile(script, "#!/bin/sh\nprintf '%s\\n' \"$1\" >> \"$0.log\"\n"));
    QFile(script).setPermissions(QFile::ReadOwner | QFile::ExeOwner);
    ASSERT_TRUE(QDir(box.path()).mkpath(QStringLiteral("applications")));
    ASSERT_TRUE(WriteFile(box.file(QStringLiteral("applications/handler.desktop")),
                          "[Desktop Entry]\nType=Application\nName=Stand-in Torrents\nExec=" +
                              script.toUtf8() + " %u\n"));
    ASSERT_EQ(QProcess::execute(QStringLiteral("xdg-mime"),
                                {QStringLiteral("default"), QStringLiteral("handler.desktop"),
                                 QStringLiteral("x-scheme-handler/magnet")}),
              0);
    add(magnet);
    ASSERT_TRUE(WaitFor([&] { return !ReadFile(log).isEmpty(); }));
    EXPECT_EQ(told, (QStringList{QString(), QStringLiteral("Stand-in Torrents")}));
    EXPECT_EQ(ReadFile(log), (magnet + u'\n').toUtf8());
    EXPECT_EQ(engine.list.DownloadCount, 0);
    EXPECT_EQ(prompts.errors, QStringList());
}
