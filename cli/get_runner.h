#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "cli/get_options.h"
#include "cli/list_reserve.h"
#include "cli/progress_lines.h"
#include "core/download_list/download_list.h"
#include "core/process/quit_signals.h"
#include "core/settings/host_limits.h"
#include "core/settings/settings.h"
#include "core/text/text_table.h"
#include "engine/completion/completion_actions.h"
#include "engine/engine_context.h"
#include "engine/files/segment_files.h"
#include "engine/queue/session_windows.h"
#include "engine/session/session_prompts.h"
#include "net/socket_module.h"

class AddressContinuation;
class ChecksumChecks;
class DownloadQueue;

class DownloadSession;
class EnvironmentProxies;
class FolderLock;
class RemoteControl;

// Runs brenloft-get: each URL through the same engine and download queue as the desktop
// program, its list and part files in DIR/.brenloft-get/ so that running the same command
// again continues where an interrupted run stopped. Exit status 0 when every file is complete.
// With --enable-rpc it fetches what remote control clients add, until it is told to end.
class GetRunner : public QObject {
    Q_OBJECT
public:
    explicit GetRunner(GetOptions options, QObject* parent = nullptr);
    ~GetRunner() override;

    // Starts the downloads; false (with a message on stderr) when the folders cannot be used.
    bool start();
    int exitCode() const { return exitCode_; }

private:
    // One address of the command line and the entry serving it.
    struct Job {
        QString url;
        Checksum checksum{};  // the one given for it (not valid(): none)
        int slot = 0;
        bool done = false;
        bool checked = false;  // asked whether it continues an unfinished download
        int busyTold = 0;      // the busy server's waits already told
        bool whole = false;    // its file was finished: its checksum's result is due
        bool checkTold = false;
    };
    class Prompts;

    // The steps of start(), in their order.
    void useDefaultsAndFlags(const QString& folder, const QString& temp);
    bool chooseProxies();
    void startSockets();
    void startQueue(std::vector<FinishedFile> finished);

    void addAll();
    void add(Job& job, bool valid, const QString& encoded);
    void continuationDecided(int slot, const QString& line, bool expected);
    void entryEnded(int slot, const QString& why);
    void daemonEntryEnded(int slot, const QString& why);
    void checkResult(int slot);
    void tellCheck(Job& job);
    void finishIfDone();
    QString save();
    void quitNow(int signalNumber);
    // The daemon's end, on a signal or a client's shutdown: what runs is queued, so that the
    // next start resumes it, then paused with the list saved.
    void endDaemon();
    void drawProgress();
    QString describeFailure(const Job& job, const DownloadSession* session,
                            const QString& why) const;

    GetOptions options_;
    // Held for the whole run, released last: a second run in the same folder would take part
    // files this one has not listed yet for leftovers, and each would save over the other's list.
    std::unique_ptr<FolderLock> folderLock_;
    QString workFolder_;
    QString listPath_;
    DownloadListState list_;
    Settings settings_;
    TextTable texts_;
    VelmoraSockets sockets_;
    SegmentFiles files_;
    std::unique_ptr<Prompts> prompts_;
    DetachedLauncherOnly actions_;
    std::unique_ptr<HostLimits> hostLimits_;  // what each server took, in the work folder
    std::unique_ptr<EnvironmentProxies> proxies_;
    std::unique_ptr<EngineContext> context_;
    NoSessionWindows windows_;
    // After everything its sessions use: it goes first.
    std::unique_ptr<DownloadQueue> queue_;
    // Uses the queue, and the list it saves into: it goes before them.
    std::unique_ptr<ChecksumChecks> checks_;
    // Files being hashed: slot -> bytes read and size, for their progress lines.
    std::map<int, std::pair<std::int64_t, std::int64_t>> hashing_;
    std::vector<Job> jobs_;
    std::size_t nextJob_ = 0;  // the first job not added yet
    QStringList tried_;        // the valid addresses added, encoded
    // Uses the sockets and the list: declared after them, it goes before them.
    std::unique_ptr<AddressContinuation> continuation_;
    // The job being added: a session that ends inside the add reports before its slot is known.
    Job* adding_ = nullptr;
    // Uses the queue and the context: declared after them, it goes before them.
    std::unique_ptr<RemoteControl> remote_;
    QuitSignals quitSignals_;
    QTimer pump_;
    QTimer saver_;
    QTimer saveSoon_;
    ProgressLines progress_;
    QStringList failures_;
    std::unique_ptr<ListReserve> reserve_;
    int exitCode_ = 0;
    bool checkFailed_ = false;  // a file failed its check, or could not be read for it
    bool finished_ = false;
    bool saveFailureShown_ = false;
};
