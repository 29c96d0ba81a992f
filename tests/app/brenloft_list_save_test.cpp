#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <QFile>

#include "core/download_list/download_list.h"
#include "tests/app/brenloft_program.h"
#include "tests/support/nginx_peer.h"

namespace {

// What tells one write of the file from the next: a save renames a new file into place.
struct Stamp {
    ino_t inode = 0;
    timespec modified{};
    off_t size = -1;
    bool operator==(const Stamp& o) const {
        return inode == o.inode && modified.tv_sec == o.modified.tv_sec &&
               modified.tv_nsec == o.modified.tv_nsec && size == o.size;
    }
};

Stamp StampOf(const QString& path) {
    struct stat info {};
    Stamp s;
    if (::stat(QFile::encodeName(path).constData(), &info) == 0) {
        s.inode = info.st_ino;
        s.modified = info.st_mtim;
        s.size = info.st_size;
    }
    return s;
}

}  // namespace

TEST(BrenloftListSave, RewritesTheListOnlyAfterItChanged) {
    Sandbox www;
    for (const char* name : {"one.bin", "two.bin"}) {
        ASSERT_TRUE(WriteFile(www.file(QLatin1String(name)), RandomBytes(64 * 1024)));
    }
    NginxPeer nginx(www.path());
    ASSERT_TRUE(nginx.start()) << nginx.error().toStdString();
    const QString one = nginx.url(QStringLiteral("/one.bin"));
    const QString two = nginx.url(QStringLiteral("/two.bin"));

    BrenloftHome home;
    BrenloftRun run(home);
    ASSERT_TRUE(run.start({one}));
    // The periodic save, not the one at quit, brings the finished entry to disk.
    ASSERT_TRUE(WaitFor(
        [&] {
            DownloadListState list;
            return home.savedList(list) && list.DownloadCount == 1 &&
                   list.DownloadList[1].Completed == FlagTrue;
        },
        std::chrono::seconds(15)));

    const Stamp idle = StampOf(home.listFile());
    // Longer than one save period, and the only timed wait: nothing is due to change.
    EXPECT_FALSE(
        WaitFor([&] { return !(StampOf(home.listFile()) == idle); }, std::chrono::seconds(6)))
        << "an idle program rewrote an unchanged list";

    ASSERT_TRUE(home.writeHandOff(two.toUtf8()));
    EXPECT_TRUE(WaitFor(
        [&] {
            DownloadListState list;
            return home.savedList(list) && SlotOf(list, two) != 0;
        },
        std::chrono::seconds(15)))
        << "a change reaches the disk without quitting";

    ASSERT_TRUE(run.stopWith(SIGTERM));
    EXPECT_TRUE(run.endedCleanly());
}
