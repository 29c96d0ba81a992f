// How long the main window takes to rebuild its list of unfinished downloads from scratch, for
// lists of 10,000 and 30,000 entries: the forced full refresh alone, and with the relayout and
// repaint of the shown list that follow it. Median of 20 runs each. Drawn offscreen.

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTreeView>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "core/download_list/download_list.h"
#include "core/settings/settings.h"
#include "core/settings/settings_store.h"
#include "core/text/text_table.h"
#include "engine/completion/completion_actions.h"
#include "engine/engine_context.h"
#include "engine/files/segment_files.h"
#include "engine/queue/download_queue.h"
#include "engine/queue/session_windows.h"
#include "engine/session/session_prompts.h"
#include "net/socket_module.h"
#include "tools/benchmarks/bench_lists.h"
#include "tools/benchmarks/quiet_engine.h"
#include "ui/main_window/kestor.h"
#include "ui/main_window/unfinished_list_model.h"

namespace {

constexpr int Runs = 20;

// Unfinished entries in every state the list shows, so each entry is a row.
void Fill(DownloadListState& list, int count) {
    list = DownloadListState{};
    list.DownloadList.reserve(count + 1);
    for (int i = 1; i <= count; ++i) {
        DownloadRecord r;
        r.FileName = QStringLiteral("file%20number%20%1.tar.gz").arg(i);
        r.HostName = QStringLiteral("mirror%1.example.org").arg(i % 97);
        r.Url = QStringLiteral("http://%1/pub/%2").arg(r.HostName, r.FileName);
        r.Active = FlagTrue;
        r.FileSize = Currency::fromBytes(std::int64_t(i) * 7919 * 1024);
        r.Percent = float(i % 1000) / 10;
        r.RemainingSeconds = float(i % 5000);
        r.Priority = i % 3;
        r.DateAdded = OleDate(45000 + i % 300);
        switch (i % 5) {
            case 0:
                r.Running = FlagTrue;
                break;
            case 1:
                r.Queued = 1;
                break;
            case 2:
                r.Failed = FlagTrue;
                break;
            case 3:
                r.Scheduled = 1;
                break;
            default:
                r.Paused = FlagTrue;
                break;
        }
        list.DownloadList.append(r);
    }
    list.DownloadCount = static_cast<std::int16_t>(count);
}

double Milliseconds(const QElapsedTimer& clock) {
    return double(clock.nsecsElapsed()) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    QTemporaryDir folder;

    DownloadListState list;
    Settings settings;
    TextTable texts;
    LoadLanguage(texts, QStringLiteral("english"), LanguageFolders(folder.path()));
    VelmoraSockets sockets;
    SegmentFiles files;
    NoPrompts prompts;
    NoActions actions;
    EngineContext ctx{list,     folder.filePath(QStringLiteral("Brenloft.dat")),
                      settings, texts,
                      sockets,  files,
                      prompts,  actions,
                      {},       {},
                      0};
    NoSessionWindows windows;
    DownloadQueue queue(ctx, windows);
    SettingsStore store(folder.filePath(QStringLiteral("Velmora.ini")));
    Kestor window(ctx, queue, store, {});
    window.show();
    QApplication::processEvents();

    QTreeView* view = window.listView1();
    for (const int count : {10000, 30000}) {
        Fill(list, count);
        window.RefreshListView(0, true);
        QApplication::processEvents();
        // The list's own order, then sorted by name as a user may have it.
        for (const int column : {-1, int(UnfinishedListModel::Name)}) {
            view->sortByColumn(column, Qt::AscendingOrder);
            QApplication::processEvents();
            std::vector<double> alone;
            std::vector<double> drawn;
            for (int run = 0; run < Runs; ++run) {
                QElapsedTimer clock;
                clock.start();
                window.RefreshListView(0, true);
                alone.push_back(Milliseconds(clock));
                QApplication::processEvents();
                drawn.push_back(Milliseconds(clock));
            }
            std::printf("full refresh of %d rows%s: %.2f ms (with relayout and repaint: %.2f ms)\n",
                        view->model()->rowCount(), column < 0 ? "" : ", sorted by name",
                        Median(alone), Median(drawn));
        }
        view->sortByColumn(-1, Qt::AscendingOrder);
        // What a session's progress costs: one row, in sight, redrawn.
        std::vector<double> oneRow;
        for (int run = 0; run < Runs; ++run) {
            list.DownloadList[1].Percent = float(run);
            QElapsedTimer clock;
            clock.start();
            window.RefreshListView(1, true);
            QApplication::processEvents();
            oneRow.push_back(Milliseconds(clock));
        }
        std::printf("one-row update among %d rows, repainted: %.3f ms\n", count, Median(oneRow));
        std::fflush(stdout);
    }
    return 0;
}
