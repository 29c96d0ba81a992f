#pragma once

// A whole engine for the download session tests: list, settings, language texts, sockets and
// part files in a sandbox, each session watched by a recording observer, its questions answered
// from a script. Downloads are started as the scheduler starts them.

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

#include "core/download_list/download_list.h"
#include "core/download_list/list_additions.h"
#include "core/settings/settings.h"
#include "core/text/text_table.h"
#include "core/text/url_codec.h"
#include "core/urls/parse_url.h"
#include "engine/completion/completion_actions.h"
#include "engine/files/segment_files.h"
#include "engine/session/download_session.h"
#include "engine/session/engine_context.h"
#include "engine/session/session_observer.h"
#include "engine/session/session_prompts.h"
#include "net/socket_module.h"
#include "tests/support/sandbox.h"
#include "tests/support/test_files.h"

// Readable failures: texts print as texts, not as arrays of code units.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace session_test {

// The names in a folder, hidden ones included.
inline QStringList FolderEntries(const QString& folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden,
                                  QDir::Name);
}

// Questions get the answers queued by the test, one each, given from the event loop as a real
// window would; a question the test did not expect fails it and gets the answer that downloads
// nothing.
class PromptScript : public SessionPrompts {
public:
    std::deque<Credentials> credentials;
    std::deque<bool> yesNo;
    QStringList messages;
    QStringList questions;
    QStringList credentialCaptions;
    QStringList credentialUrls;

    void showMessage(const QString& text, Icon) override { messages << text; }
    void askYesNo(const QString& text, std::function<void(bool)> answer) override {
        questions << text;
        bool yes = false;
        if (yesNo.empty()) {
            ADD_FAILURE() << "unexpected question: " << text.toStdString();
        } else {
            yes = yesNo.front();
            yesNo.pop_front();
        }
        QTimer::singleShot(0, [answer, yes] { answer(yes); });
    }
    void askCredentials(const QString& caption, const QString& url, const QString&, const QString&,
                        std::function<void(const Credentials&)> answer) override {
        credentialCaptions << caption;
        credentialUrls << url;
        Credentials given;
        if (credentials.empty()) {
            ADD_FAILURE() << "unexpected credentials prompt: " << caption.toStdString();
        } else {
            given = credentials.front();
            credentials.pop_front();
        }
        QTimer::singleShot(0, [answer, given] { answer(given); });
    }
};

// Nothing leaves the test: no program is started, nothing hung up or powered off.
class QuietActions : public CompletionActions {
public:
    bool startDetached(const QString&, const QStringList&) override { return true; }
    void hangUpDialUp() override {}
    void powerOff() override {}
};

class RecordingObserver : public SessionObserver {
public:
    int closes = 0;
    QStringList whys;
    bool finished = false;
    std::vector<int> planned;  // every segment count laid out, in order
    int progress = 0;

    void sessionClosed(const QString& why) override {
        ++closes;
        whys << why;
    }
    void downloadFinished(const QString&, const QString&) override { finished = true; }
    void segmentsPlanned(int count) override { planned.push_back(count); }
    void progressChanged() override { ++progress; }
};

struct Download {
    int slot = 0;
    RecordingObserver observer;
    std::unique_ptr<DownloadSession> session;
    bool closed() const { return observer.closes > 0; }
};

// One program's worth of engine; a second Engine on the same sandbox is the program started
// again.
class Engine {
public:
    explicit Engine(const QString& root)
        : root_(root), ctx{list,
                           root + QStringLiteral("/Brenloft.dat"),
                           settings,
                           texts,
                           sockets,
                           files,
                           prompts,
                           actions,
                           [this](const QString& url) { opened << url; },
                           [] {},
                           0} {
        QDir().mkpath(root + QStringLiteral("/downloads"));
        QDir().mkpath(root + QStringLiteral("/temp"));
        LoadSettings(settings, SettingsStore(root + QStringLiteral("/no-settings.ini")), root);
        settings.DownloadFolder = downloads();
        settings.TempFolder = temp();
        settings.AutoPreviewZIP = FlagFalse;
        LoadLanguage(texts, QStringLiteral("english"), {SourcePath(QStringLiteral("data/lang"))});
        sockets.StartSockets();
        // As the program's 500 ms tick does.
        QObject::connect(&pump_, &QTimer::timeout, [this] { sockets.PumpSockets(); });
        pump_.start(500);
    }
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;
    ~Engine() {
        pump_.stop();
        running.clear();
        sockets.StopSockets();
        files.VelmoraCloseAll();
    }

    QString downloads() const { return root_ + QStringLiteral("/downloads/"); }
    QString temp() const { return root_ + QStringLiteral("/temp/"); }
    QString listPath() const { return ctx.listPath; }

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

    DownloadRecord& record(const Download& d) { return list.DownloadList[d.slot]; }

    DownloadListState list;
    Settings settings;
    TextTable texts;
    VelmoraSockets sockets;
    SegmentFiles files;
    PromptScript prompts;
    QuietActions actions;
    QStringList opened;

private:
    QString root_;
    QTimer pump_;

public:
    EngineContext ctx;
    // Last, so that sessions go before the sockets and files they use.
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
