#include "cli/get_runner.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <cstdio>

#include "cli/address_continuation.h"
#include "cli/environment_proxies.h"
#include "cli/remote_control_start.h"
#include "cli/work_folder.h"
#include "core/diagnostics/log_categories.h"
#include "core/download_list/checksum_note.h"
#include "core/download_list/entry_state.h"
#include "core/download_list/list_file_format.h"
#include "core/paths/folder_lock.h"
#include "core/text/format.h"
#include "core/text/url_codec.h"
#include "core/urls/parse_url.h"
#include "engine/checksum/checksum_checks.h"
#include "engine/checksum/checksum_words.h"
#include "engine/files/part_files.h"
#include "engine/queue/add_download.h"
#include "engine/queue/download_queue.h"
#include "engine/session/busy_wait.h"
#include "engine/session/download_session.h"
#include "engine/session/failure_words.h"
#include "net/winsock_errors.h"
#include "rpc/remote_control.h"

namespace {

// Every line may carry what a server or the list said: no control character reaches the
// terminal as it is.
void PrintError(const QString& line) {
    std::fprintf(stderr, "brenloft-get: %s\n", EscapeControls(line).toLocal8Bit().constData());
}

// The files earlier runs finished, as their entries remember them. An entry whose file has
// gone or changed size is forgotten: nothing of it is left to report.
std::vector<FinishedFile> TakeFinishedFiles(DownloadListState& list) {
    std::vector<FinishedFile> finished;
    for (int slot = 1; slot <= UsedSlots(list); ++slot) {
        DownloadRecord& r = list.DownloadList[slot];
        if (StateOf(r) != ListEntryState::Finished) {
            continue;
        }
        const QFileInfo file(r.SavePath);
        if (file.isFile() && file.size() == r.FileSize.bytes()) {
            finished.push_back({r.Url, r.SavePath, r.FileSize.bytes()});
        } else {
            r = DownloadRecord{};
        }
    }
    return finished;
}

// The same proxy in the settings, for what connects by them rather than by the resolver (the
// search for an unfinished download that a new address continues).
void PutProxyInSettings(const ProxyRoute& route, Settings& settings) {
    if (route.kind == ProxyRoute::Kind::Http) {
        settings.ProxyHTTP = FlagTrue;
        settings.ProxyServer = route.host;
        settings.ProxyPort = route.port;
        settings.ProxyUser = route.user;
        settings.ProxyPassword = route.password;
    } else {
        settings.SocksVersion = route.kind == ProxyRoute::Kind::Socks4 ? 4 : 5;
        settings.SocksServer = route.host;
        settings.SocksPort = route.port;
        settings.SocksUser = route.user;
        settings.SocksPassword = route.password;
    }
}

}  // namespace

// No one to ask: questions get the answer that downloads nothing unasked, and messages are
// kept as the reason a download failed. The daemon's --user and --password go to a server
// that asks for a login, once: a refused one is not sent again.
class GetRunner::Prompts : public SessionPrompts {
public:
    QString lastMessage;
    QString user;
    QString password;
    void showMessage(const QString& text, Icon icon) override {
        if (icon == Icon::Critical || icon == Icon::Warning) {
            lastMessage = text;
        } else if (icon == Icon::Information) {
            PrintError(text);  // what a download did on its own, such as starting again
        }
    }
    void askYesNo(const QString& text, std::function<void(bool)> answer, Preferred) override {
        lastMessage = text;
        answer(false);
    }
    void askCredentials(const QString& caption, const QString&, const QString& triedUser,
                        const QString& triedPassword,
                        std::function<void(const Credentials&)> answer) override {
        lastMessage = caption + QStringLiteral(" (give --user and --password)");
        const bool fresh = !user.isEmpty() && (triedUser != user || triedPassword != password);
        answer(Credentials{fresh, user, password, false});
    }
};

GetRunner::GetRunner(GetOptions options, QObject* parent)
    : QObject(parent),
      options_(std::move(options)),
      progress_(!options_.quiet && !options_.verbose && !options_.enableRpc) {
    prompts_ = std::make_unique<Prompts>();
    if (options_.enableRpc) {
        prompts_->user = options_.user;
        prompts_->password = options_.password;
    }
    connect(&quitSignals_, &QuitSignals::quitRequested, this, &GetRunner::quitNow);
}

GetRunner::~GetRunner() = default;

bool GetRunner::start() {
    const QString folder = QDir(options_.folder).absolutePath();
    workFolder_ = folder + QStringLiteral("/.brenloft-get");
    const QString temp = workFolder_ + QStringLiteral("/temp");
    QString unusable = QDir().mkpath(folder) ? PrepareWorkFolder(workFolder_)
                                             : QStringLiteral("cannot create %1").arg(folder);
    if (unusable.isEmpty()) {
        unusable = PrepareWorkFolder(temp);
    }
    if (unusable.isEmpty()) {
        folderLock_ = std::make_unique<FolderLock>(workFolder_, FolderLock::Wait::No);
        if (!folderLock_->held()) {
            unusable = QStringLiteral(
                           "%1 is in use by another brenloft-get; wait for it to end "
                           "or give another folder with -d")
                           .arg(workFolder_);
        }
    }
    if (!unusable.isEmpty()) {
        PrintError(unusable);
        exitCode_ = 1;
        return false;
    }
    listPath_ = workFolder_ + u'/' + QLatin1String(ListFileName);
    reserve_ = std::make_unique<ListReserve>(workFolder_ + QStringLiteral("/list-reserve"));

    useDefaultsAndFlags(folder, temp);
    LoadLanguage(texts_, QStringLiteral("english"), InstalledLanguageFolders());

    if (const ListLoadResult loaded = LoadList(list_, listPath_); !loaded.error.isEmpty()) {
        PrintError(loaded.error);
    } else {
        // Only against a list read whole: one that was damaged no longer names all its parts.
        const int removed = DeleteUnnamedPartFiles(list_, temp);
        qCInfo(lcQueue, "removed %d part files of %s that no entry names", removed,
               qUtf8Printable(temp));
    }
    // The list may not be one this program wrote: an entry naming files outside its folders
    // would have the join write, read and remove them.
    for (const QString& dropped : DropUnsafeEntries(list_, folder, temp)) {
        PrintError(dropped);
    }
    if (!chooseProxies()) {
        return false;
    }
    std::vector<FinishedFile> finished = TakeFinishedFiles(list_);
    startSockets();
    startQueue(std::move(finished));
    if (options_.enableRpc) {
        QString why;
        remote_ = StartRemoteControl(options_, workFolder_, *context_, *queue_, why);
        if (!remote_) {
            PrintError(why);
            exitCode_ = 1;
            return false;
        }
        connect(remote_.get(), &RemoteControl::shutdownRequested, this, &GetRunner::endDaemon);
    }
    return true;
}

void GetRunner::useDefaultsAndFlags(const QString& folder, const QString& temp) {
    // The settings' defaults, never a file: neither the desktop program's store nor one found
    // in a work folder someone else may have made. The flags say what differs.
    LoadDefaultSettings(settings_, workFolder_);
    settings_.DownloadFolder = folder + u'/';
    settings_.TempFolder = temp + u'/';
    settings_.AutoPreviewZIP = FlagFalse;
    settings_.MaxSimulDownlads = options_.simultaneous;
    if (options_.segments > 0) {
        settings_.MaxSegments = options_.segments;
    }
    if (!options_.safeDisk) {
        settings_.SafeDisk = FlagFalse;
    }
    if (options_.maxTries > 0) {
        settings_.MaxTries = options_.maxTries;
    }
    if (!options_.checksumLookups) {
        settings_.ChecksumLookups = FlagFalse;
    }
    if (options_.limit > 0) {
        settings_.UseSpeedLimiter = FlagTrue;
        settings_.SpeedLimiter = options_.limit;
    }
    if (options_.proxy) {
        PutProxyInSettings(*options_.proxy, settings_);
    }
}

bool GetRunner::chooseProxies() {
    if (options_.proxy || options_.noProxy) {
        proxies_ = std::make_unique<EnvironmentProxies>(
            options_.proxy.value_or(ProxyRoute{}),
            options_.proxy ? QStringLiteral("--proxy") : QStringLiteral("--no-proxy"));
    } else {
        proxies_ = std::make_unique<EnvironmentProxies>(QProcessEnvironment::systemEnvironment());
    }
    if (!proxies_->error().isEmpty()) {
        PrintError(proxies_->error());
        exitCode_ = 2;
        return false;
    }
    for (const QString& url : options_.urls) {
        const QString encoded = EncodeUrl(url.trimmed());
        if (ParseUrl(encoded).status == UrlValid) {
            const ProxyChoice choice = proxies_->choose(encoded);
            const QString from = choice.from.isEmpty() ? QStringLiteral("no proxy variable set")
                                                       : QStringLiteral("from ") + choice.from;
            qCInfo(lcEngine, "proxy for %s: %s (%s)", qUtf8Printable(UrlForDisplay(encoded)),
                   qUtf8Printable(choice.route.describe()), qUtf8Printable(from));
        }
    }
    return true;
}

void GetRunner::startSockets() {
    sockets_.StartSockets();
    sockets_.setLimits({settings_.UseSpeedLimiter == FlagTrue, settings_.SpeedLimiter});
    if (!options_.caCertificate.isEmpty()) {
        sockets_.setTlsCaFile(QFileInfo(options_.caCertificate).absoluteFilePath());
    }
    if (!options_.checkCertificates) {
        sockets_.setTlsVerify(false);
        PrintError(QStringLiteral("warning: https:// certificates are not checked"));
    }
}

void GetRunner::startQueue(std::vector<FinishedFile> finished) {
    context_ = std::make_unique<EngineContext>(EngineContext{
        list_, listPath_, settings_, texts_, sockets_, files_, *prompts_, actions_, {}, {}, 0});
    // Run again after it finished, the command reports the files it made instead of fetching
    // them once more under numbered names.
    context_->adoptWholeFiles = true;
    context_->changedFile = options_.restartChanged ? EngineContext::ChangedFile::StartAgain
                                                    : EngineContext::ChangedFile::Stop;
    context_->finishedFiles = std::move(finished);
    hostLimits_ =
        std::make_unique<HostLimits>(workFolder_ + u'/' + QLatin1String(HostLimitsFileName));
    context_->hostLimits = hostLimits_.get();
    context_->proxyResolver = proxies_.get();

    queue_ = std::make_unique<DownloadQueue>(*context_, windows_);
    // What an interrupted run left queued waits until a command names it again; the daemon's
    // queue is its clients', and what ran when it ended was queued to start again.
    if (!options_.enableRpc) {
        queue_->ClearQueue();
    }
    // Before anything else hears of a session's end: a finished download's check is already
    // under way (busy()) when this runner sees it end, so the run cannot end before its result.
    checks_ = std::make_unique<ChecksumChecks>(*context_, *queue_);
    connect(checks_.get(), &ChecksumChecks::checked, this, &GetRunner::checkResult);
    connect(checks_.get(), &ChecksumChecks::hashing, this,
            [this](int slot, std::int64_t done, std::int64_t total) {
                hashing_[slot] = {done, total};
                drawProgress();
            });
    // Plans and finished files are saved once for all that come together; a part file that no
    // saved list names (a run killed before the save) is removed by the next run.
    saveSoon_.setSingleShot(true);
    saveSoon_.setInterval(500);
    connect(&saveSoon_, &QTimer::timeout, this, &GetRunner::save);
    context_->saveList = [this] { return save(); };
    context_->saveListSoon = [this] {
        if (!saveSoon_.isActive()) {
            saveSoon_.start();
        }
    };
    connect(queue_.get(), &DownloadQueue::segmentsPlanned, this,
            [this] { context_->saveListSoon(); });
    connect(queue_.get(), &DownloadQueue::entryChanged, this, &GetRunner::drawProgress);
    connect(queue_.get(), &DownloadQueue::sessionEnded, this, &GetRunner::entryEnded);

    jobs_.reserve(std::size_t(options_.urls.size()));
    for (qsizetype i = 0; i < options_.urls.size(); ++i) {
        jobs_.push_back(Job{options_.urls[i], options_.checksums.value(i)});
    }
    // The socket layer's tick, and the queue's: a place left free starts the next address.
    connect(&pump_, &QTimer::timeout, this, [this] {
        sockets_.PumpSockets();
        queue_->StartNextQueued();
    });
    pump_.start(500);
    connect(&saver_, &QTimer::timeout, this, &GetRunner::save);
    saver_.start(5000);
    continuation_ = std::make_unique<AddressContinuation>(list_, sockets_, settings_);
    connect(continuation_.get(), &AddressContinuation::decided, this,
            &GetRunner::continuationDecided);
    QTimer::singleShot(0, this, &GetRunner::addAll);
}

void GetRunner::addAll() {
    while (nextJob_ < jobs_.size()) {
        Job& job = jobs_[nextJob_];
        // The same address given twice is one download: two sessions on one entry would write
        // over each other's parts. One that cannot be fetched says so each time it is given.
        const QString encoded = EncodeUrl(job.url.trimmed());
        const bool valid = ParseUrl(encoded).status == UrlValid;
        const bool givenBefore = std::any_of(tried_.begin(), tried_.end(), [&](const QString& a) {
            return a.compare(encoded, Qt::CaseInsensitive) == 0;
        });
        if (valid && givenBefore) {
            job.done = true;
            ++nextJob_;
            continue;
        }
        // A fresh link to a file left unfinished here is checked before it is added; the adding
        // goes on when the checks end.
        if (valid && !job.checked) {
            job.checked = true;
            if (continuation_->Start(encoded)) {
                return;
            }
        }
        ++nextJob_;
        add(job, valid, encoded);
    }
    finishIfDone();
}

void GetRunner::continuationDecided(int slot, const QString& line, bool expected) {
    // Neither way is a failure: -q keeps quiet, and a refusal of a file that only came from the
    // same host is told only with -v.
    if (!options_.quiet && (expected || options_.verbose)) {
        progress_.clear();
        PrintError(line);
    }
    if (slot > 0) {
        context_->saveListSoon();  // the entry's new address
    }
    // Not inside the search's signal: the next address may start another search.
    QTimer::singleShot(0, this, [this] {
        if (!finished_) {
            addAll();
        }
    });
}

void GetRunner::add(Job& job, bool valid, const QString& encoded) {
    AddRequest request;
    request.url = job.url.trimmed();
    request.user = options_.user;
    request.password = options_.password;
    request.checksum = job.checksum;
    QString why;
    adding_ = &job;
    const int slot = AddOrContinue(*context_, *queue_, request, why);
    adding_ = nullptr;
    if (valid) {
        tried_ << encoded;
    }
    if (slot == 0) {
        job.done = true;
        failures_ << QStringLiteral("%1: %2").arg(UrlForDisplay(job.url), why);
        return;
    }
    if (job.done) {
        return;  // it ended inside the add and has been reported
    }
    const bool served = std::any_of(jobs_.begin(), jobs_.end(), [&](const Job& other) {
        return &other != &job && !other.done && other.slot == slot;
    });
    // Another address of the command may have reached the same entry (a redirect's target).
    job.done = served;
    job.slot = served ? 0 : slot;
}

QString GetRunner::describeFailure(const Job& job, const DownloadSession* session,
                                   const QString& why) const {
    QString reason = why;
    if (session != nullptr &&
        (reason.isEmpty() || reason == QLatin1String(SessionReason::NoConnection) ||
         SocketErrorIn(reason).has_value())) {
        const std::int32_t error = session->lastProbeError();
        if (error == WinSock::TlsFailed || error == WinSock::TunnelRefused) {
            // The session names the host and what was wrong with its certificate, or the
            // proxy and its answer.
            reason =
                session->lastProblem().isEmpty() ? SocketErrorText(error) : session->lastProblem();
        } else if (error != 0) {
            reason = SocketErrorText(error);
        }
    }
    if (reason.isEmpty()) {
        reason = prompts_->lastMessage.isEmpty() ? QStringLiteral("not completed")
                                                 : prompts_->lastMessage;
    }
    if (session != nullptr && session->certificateRefused()) {
        reason += QStringLiteral(
            " (give its CA's certificate with --ca-certificate FILE, or take any certificate "
            "with --no-check-certificate)");
    }
    return QStringLiteral("%1: %2").arg(UrlForDisplay(job.url), reason);
}

void GetRunner::entryEnded(int slot, const QString& why) {
    if (options_.enableRpc) {
        daemonEntryEnded(slot, why);
        return;
    }
    auto it = std::find_if(jobs_.begin(), jobs_.end(),
                           [slot](const Job& job) { return !job.done && job.slot == slot; });
    Job* job = it != jobs_.end() ? &*it : adding_;
    if (job == nullptr || job->done) {
        return;
    }
    job->done = true;
    job->slot = slot;
    const DownloadRecord* r = list_.record(slot);
    progress_.clear();
    if (r != nullptr && StateOf(*r) == ListEntryState::Finished) {
        // Finished entries stay in the list: a later run reports their files instead of
        // taking any file of the same name and size for them. The file's path goes out with
        // its check's result: a file that failed it is not listed as a finished one.
        job->whole = true;
        // A result known already: heard before this end, or kept from an earlier run.
        tellCheck(*job);
    } else {
        failures_ << describeFailure(*job, queue_->session(slot), why);
    }
    // With the others that end meanwhile; the run saves once more as it ends.
    context_->saveListSoon();
    QTimer::singleShot(0, this, [this] {
        if (!finished_) {
            queue_->StartNextQueued();
            finishIfDone();
        }
    });
}

void GetRunner::daemonEntryEnded(int slot, const QString& why) {
    context_->saveListSoon();
    const DownloadRecord* r = list_.record(slot);
    if (options_.quiet || finished_ || r == nullptr) {
        return;
    }
    // One line for the log of each download that ended by itself (a refused login pauses it).
    if (StateOf(*r) == ListEntryState::Finished) {
        PrintError(QStringLiteral("finished %1").arg(r->SavePath));
    } else if (StateOf(*r) == ListEntryState::Failed || !why.isEmpty()) {
        PrintError(describeFailure(Job{r->Url}, queue_->session(slot), why));
    }
}

void GetRunner::checkResult(int slot) {
    hashing_.erase(slot);
    // A result may come before the runner hears of the download's end; it is told then.
    const auto job = std::find_if(jobs_.begin(), jobs_.end(),
                                  [slot](const Job& j) { return j.whole && j.slot == slot; });
    if (job != jobs_.end()) {
        tellCheck(*job);
    }
    drawProgress();
    QTimer::singleShot(0, this, [this] { finishIfDone(); });
}

void GetRunner::tellCheck(Job& job) {
    const DownloadRecord* r = list_.record(job.slot);
    if (job.checkTold || r == nullptr) {
        return;
    }
    const ChecksumNote note = ReadChecksumNote(*r);
    using Outcome = ChecksumNote::Outcome;
    if (note.outcome == Outcome::Unchecked) {
        return;
    }
    job.checkTold = true;
    // Either way the file keeps its name: a wrong checksum may be the sums file's fault.
    const bool failed = note.outcome == Outcome::Failed || note.outcome == Outcome::Unreadable;
    checkFailed_ = checkFailed_ || failed;
    progress_.clear();
    if (failed || !options_.quiet) {
        PrintError(QFileInfo(r->SavePath).fileName() + QStringLiteral(": ") + ChecksumWords(note));
    }
    if (!failed) {
        std::printf("%s\n", EscapeControls(r->SavePath).toLocal8Bit().constData());
        std::fflush(stdout);
    }
}

void GetRunner::finishIfDone() {
    // A check still to come, for this run's files, keeps it going until the result is told.
    // The daemon runs until it is told to end.
    if (finished_ || adding_ != nullptr || checks_->busy() || options_.enableRpc) {
        return;
    }
    for (const Job& job : jobs_) {
        if (!job.done) {
            return;
        }
    }
    finished_ = true;
    progress_.clear();
    save();
    for (const QString& failure : failures_) {
        PrintError(failure);
    }
    exitCode_ = failures_.isEmpty() && !checkFailed_ ? 0 : 1;
    QCoreApplication::exit(exitCode_);
}

QString GetRunner::save() {
    // What the list is about to count as received is on the disk before it says so.
    if (settings_.SafeDisk == FlagTrue) {
        files_.VelmoraFlushAll();
    }
    const QByteArray bytes = EncodeListFile(list_);
    QString why = SaveEncodedList(bytes, listPath_);
    // A full disk: the room kept for it takes the list that says what was received.
    if (!why.isEmpty() && reserve_->release()) {
        why = SaveEncodedList(bytes, listPath_);
    }
    if (why.isEmpty()) {
        // Room for the list written anew beside the old one, with some to spare for its growth.
        reserve_->keep(2 * bytes.size() + 65536);
    } else if (!saveFailureShown_) {
        saveFailureShown_ = true;
        PrintError(QStringLiteral("the download list was not saved: %1").arg(why));
    }
    return why;
}

void GetRunner::quitNow(int /*signalNumber*/) {
    if (options_.enableRpc) {
        endDaemon();
        return;
    }
    // As when the session ends: pause everything, keep the list, end.
    if (queue_) {
        queue_->StopAll();
    }
    progress_.clear();
    save();
    PrintError(QStringLiteral("interrupted; run the same command again to continue"));
    finished_ = true;
    // What shells expect of a command ended by Ctrl-C (128 + SIGINT), for SIGTERM as well.
    exitCode_ = 130;
    QCoreApplication::exit(exitCode_);
}

void GetRunner::endDaemon() {
    if (finished_ || !queue_) {
        return;
    }
    finished_ = true;
    queue_->QueueRunning();
    queue_->StopAll();
    save();
    PrintError(QStringLiteral("stopped; the list is saved"));
    exitCode_ = 0;
    QCoreApplication::exit(exitCode_);
}

void GetRunner::drawProgress() {
    QStringList lines;
    for (Job& job : jobs_) {
        if (job.done || !queue_->hasSession(job.slot)) {
            continue;
        }
        const DownloadRecord* r = list_.record(job.slot);
        if (r == nullptr) {
            continue;
        }
        int active = 0;
        for (int j = 1; j <= r->SegmentCount; ++j) {
            active += r->Segments.at(j)->State == SegmentState::Receiving ? 1 : 0;
        }
        const DownloadSession* session = queue_->session(job.slot);
        // Each wait a busy server imposes is told once, with its length, whatever the terminal.
        if (const DownloadSession::BusyNotice busy = session->busyNotice();
            busy.begun > job.busyTold) {
            job.busyTold = busy.begun;
            if (!options_.quiet) {
                progress_.clear();
                PrintError(UrlForDisplay(job.url) + QStringLiteral(": ") +
                           Busy::Words(busy.waitMs, texts_));
            }
        }
        lines << ProgressLine(*r, session->shownSpeed(), active, texts_);
        if (const QString reconnecting = session->reconnecting(); !reconnecting.isEmpty()) {
            lines.back() += QStringLiteral("  ") + reconnecting;
        }
    }
    for (const auto& [slot, bytes] : hashing_) {
        if (const DownloadRecord* r = list_.record(slot)) {
            lines << HashingLine(*r, bytes.first, bytes.second);
        }
    }
    progress_.draw(lines);
}
