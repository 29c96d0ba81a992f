#include <gtest/gtest.h>
#include <signal.h>

#include <QFile>
#include <memory>
#include <vector>

#include "core/download_list/download_list.h"
#include "tests/app/brenloft_program.h"
#include "tests/support/nginx_peer.h"

TEST(BrenloftSingleInstance, LaterStartsAndTheHandOffFileFeedTheRunningOne) {
    Sandbox www;
    const QByteArray second = RandomBytes(256 * 1024);
    const QByteArray handed = RandomBytes(300 * 1024);
    ASSERT_TRUE(WriteFile(www.file(QStringLiteral("second.bin")), second));
    ASSERT_TRUE(WriteFile(www.file(QStringLiteral("handed.bin")), handed));
    NginxPeer nginx(www.path());
    ASSERT_TRUE(nginx.start()) << nginx.error().toStdString();
    const QString secondUrl = nginx.url(QStringLiteral("/second.bin"));
    const QString handedUrl = nginx.url(QStringLiteral("/handed.bin"));
    const QString handOff = QStringLiteral("templine.dat");

    BrenloftHome home;
    BrenloftRun first(home);
    ASSERT_TRUE(first.start());
    ASSERT_TRUE(WaitFor([&] { return ListensForLaterStarts(home); }));

    {
        BrenloftRun later(home);
        ASSERT_TRUE(later.start({secondUrl}));
        ASSERT_TRUE(later.waitForExit());
        EXPECT_TRUE(later.endedCleanly());
    }
    EXPECT_TRUE(first.running());
    EXPECT_TRUE(
        WaitFor([&] { return HoldsBytes(home.downloads(QStringLiteral("second.bin")), second); },
                std::chrono::seconds(20)));
    EXPECT_FALSE(QFile::exists(home.app(handOff)));

    // Text that is no address is taken away as well, and adds nothing.
    ASSERT_TRUE(home.writeHandOff("not an address"));
    EXPECT_TRUE(WaitFor([&] { return !QFile::exists(home.app(handOff)); }));
    // The line as a shell or a browser leaves it: quoted, with blanks around.
    ASSERT_TRUE(home.writeHandOff(" \"" + handedUrl.toUtf8() + "\" "));
    EXPECT_TRUE(WaitFor([&] { return !QFile::exists(home.app(handOff)); }));
    EXPECT_TRUE(
        WaitFor([&] { return HoldsBytes(home.downloads(QStringLiteral("handed.bin")), handed); },
                std::chrono::seconds(20)));

    ASSERT_TRUE(first.stopWith(SIGTERM));
    EXPECT_TRUE(first.endedCleanly());
    DownloadListState list;
    ASSERT_TRUE(home.savedList(list));
    EXPECT_EQ(list.DownloadCount, 2);
    for (const QString& url : {secondUrl, handedUrl}) {
        const int slot = SlotOf(list, url);
        ASSERT_NE(slot, 0) << url.toStdString();
        EXPECT_EQ(StateOf(list.DownloadList[slot]), ListEntryState::Finished) << url.toStdString();
    }
}

TEST(BrenloftSingleInstance, LaterStartsAtOnceAllArriveOnceAndEachInItsOrder) {
    Sandbox www;
    NginxPeer nginx(www.path());
    ASSERT_TRUE(nginx.start()) << nginx.error().toStdString();
    QStringList urls;
    for (int i = 0; i < 12; ++i) {
        const QString name = QStringLiteral("f%1.bin").arg(i);
        ASSERT_TRUE(WriteFile(www.file(name), RandomBytes(4096)));
        urls.append(nginx.url(u'/' + name));
    }
    BrenloftHome home;
    BrenloftRun first(home);
    ASSERT_TRUE(first.start());
    ASSERT_TRUE(WaitFor([&] { return ListensForLaterStarts(home); }));
    // Ten at once, as a file manager opening several links starts them; then one start with
    // two addresses and something that is none.
    std::vector<std::unique_ptr<BrenloftRun>> later;
    const auto handOver = [&](const QStringList& arguments) {
        later.push_back(std::make_unique<BrenloftRun>(home));
        return later.back()->start(arguments);
    };
    for (int i = 0; i < 10; ++i) {
        ASSERT_TRUE(handOver({urls[i]}));
    }
    for (const auto& run : later) {
        ASSERT_TRUE(run->waitForExit());
        EXPECT_TRUE(run->endedCleanly());
    }
    ASSERT_TRUE(handOver({urls[10], QStringLiteral("x"), urls[11]}));
    ASSERT_TRUE(later.back()->waitForExit());
    EXPECT_TRUE(later.back()->endedCleanly());
    ASSERT_TRUE(first.stopWith(SIGTERM));
    DownloadListState list;
    ASSERT_TRUE(home.savedList(list));
    QStringList listed;
    for (int slot = 1; slot <= list.DownloadCount; ++slot) {
        listed.append(list.DownloadList[slot].Url);
    }
    ASSERT_EQ(listed.size(), urls.size());
    EXPECT_EQ(listed.mid(10), urls.mid(10));
    listed.sort();
    urls.sort();
    EXPECT_EQ(listed, urls);
}
