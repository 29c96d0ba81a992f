#include <QApplication>
#include <QCoreApplication>
#include <QMenu>
#include <QThread>
#include "tests/ui/main_window/main_window_fixture.h"

namespace main_window_test {
namespace {
TEST_F(MainWindowTest, ZzScreenshot) {
    struct E {
        const char* name;
        Kind kind;
        const char* host;
        qint64 size;
        float pct;
        float left;
        int prio;
    };
    const E es[] = {
        {"debian-12.5.0-amd64-netinst.iso", Kind::Running, "cdimage.debian.org", 658505728, 63.4f,
         312, 2},
        {"linux-6.8.tar.xz", Kind::Running, "cdn.kernel.org", 142345216, 12.5f, 1260, 1},
        {"LibreOffice_24.2.1_Linux_x86-64_deb.tar.gz", Kind::Paused,
         "download.documentfoundation.org", 228589568, 41.0f, 0, 1},
        {"blender-4.1.0-linux-x64.tar.xz", Kind::Queued, "mirror.clarkson.edu", 321912832, 0, 0, 1},
        {"gimp-2.10.36.tar.bz2", Kind::Failed, "download.gimp.org", 31457280, 7.2f, 0, 0},
        {"Fedora-Workstation-Live-x86_64-40-1.14.iso", Kind::Scheduled,
         "download.fedoraproject.org", 2295398400, 0, 0, 2},
        {"ubuntu-24.04-desktop-amd64.iso", Kind::Finished, "releases.ubuntu.com", 6114656256, 100,
         0, 1},
        {"vlc-3.0.20.tar.xz", Kind::FinishedMissing, "get.videolan.org", 27262976, 100, 0, 1},
        {"release-notes.pdf", Kind::Finished, "www.example.org", 245760, 100, 0, 1},
        {"photo%20archive%202023.zip", Kind::Finished, "files.example.net", 1288490188, 100, 0, 1},
    };
    for (const E& e : es) {
        const int slot = add(QString::fromUtf8(e.name), e.kind);
        DownloadRecord& r = record(slot);
        r.HostName = QString::fromUtf8(e.host);
        r.FileSize = Currency::fromBytes(e.size);
        r.Percent = e.pct;
        r.RemainingSeconds = e.left;
        r.Priority = e.prio;
        if (e.kind == Kind::Finished) {
            QFile::rename(r.SavePath, r.SavePath);
        }
    }
    Kestor& w = open();
    w.RefreshListView(0, true);
    w.RefreshDownList();
    w.setSpeedText(texts.text(667) + QStringLiteral(" 1.84 MB/s"));
    w.setTotalText(texts.text(668) + QStringLiteral(" 2.31 GB"));
    w.show();
    for (int i = 0; i < 20; ++i) {
        QCoreApplication::processEvents();
        QThread::msleep(10);
    }
    w.listView1()->selectionModel()->select(
        w.listView1()->model()->index(1, 0),
        QItemSelectionModel::Select | QItemSelectionModel::Rows);
    for (int i = 0; i < 5; ++i) {
        QCoreApplication::processEvents();
    }
    const QString out = qEnvironmentVariable("SHOT", "/tmp/shots/main_window.png");
    ASSERT_TRUE(w.grab().save(out));
    {
        auto* menu = w.findChild<QMenu*>(QStringLiteral("popup"));
        w.listView1()->selectionModel()->clearSelection();
        Select(w.listView1(), key(3));
        menu->popup(QPoint(100, 100));
        for (int i = 0; i < 5; ++i) {
            QCoreApplication::processEvents();
        }
        menu->grab().save(out + ".popup.png");
        menu->hide();
        auto* dl = w.findChild<QMenu*>(QStringLiteral("mDownloads"));
        emit dl->aboutToShow();
        dl->popup(QPoint(100, 100));
        for (int i = 0; i < 5; ++i) {
            QCoreApplication::processEvents();
        }
        dl->grab().save(out + ".downloads.png");
        dl->hide();
    }
    if (qEnvironmentVariableIsSet("SHOTMIN")) {
        w.resize(w.minimumSize());
        for (int i = 0; i < 5; ++i) {
            QCoreApplication::processEvents();
        }
        ASSERT_TRUE(w.grab().save(out + ".min.png"));
    }
}
}  // namespace
}  // namespace main_window_test
