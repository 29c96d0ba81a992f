// A download list at its largest, 32,767 entries: what saving and loading it costs, and what
// the desktop program's two timers cost with it, their work done as DesktopApp does it (the
// 500 ms tick of TimerC, the 5 s save of Timer5) around a real main window drawn offscreen.
// Medians of several runs.
//
//   bench_big_list [FOLDER]        measures, with the list file in FOLDER (else a temporary one)
//   bench_big_list --write FILE    writes the list file the measurements use and ends
//   bench_big_list --count FILE    prints the entries of a list file and whether it read whole

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

#include "core/download_list/download_list.h"
#include "core/download_list/list_additions.h"
#include "core/download_list/list_file_format.h"
#include "core/scheduler/clipboard_watch.h"
#include "core/scheduler/hand_off_file.h"
#include "core/scheduler/speed_meter.h"
#include "core/scheduler/status_texts.h"
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
#include "ui/main_window/finished_list_model.h"
#include "ui/main_window/kestor.h"
#include "ui/main_window/unfinished_list_model.h"
#include "ui/tray/quenby_catcher.h"

namespace {

constexpr int FileRuns = 11;
constexpr int TickRuns = 41;

int WriteList(const QString& path) {
    const QString why = SaveList(BigList(MaxDownloadSlots), path);
    if (!why.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(why));
        return 1;
    }
    return 0;
}

int CountList(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot read %s\n", qPrintable(path));
        return 1;
    }
    DownloadListState list;
    const ListLoadResult result = DecodeListFile(file.readAll(), list);
    std::printf("%d %s\n", int(list.DownloadCount),
                result.recognised && result.complete ? "whole" : "damaged");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && qstrcmp(argv[1], "--write") == 0) {
        return WriteList(QString::fromLocal8Bit(argv[2]));
    }
    if (argc == 3 && qstrcmp(argv[1], "--count") == 0) {
        return CountList(QString::fromLocal8Bit(argv[2]));
    }
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    QTemporaryDir temporary(argc == 2 ? QString::fromLocal8Bit(argv[1]) + QStringLiteral("/XXXXXX")
                                      : QDir::tempPath() + QStringLiteral("/bench-XXXXXX"));
    const QString folder = temporary.path();
    const QString listPath = QDir(folder).filePath(QLatin1String(ListFileName));

    // The program's own defaults, as a first start reads them from an empty store.
    SettingsStore store(QDir(folder).filePath(QStringLiteral("Velmora.ini")));
    Settings settings;
    LoadSettings(settings, store, folder);
    TextTable texts;
    LoadLanguage(texts, QStringLiteral("english"), LanguageFolders(folder));

    const DownloadListState full = BigList(MaxDownloadSlots);
    const QByteArray bytes = EncodeListFile(full);
    std::printf("list of %d entries, %.1f MiB, file in %s\n", int(full.DownloadCount),
                double(bytes.size()) / (1 << 20), qPrintable(folder));

    const double encode = Measure(FileRuns, [&] { EncodeListFile(full); });
    const double save = Measure(FileRuns, [&] { SaveList(full, listPath); });
    QByteArray read;
    const double readFile = Measure(FileRuns, [&] {
        QFile file(listPath);
        file.open(QIODevice::ReadOnly);
        read = file.readAll();
    });
    // Into an empty list, as at start-up; freeing the one from the run before is not timed.
    DownloadListState loaded;
    const auto empty = [&] { loaded = DownloadListState{}; };
    const double decode = Measure(
        FileRuns, [&] { DecodeListFile(read, loaded); }, empty);
    const double load = Measure(
        FileRuns, [&] { LoadList(loaded, listPath); }, empty);
    loaded = DownloadListState{};
    std::printf("SaveList: %.1f ms (encoding alone %.1f ms)\n", save, encode);
    std::printf("LoadList with its fix-ups: %.1f ms (reading the file %.1f ms, decoding %.1f ms)\n",
                load, readFile, decode);

    // The program's objects around the list, as StartUp makes them.
    DownloadListState list;
    VelmoraSockets sockets;
    SegmentFiles files;
    NoPrompts prompts;
    NoActions actions;
    EngineContext ctx{list, listPath, settings, texts, sockets, files, prompts, actions, {}, {}, 0};
    NoSessionWindows windows;
    DownloadQueue queue(ctx, windows);
    Kestor window(ctx, queue, store, {});
    QuenbyCatcher catcher(texts);
    QByteArray lastSaved;

    QElapsedTimer clock;
    clock.start();
    LoadList(list, listPath);
    lastSaved = EncodeListFile(list);
    window.RefreshListView(0, true);
    sockets.StartSockets();
    window.RefreshDownList();
    window.show();
    QApplication::processEvents();
    std::printf(
        "start-up's list step (load, encode for the save check, both lists filled, "
        "shown): %.1f ms\n",
        double(clock.nsecsElapsed()) / 1e6);
    std::printf("  rows: %d unfinished, %d finished\n", window.unfinishedRows().rowCount(),
                window.finishedRows().rowCount());

    // TimerC_Timer's work when nothing was handed over and the clipboard did not change.
    const QString handOff = QDir(folder).filePath(QStringLiteral("templine.dat"));
    ClipboardWatch clipboard;
    SpeedMeter speed;
    const auto tick = [&] {
        sockets.PumpSockets();
        if (const HandOffLock lock(QFileInfo(handOff).path(), HandOffLock::Wait::No); lock.held()) {
            TakeHandOffLines(handOff);
        }
        if (const QClipboard* board = QGuiApplication::clipboard()) {
            clipboard.considerAll(board->text(), list, settings);
        }
        window.setTotalText(StatusTotalText(ctx.receivedBytes, texts));
        speed.update(list, queue.runningRates());
        window.setSpeedText(StatusSpeedText(speed.speed(), texts));
        catcher.refreshMessage(TrayTipText(speed.activeCount(), window.statusText(2), texts));
        catcher.refreshIcon(speed.trayLevel());
        if (settings.Schedule == FlagTrue) {
            queue.ApplySchedule(OleDate::now());
        }
        queue.StartNextQueued();
    };
    const double tickAlone = Measure(TickRuns, tick);
    const double tickDrawn = Measure(TickRuns, [&] {
        tick();
        QApplication::processEvents();
    });
    // A running download asks for its row at most every 500 ms: one row per tick per download.
    int progress = 0;
    const double tickRow = Measure(TickRuns, [&] {
        tick();
        list.DownloadList[1].Percent = float(++progress % 100);
        window.RefreshListView(1, true);
        QApplication::processEvents();
    });
    std::printf(
        "TimerC tick: %.3f ms (with the repaint it causes %.3f ms; with one download's "
        "row updated and repainted %.3f ms)\n",
        tickAlone, tickDrawn, tickRow);

    // Timer5_Timer: encode, compare with the last save, save when they differ.
    const auto timer5 = [&] {
        QByteArray now = EncodeListFile(list);
        if (now == lastSaved) {
            return;
        }
        if (SaveEncodedList(now, listPath).isEmpty()) {
            lastSaved = std::move(now);
        }
    };
    lastSaved = EncodeListFile(list);
    const double unchanged = Measure(FileRuns, timer5);
    const double changed =
        Measure(FileRuns, timer5, [&] { list.DownloadList[1].ElapsedSeconds += 1; });
    std::printf(
        "Timer5, list unchanged (encode + compare): %.1f ms; changed (+ SaveList): %.1f ms\n",
        unchanged, changed);

    // Not every tick: a download starting or ending rebuilds the list (listChanged), and a new
    // address on the clipboard is looked up in it.
    const double rebuild = Measure(FileRuns, [&] {
        window.RefreshListView(0, true);
        window.RefreshDownList();
        QApplication::processEvents();
    });
    int copied = 0;
    settings.CheckClipboard = FlagTrue;
    const double lookUp = Measure(FileRuns, [&] {
        clipboard.considerAll(QStringLiteral("http://example.net/new%1.zip").arg(++copied), list,
                              settings);
    });
    std::printf(
        "both lists rebuilt and repainted: %.1f ms; a newly copied address looked up: "
        "%.2f ms\n",
        rebuild, lookUp);
    std::fflush(stdout);
    return 0;
}
