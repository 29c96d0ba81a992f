// Finished files checked against the checksums given with them, downloaded from a real nginx:
// the finished list's marks, the details' line, the offer to download a failed file again, and
// "Copy SHA-256" of a file that had no checksum.

#include <QClipboard>
#include <QGuiApplication>
#include <QLineEdit>

#include "engine/checksum/checksum_checks.h"
#include "tests/support/nginx_peer.h"
#include "tests/ui/main_window/main_window_fixture.h"
#include "ui/preview/preview_panel.h"

namespace main_window_test {
namespace {

using namespace std::chrono_literals;
using F = FinishedListModel;

TEST_F(MainWindowTest, ChecksumsMarkTheFinishedFilesAndCopyTheirSha256) {
    const QString served = file(QStringLiteral("served"));
    ASSERT_TRUE(QDir().mkpath(served));
    QHash<QString, QString> sums;
    for (const char* name : {"good.bin", "bad.bin", "plain.bin"}) {
        const QByteArray bytes = RandomBytes(300000);
        ASSERT_TRUE(WriteFile(served + u'/' + QLatin1String(name), bytes));
        sums[QLatin1String(name)] = QString::fromLatin1(Sha256(bytes));
    }
    NginxPeer nginx(served);
    ASSERT_TRUE(nginx.start()) << nginx.error().toStdString();
    ChecksumChecks checks(ctx, *queue);
    Kestor& w = open();
    w.watchChecksums(checks);
    const QString wrong(64, u'0');
    const auto url = [&](const QString& name) { return nginx.url(u'/' + name); };
    for (const auto& [name, typed] :
         std::map<QString, QString>{{"good.bin", "sha-256=" + sums["good.bin"].toUpper()},
                                    {"bad.bin", wrong},
                                    {"plain.bin", QString()}}) {
        const NewDownloadAnswer answer{
            "NOW", {url(name)}, {}, {}, ParseChecksum(typed).value_or(Checksum{})};
        w.setNewDownloadAsk([answer](const QString&) { return answer; });
        w.Command1_Click(Kestor::AddUrl);
    }
    const auto entry = [&](const QString& name) -> DownloadRecord& {
        for (DownloadRecord& r : list.DownloadList) {
            if (r.Url == url(name)) {
                return r;
            }
        }
        return list.DownloadList[0];
    };
    const auto note = [&](const QString& name) { return ReadChecksumNote(entry(name)); };
    // Yes to fetching the failed file again, which fails once more: no the second time.
    answers = {true, false};
    ASSERT_TRUE(WaitFor([&] { return questions.size() == 2; }, 60s)) << questions.size();
    ASSERT_TRUE(WaitFor(
        [&] { return note("plain.bin").outcome != ChecksumNote::Outcome::Unchecked; }, 30s));
    const QString failed = "Checksum failed: SHA-256 from the given checksum should be " + wrong +
                           ", the file's is " + sums["bad.bin"];
    EXPECT_EQ(questions[0],
              "The checksum of 'bad.bin' failed.\n" + failed + "\n\nDownload it again?");
    EXPECT_EQ(questions[1], questions[0]) << "fetched again against the checksum given";
    EXPECT_EQ(entry("bad.bin").SavePath, downloads() + "bad.bin");

    QTreeView* v2 = w.listView2();
    EXPECT_EQ(Cell(v2, url("good.bin"), F::Checksum), "✓ SHA-256");
    EXPECT_EQ(Cell(v2, url("bad.bin"), F::Checksum), "Checksum failed");
    EXPECT_EQ(Cell(v2, url("plain.bin"), F::Checksum), QString());
    EXPECT_TRUE(Cell(v2, url("bad.bin"), F::Checksum, Qt::ToolTipRole).contains(failed));
    EXPECT_EQ(v2->model()
                  ->index(ViewRow(v2, url("bad.bin")), F::Checksum)
                  .data(Qt::ForegroundRole)
                  .value<QBrush>()
                  .color()
                  .red(),
              0xd0);

    auto* line = w.previewPanel()->findChild<QLineEdit*>(QStringLiteral("Text4"));
    ASSERT_NE(line, nullptr);
    const std::map<QString, QString> lines{{"good.bin", "SHA-256 matches the given checksum"},
                                           {"bad.bin", failed},
                                           {"plain.bin", "No checksum found"}};
    for (const auto& [name, expected] : lines) {
        emit v2->clicked(v2->model()->index(ViewRow(v2, url(name)), 0));
        EXPECT_EQ(line->text(), expected);
    }

    // Hashed on request, as it was not for the check.
    ASSERT_EQ(note("plain.bin").sha256, QString());
    Select(v2, url("plain.bin"));
    trigger("copysha2562");
    EXPECT_TRUE(
        WaitFor([&] { return QGuiApplication::clipboard()->text() == sums["plain.bin"]; }, 30s));
    v2->clearSelection();
    Select(v2, url("good.bin"));
    trigger("copysha2562");
    EXPECT_EQ(QGuiApplication::clipboard()->text(), sums["good.bin"]);
}

}  // namespace
}  // namespace main_window_test
