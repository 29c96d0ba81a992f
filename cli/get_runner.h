#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <memory>
#include <vector>

#include "cli/get_options.h"
#include "cli/progress_lines.h"
#include "core/download_list/download_list.h"
#include "core/process/quit_signals.h"
#include "core/settings/settings.h"
#include "core/text/text_table.h"
#include "engine/completion/completion_actions.h"
#include "engine/files/segment_files.h"
#include "engine/session/download_session.h"
#include "engine/session/engine_context.h"
#include "engine/session/session_prompts.h"
#include "net/socket_module.h"

// Runs brenloft-get: each URL through the same engine as the desktop program, its list and
// part files in DIR/.brenloft-get/ so that running the same command again continues where an
// interrupted run stopped. Exit status 0 when every file is complete.
class GetRunner : public QObject {
    Q_OBJECT
public:
    explicit GetRunner(GetOptions options, QObject* parent = nullptr);
    ~GetRunner() override;

    // Starts the downloads; false (with a message on stderr) when the folders cannot be used.
    bool start();
    int exitCode() const { return exitCode_; }

private:
    struct Job;
    class Prompts;
    class Observer;

    void startNext();
    void jobEnded(Job& job, const QString& why);
    void finishIfDone();
    void save();
    void quitNow(int signalNumber);
    void drawProgress();
    QString describeFailure(const Job& job, const QString& why) const;

    GetOptions options_;
    QString workFolder_;
    QString listPath_;
    DownloadListState list_;
    Settings settings_;
    TextTable texts_;
    VelmoraSockets sockets_;
    SegmentFiles files_;
    std::unique_ptr<Prompts> prompts_;
    DetachedLauncherOnly actions_;
    std::unique_ptr<EngineContext> context_;
    std::vector<std::unique_ptr<Job>> jobs_;
    QuitSignals quitSignals_;
    QTimer pump_;
    QTimer saver_;
    ProgressLines progress_;
    QStringList failures_;
    int exitCode_ = 0;
    bool finished_ = false;
};
