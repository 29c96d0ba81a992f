#pragma once

// The engine of the download session tests: the shared rig, with each session watched by a
// recording observer and started as the scheduler starts it.

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTimer>
#include <chrono>
#include <deque>
#include <memory>
#include <ostream>
#include <vector>

#include "core/download_list/list_additions.h"
#include "core/text/url_codec.h"
#include "core/urls/parse_url.h"
#include "engine/session/download_session.h"
#include "tests/support/engine_rig.h"
#include "tests/support/recording_views.h"
#include "tests/support/test_files.h"
#include "tests/support/text_printer.h"

namespace session_test {

// The names in a folder, hidden ones included.
inline QStringList FolderEntries(const QString& folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden,
                                  QDir::Name);
}

struct Download {
    int slot = 0;
    RecordingObserver observer;
    std::unique_ptr<DownloadSession> session;
    bool closed() const { return observer.closes > 0; }
};

// One program's worth of engine; a second Engine on the same sandbox is the program started
// again.
class Engine : public EngineRig {
public:
    explicit Engine(const QString& root) : EngineRig(root) {}

    // A new entry for the address, as adding a download fills it.
    int add(const QString& url) {
        const QString encoded = EncodeUrl(url);
        const ParsedUrl parsed = ParseUrl(encoded);
        EXPECT_EQ(parsed.status, UrlValid) << url.toStdString();
        const int slot = ChooseFreeSlot(list);
        FillNewRecord(list.DownloadList[slot], parsed, encoded, 0, QString());
        return slot;
    }

    // Starts the entry's session as the scheduler does.
    Download& start(int slot) {
        DownloadRecord& r = list.DownloadList[slot];
        r.Queued = 0;
        r.Paused = FlagFalse;
        r.Failed = FlagFalse;
        r.RetryCount = 0;
        auto download = std::make_unique<Download>();
        download->slot = slot;
        download->session = std::make_unique<DownloadSession>(ctx, download->observer);
        download->session->AttachRecord(slot);
        download->session->InitConnection();
        r.Running = FlagTrue;
        running.push_back(std::move(download));
        return *running.back();
    }

    Download& fetch(const QString& url) { return start(add(url)); }

    using EngineRig::record;
    DownloadRecord& record(const Download& d) { return record(d.slot); }

    // Sessions go before the sockets and files of the rig they use.
    std::vector<std::unique_ptr<Download>> running;
};

inline bool WaitClosed(const std::vector<Download*>& downloads,
                       std::chrono::milliseconds deadline = std::chrono::seconds(60)) {
    return WaitFor(
        [&] {
            for (const Download* d : downloads) {
                if (!d->closed()) {
                    return false;
                }
            }
            return true;
        },
        deadline);
}

// The plan's ranges as "first-last" texts, for readable failures.
inline QStringList Ranges(const DownloadRecord& r) {
    QStringList ranges;
    for (int j = 1; j <= r.SegmentCount; ++j) {
        const SegmentRecord& s = *r.Segments.at(j);
        ranges << QStringLiteral("%1-%2")
                      .arg(s.EndPos.bytes() - s.Length.bytes() + 1)
                      .arg(s.EndPos.bytes());
    }
    return ranges;
}

}  // namespace session_test
