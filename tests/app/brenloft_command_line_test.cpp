#include <gtest/gtest.h>
#include <signal.h>

#include <QDir>
#include <memory>
#include <vector>

#include "core/download_list/download_list.h"
#include "tests/app/brenloft_program.h"
#include "tests/support/nginx_peer.h"
#include "tests/support/peer_process.h"

TEST(BrenloftCommandLine, DownloadsTheAddressItWasStartedWith) {
    Sandbox www;
    const QByteArray bytes = RandomBytes(1 << 20);
    ASSERT_TRUE(WriteFile(www.file(QStringLiteral("a.bin")), bytes));
    NginxPeer nginx(www.path());
    ASSERT_TRUE(nginx.start()) << nginx.error().toStdString();
    const QString url = nginx.url(QStringLiteral("/a.bin"));

    BrenloftHome home;
    BrenloftRun run(home);
    ASSERT_TRUE(run.start({url}));
    EXPECT_TRUE(WaitFor([&] { return HoldsBytes(home.downloads(QStringLiteral("a.bin")), bytes); },
                        std::chrono::seconds(20)));
    ASSERT_TRUE(run.stopWith(SIGTERM));
    EXPECT_TRUE(run.endedCleanly());

    DownloadListState list;
    ASSERT_TRUE(home.savedList(list));
    ASSERT_EQ(list.DownloadCount, 1);
    const DownloadRecord& r = list.DownloadList[1];
    EXPECT_EQ(r.Url, url);
    EXPECT_EQ(StateOf(r), ListEntryState::Finished);
    EXPECT_EQ(r.Running, FlagFalse);
    EXPECT_TRUE(QDir(home.path(QStringLiteral("tmp"))).isEmpty()) << "no part file is left";
}

TEST(BrenloftCommandLine, AddsWhatRemainsOfTheLineWhenItIsALowerCaseAddress) {
    Sandbox www;
    for (const char* name : {"a.bin", "b.bin"}) {
        ASSERT_TRUE(WriteFile(www.file(QLatin1String(name)), RandomBytes(4096)));
    }
    NginxPeer nginx(www.path());
    ASSERT_TRUE(nginx.start()) << nginx.error().toStdString();
    const QString url = nginx.url(QStringLiteral("/a.bin"));
    const QString other = nginx.url(QStringLiteral("/b.bin"));
    QString upper = url;
    upper.replace(0, 4, QStringLiteral("HTTP"));
    const QString quoted = u'"' + url + u'"';
    // Nobody listens there: the entry is made whatever its connection then does.
    const QString secure = QStringLiteral("https://127.0.0.1:%1/s.bin").arg(FreeLoopbackPort());
    QString secureUpper = secure;
    secureUpper.replace(0, 5, QStringLiteral("HTTPS"));

    struct Case {
        const char* what;
        QStringList arguments;
        QStringList added;  // the Urls of the entries, in their order
    };
    const std::vector<Case> cases = {
        {"silent switch before the address", {QStringLiteral("/silent"), url}, {url}},
        {"silent switch after the address", {url, QStringLiteral("-silent")}, {url}},
        {"short switch between arguments", {url, QStringLiteral("-s"), QString()}, {url}},
        {"quoted address", {quoted}, {url}},
        {"quoted address with blanks around", {QStringLiteral("  ") + quoted + u' '}, {url}},
        {"silent and quoted", {QStringLiteral("-silent"), quoted}, {url}},
        {"scheme in capitals", {upper}, {}},
        {"https address", {QStringLiteral("/silent"), secure}, {secure}},
        {"https in capitals", {secureUpper}, {}},
        {"-s first", {QStringLiteral("-s"), url}, {url}},
        {"-s last", {url, QStringLiteral("-s")}, {url}},
        {"no address", {QStringLiteral("a.bin")}, {}},
        {"each argument its own download, a bad one left out",
         {url, QStringLiteral("b.bin"), other},
         {url, other}},
    };

    // Every start has a home of its own, so they all run at once.
    std::vector<std::unique_ptr<BrenloftHome>> homes;
    std::vector<std::unique_ptr<BrenloftRun>> runs;
    for (const Case& c : cases) {
        homes.push_back(std::make_unique<BrenloftHome>());
        runs.push_back(std::make_unique<BrenloftRun>(*homes.back()));
        ASSERT_TRUE(runs.back()->start(c.arguments)) << c.what;
    }
    for (size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        // The command line is handled before the program takes its first event, the signal.
        ASSERT_TRUE(runs[i]->stopWith(SIGTERM)) << c.what;
        EXPECT_TRUE(runs[i]->endedCleanly()) << c.what;
        DownloadListState list;
        ASSERT_TRUE(homes[i]->savedList(list)) << c.what;
        ASSERT_EQ(list.DownloadCount, c.added.size()) << c.what;
        for (int slot = 1; slot <= list.DownloadCount; ++slot) {
            EXPECT_EQ(list.DownloadList[slot].Url, c.added[slot - 1]) << c.what;
            EXPECT_TRUE(Listed(list.DownloadList[slot])) << c.what;
        }
    }
}
