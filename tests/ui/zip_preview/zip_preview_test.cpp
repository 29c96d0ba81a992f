// The remote ZIP preview in the desktop program's wiring, against nginx on loopback: opened by
// the probe, browsed by folder and by file, sorted, members fetched alone, handed back to the
// segments, and the finished archive unpacked; and the ways it ends without holding a download.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSet>
#include <QTest>
#include <QTreeView>
#include <memory>

#include "core/text/format.h"
#include "engine/queue/download_queue.h"
#include "tests/archive/archive_test_tools.h"
#include "tests/engine/download_session_test_harness.h"
#include "tests/support/nginx_peer.h"
#include "ui/download_window/download_window.h"
#include "ui/download_window/download_windows.h"
#include "ui/zip_preview/extract_window.h"
#include "ui/zip_preview/preview_wiring.h"
#include "ui/zip_preview/zip_preview_window.h"

using namespace session_test;
using namespace std::chrono_literals;

namespace {

enum Column { Name, Packed, Normal, Ratio, Path };

// The list as the user reads it, one column of every row.
QStringList Column(Form2& form, int column) {
    const QAbstractItemModel* model =
        form.findChild<QTreeView*>(QStringLiteral("ListView1"))->model();
    QStringList texts;
    for (int row = 0; row < model->rowCount(); ++row) {
        texts.append(model->index(row, column).data().toString());
    }
    return texts;
}

void Click(QWidget* control) {
    ASSERT_NE(control, nullptr);
    QTest::mouseClick(control, Qt::LeftButton);
}

// The Extract window's answer: this folder.
void ExtractInto(const QString& folder) {
    Extract* chooser = nullptr;
    ASSERT_TRUE(WaitFor([&] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (w->objectName() == u"Extract" && w->isVisible()) {
                chooser = qobject_cast<Extract*>(w);
            }
        }
        return chooser != nullptr;
    }));
    chooser->findChild<QComboBox*>(QStringLiteral("Combo1"))->setEditText(folder);
    Click(chooser->findChild<QPushButton*>(QStringLiteral("Command1")));
}

class ZipPreviewTest : public ::testing::Test {
protected:
    void SetUp() override {
        served = box.file(QStringLiteral("served"));
        const QString source = box.file(QStringLiteral("source"));
        ASSERT_TRUE(QDir().mkpath(served));
        MakeSourceTree(source);
        ASSERT_EQ(RunTool(QStringLiteral("zip"), {QStringLiteral("-qr"), served + "/tree.zip", "."},
                          source),
                  0);
        ASSERT_TRUE(WriteFile(served + QStringLiteral("/notzip.zip"), RandomBytes(100000)));
        nginx = std::make_unique<NginxPeer>(served);
        nginx->addNoRangesLocation(QStringLiteral("/whole/"));
        ASSERT_TRUE(nginx->start()) << nginx->error().toStdString();
        engine = std::make_unique<Engine>(box.path());
        engine->settings.AutoPreviewZIP = FlagTrue;
        windows =
            std::make_unique<DownloadWindows>(engine->list, engine->texts, engine->ctx.openUrl);
        queue = std::make_unique<DownloadQueue>(engine->ctx, *windows);
        ZipPreviews::Hooks hooks;
        hooks.tell = [this](const QString& text, bool) { told.append(text); };
        hooks.defaultFolder = [this] { return box.path(); };
        previews = WireZipPreviews(*windows, engine->sockets, engine->settings, engine->texts,
                                   engine->list, std::move(hooks));
    }

    void TearDown() override {
        previews.reset();
        queue.reset();
        windows.reset();
        WaitFor([] { return false; }, 50ms);
        engine.reset();
    }

    int start(const QString& path) {
        const int slot = engine->add(nginx->url(path));
        queue->StartSession(slot);
        return slot;
    }

    Form2* listedPreview(int slot) {
        WaitFor([&] { return previews->window(slot) && previews->window(slot)->listed(); }, 30s);
        return previews->window(slot);
    }

    // What unzip itself makes of the archive's `members` (all when empty).
    QMap<QString, QString> unzipped(const QStringList& members, const QString& name) {
        const QString folder = box.file(name);
        EXPECT_EQ(RunTool(QStringLiteral("unzip"),
                          QStringList{QStringLiteral("-q"), served + "/tree.zip"} + members +
                              QStringList{QStringLiteral("-d"), folder},
                          box.path()),
                  0);
        return TreeOf(folder);
    }

    DownloadRecord& record(int slot) { return engine->list.DownloadList[slot]; }
    QString text(int number) const { return engine->texts.text(number); }

    Sandbox box;
    QString served;
    std::unique_ptr<NginxPeer> nginx;
    std::unique_ptr<Engine> engine;
    std::unique_ptr<DownloadWindows> windows;
    std::unique_ptr<DownloadQueue> queue;
    std::unique_ptr<ZipPreviews> previews;
    QStringList told;
};

TEST_F(ZipPreviewTest, ListsFetchesMembersHandsBackAndUnpacks) {
    const int slot = start(QStringLiteral("/tree.zip"));
    Form2* form = listedPreview(slot);
    ASSERT_NE(form, nullptr) << told.join(u'\n').toStdString();
    DownloadSession* session = windows->window(slot)->session();
    EXPECT_TRUE(session->waitingForPreview());
    EXPECT_EQ(record(slot).BytesDone.bytes(), 0) << "nothing fetched while the list is read";

    // What unzip lists: every member, folders ending in "/".
    QStringList names;
    ASSERT_EQ(
        RunTool(QStringLiteral("sh"),
                {QStringLiteral("-c"), "unzip -Z1 '" + served + "/tree.zip' > names"}, box.path()),
        0);
    for (const QByteArray& line : ReadFile(box.file(QStringLiteral("names"))).split('\n')) {
        if (!line.isEmpty()) {
            names.append(QString::fromUtf8(line));
        }
    }
    QSet<QString> rootRows;
    QStringList fileNames;
    for (const QString& name : names) {
        const qsizetype slash = name.indexOf(u'/');
        rootRows.insert(slash < 0 ? name : u'+' + name.left(slash));
        if (!name.endsWith(u'/')) {
            fileNames.append(name.mid(name.lastIndexOf(u'/') + 1));
        }
    }

    // By folder, at the root: the top folders as "+name" with "DIR", the files at the root.
    QStringList shown = Column(*form, Name);
    EXPECT_EQ(QSet<QString>(shown.begin(), shown.end()), rootRows);
    const qsizetype deep = shown.indexOf(QStringLiteral("+deep"));
    ASSERT_GE(deep, 0);
    EXPECT_EQ(Column(*form, Packed)[deep], QStringLiteral("DIR"));
    EXPECT_TRUE(form->findChild<QLabel*>(QStringLiteral("Label1"))->text().contains(text(766)));

    // Into "deep", then "er", and back up one folder at a time.
    auto* list = form->findChild<QTreeView*>(QStringLiteral("ListView1"));
    auto openRow = [&](const QString& name) {
        const qsizetype row = Column(*form, Name).indexOf(name);
        ASSERT_GE(row, 0) << name.toStdString();
        emit list->doubleClicked(list->model()->index(row, 0));
    };
    openRow(QStringLiteral("+deep"));
    EXPECT_EQ(form->CurrentFolder, QStringLiteral("deep"));
    openRow(QStringLiteral("+er"));
    EXPECT_EQ(Column(*form, Path),
              QStringList(Column(*form, Path).size(), QStringLiteral("deep/er")));
    Click(form->findChild<QPushButton*>(QStringLiteral("Command4")));
    EXPECT_EQ(form->CurrentFolder, QStringLiteral("deep"));
    Click(form->findChild<QPushButton*>(QStringLiteral("Command4")));
    EXPECT_TRUE(form->CurrentFolder.isEmpty());

    // By file: every file once, sorted by size as numbers, the same column twice reverses.
    Click(form->findChild<QRadioButton*>(QStringLiteral("Option2")));
    shown = Column(*form, Name);
    std::sort(shown.begin(), shown.end());
    std::sort(fileNames.begin(), fileNames.end());
    EXPECT_EQ(shown, fileNames);
    QHeaderView* header = list->header();
    const auto sizes = [&] {
        QList<qint64> numbers;
        for (int row = 0; row < list->model()->rowCount(); ++row) {
            const QModelIndex size = list->model()->index(row, Normal);
            numbers.append(size.data(Qt::UserRole).toLongLong());
            EXPECT_EQ(size.data().toString(),
                      FormatSize(Currency::fromBytes(numbers.last()), engine->texts));
        }
        return numbers;
    };
    for (const Qt::SortOrder order : {Qt::AscendingOrder, Qt::DescendingOrder}) {
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                          QPoint(header->sectionViewportPosition(Normal) + 5, 5));
        const QList<qint64> numbers = sizes();
        EXPECT_TRUE(std::is_sorted(
            numbers.begin(), numbers.end(),
            [&](qint64 a, qint64 b) { return order == Qt::AscendingOrder ? a < b : a > b; }))
            << "order " << order;
    }

    // Two things selected, fetched alone before the archive: the same as unzip makes of them.
    Click(form->findChild<QRadioButton*>(QStringLiteral("Option1")));
    list->selectionModel()->clearSelection();
    for (const QString& pick : {QStringLiteral("+deep"), QStringLiteral("+bin")}) {
        list->selectionModel()->select(list->model()->index(Column(*form, Name).indexOf(pick), 0),
                                       QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    Click(form->findChild<QPushButton*>(QStringLiteral("Command2")));
    ExtractInto(box.file(QStringLiteral("picked")));
    ASSERT_TRUE(WaitFor([&] { return !told.isEmpty(); }, 30s));
    EXPECT_TRUE(told.takeFirst().endsWith(box.file(QStringLiteral("picked"))));
    EXPECT_EQ(TreeOf(box.file(QStringLiteral("picked"))),
              unzipped({QStringLiteral("deep/*"), QStringLiteral("bin/*")},
                       QStringLiteral("picked-by-unzip")));
    EXPECT_EQ(record(slot).BytesDone.bytes(), 0);
    EXPECT_TRUE(session->waitingForPreview());

    // "Download classic": the segments fetch the archive; then the finished one is unpacked.
    Click(form->findChild<QPushButton*>(QStringLiteral("Command3")));
    ASSERT_TRUE(WaitFor([&] { return StateOf(record(slot)) == ListEntryState::Finished; }, 60s));
    EXPECT_EQ(FileSha256(record(slot).SavePath), FileSha256(served + "/tree.zip"));
    ASSERT_TRUE(previews->open(slot));
    form = listedPreview(slot);
    ASSERT_NE(form, nullptr);
    Click(form->findChild<QPushButton*>(QStringLiteral("Command1")));
    ExtractInto(box.file(QStringLiteral("all")));
    ASSERT_TRUE(WaitFor([&] { return !told.isEmpty(); }, 30s));
    EXPECT_EQ(TreeOf(box.file(QStringLiteral("all"))),
              unzipped({}, QStringLiteral("all-by-unzip")));
    form->close();
}

// A preview that cannot read the archive says why and lets the download go on; a server
// without ranges gets none; closing a preview without "Download classic" pauses the download.
TEST_F(ZipPreviewTest, EndsWithoutHoldingTheDownload) {
    struct Case {
        const char* path;
        bool previewed;
        bool closeIt;
    };
    for (const Case& c : {Case{"/notzip.zip", true, false}, Case{"/whole/tree.zip", false, false},
                          Case{"/tree.zip", true, true}}) {
        SCOPED_TRACE(c.path);
        told.clear();
        const int slot = start(QString::fromLatin1(c.path));
        DownloadRecord& r = record(slot);
        if (c.closeIt) {
            Form2* form = listedPreview(slot);
            ASSERT_NE(form, nullptr);
            form->close();
            ASSERT_TRUE(WaitFor([&] { return StateOf(r) == ListEntryState::Paused; }));
            EXPECT_EQ(r.SegmentCount, 0);
            EXPECT_FALSE(windows->window(slot)->session()->waitingForPreview());
            continue;
        }
        ASSERT_TRUE(WaitFor([&] { return StateOf(r) == ListEntryState::Finished; }, 60s));
        EXPECT_EQ(told.size(), c.previewed ? 1 : 0) << told.join(u'\n').toStdString();
        if (c.previewed) {
            EXPECT_TRUE(told[0].startsWith(text(834).section(u'%', 0, 0))) << told[0].toStdString();
        }
        EXPECT_EQ(previews->window(slot), nullptr);
    }
}

}  // namespace
