#include "cli/get_runner.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <cstdio>

#include "core/download_list/list_additions.h"
#include "core/paths/app_paths.h"
#include "core/text/format.h"
#include "core/text/url_codec.h"
#include "core/types/tick.h"
#include "core/urls/parse_url.h"
#include "net/winsock_errors.h"

namespace {

constexpr int kSimultaneous = 3;

void PrintError(const QString& line) {
    std::fprintf(stderr, "brenloft-get: %s\n", line.toLocal8Bit().constData());
}

}  // namespace

// One URL and, while it runs, its session.
struct GetRunner::Job {
    QString url;
    int slot = 0;
    std::unique_ptr<Observer> observer;
    DownloadSession* session = nullptr;  // owned by the runner as a QObject child
    bool done = false;
    bool started = false;
};

// No one to ask: questions get the answer that downloads nothing unasked, and messages are
// kept as the reason a download failed.
class GetRunner::Prompts : public SessionPrompts {
public:
    QString lastMessage;
    void showMessage(const QString& text, Icon icon) override {
        if (icon == Icon::Critical || icon == Icon::Warning) {
            lastMessage = text;
        }
    }
    void askYesNo(const QString& text, std::function<void(bool)> answer) override {
        lastMessage = text;
        answer(false);
    }
    void askCredentials(const QString& caption, const QString&, const QString&, const QString&,
                        std::function<void(const Credentials&)> answer) override {
        lastMessage = caption + QStringLiteral(" (give --user and --password)");
        answer(Credentials{});
    }
};

class GetRunner::Observer : public SessionObserver {
public:
    Observer(GetRunner& runner, Job& job) : runner_(runner), job_(job) {}
    void progressChanged() override { runner_.drawProgress(); }
    // The part files exist from now on: the list names them before any byte goes in, so a
    // run killed or stopped by a full disk before the next save leaves none behind unknown.
    void segmentsPlanned(int /*count*/) override { runner_.save(); }
    void sessionClosed(const QString& why) override { runner_.jobEnded(job_, why); }

private:
    GetRunner& runner_;
    Job& job_;
};

GetRunner::GetRunner(GetOptions options, QObject* parent)
    : QObject(parent),
      options_(std::move(options)),
      progress_(!options_.quiet && !options_.verbose) {
    prompts_ = std::make_unique<Prompts>();
    connect(&quitSignals_, &QuitSignals::quitRequested, this, &GetRunner::quitNow);
}

GetRunner::~GetRunner() {
    // The sessions are children of the runner and use its sockets and files: they must go
    // before those members do, not after them with the other children.
    qDeleteAll(findChildren<DownloadSession*>(Qt::FindDirectChildrenOnly));
}

bool GetRunner::start() {
    const QString folder = QDir(options_.folder).absolutePath();
    workFolder_ = folder + QStringLiteral("/.brenloft-get");
    if (!QDir().mkpath(workFolder_ + QStringLiteral("/temp"))) {
        PrintError(QStringLiteral("cannot create %1").arg(workFolder_));
        exitCode_ = 1;
        return false;
    }
    listPath_ = workFolder_ + u'/' + QLatin1String(ListFileName);

    // The settings' defaults, never the desktop program's store: a script gets the same
    // behaviour on every machine. The flags say what differs.
    const SettingsStore defaults(workFolder_ + QStringLiteral("/no-settings.ini"));
    LoadSettings(settings_, defaults, workFolder_);
    settings_.DownloadFolder = folder + u'/';
    settings_.TempFolder = workFolder_ + QStringLiteral("/temp/");
    settings_.AutoPreviewZIP = FlagFalse;
    if (options_.segments > 0) {
        settings_.MaxSegments = options_.segments;
    }
    if (options_.limit > 0) {
        settings_.UseSpeedLimiter = FlagTrue;
        settings_.SpeedLimiter = options_.limit;
    }
    if (!options_.proxyHost.isEmpty()) {
        settings_.ProxyHTTP = FlagTrue;
        settings_.ProxyServer = options_.proxyHost;
        settings_.ProxyPort = static_cast<std::int16_t>(options_.proxyPort);
    }
    LoadLanguage(texts_, QStringLiteral("english"), LanguageFolders(workFolder_));

    if (const ListLoadResult loaded = LoadList(list_, listPath_); !loaded.error.isEmpty()) {
        PrintError(loaded.error);
    }
    sockets_.StartSockets();
    sockets_.setLimits({settings_.UseSpeedLimiter == FlagTrue, settings_.SpeedLimiter});
    context_ = std::make_unique<EngineContext>(EngineContext{
        list_, listPath_, settings_, texts_, sockets_, files_, *prompts_, actions_, {}, {}, 0});

    for (const QString& url : options_.urls) {
        auto job = std::make_unique<Job>();
        job->url = url;
        jobs_.push_back(std::move(job));
    }
    connect(&pump_, &QTimer::timeout, this, [this] { sockets_.PumpSockets(); });
    pump_.start(500);
    connect(&saver_, &QTimer::timeout, this, &GetRunner::save);
    saver_.start(5000);
    QTimer::singleShot(0, this, &GetRunner::startNext);
    return true;
}

void GetRunner::startNext() {
    int running = 0;
    for (const auto& job : jobs_) {
        running += job->started && !job->done ? 1 : 0;
    }
    for (auto& jobPtr : jobs_) {
        if (running >= kSimultaneous) {
            break;
        }
        Job& job = *jobPtr;
        if (job.started) {
            continue;
        }
        job.started = true;
        const QString encoded = EncodeUrl(job.url.trimmed());
        const ParsedUrl parsed = ParseUrl(encoded);
        if (parsed.status != UrlValid) {
            job.done = true;
            failures_ << QStringLiteral("%1: not an http:// or ftp:// address")
                             .arg(UrlForDisplay(job.url));
            continue;
        }
        // The same address given twice is one download: two sessions on one entry would
        // write over each other's parts.
        const bool givenBefore = std::any_of(jobs_.begin(), jobs_.end(), [&](const auto& other) {
            return other.get() != &job && other->started &&
                   EncodeUrl(other->url.trimmed()).compare(encoded, Qt::CaseInsensitive) == 0;
        });
        if (givenBefore) {
            job.done = true;
            continue;
        }
        int slot = FindActiveDuplicate(list_, encoded);
        if (slot > 0) {
            // Left by an interrupted run: continue its segments where they stopped.
            DownloadRecord& r = list_.DownloadList[slot];
            if (r.SegmentCount >= 1) {
                for (int j = 1; j <= r.SegmentCount; ++j) {
                    SegmentRecord& s = *r.Segments.at(j);
                    if (s.State != SegmentState::Complete) {
                        s.StartPos += s.Received;
                        s.Done += s.Received;
                        s.Received = Currency{};
                    }
                }
                r.Resuming = FlagTrue;
            }
        } else {
            slot = ChooseFreeSlot(list_);
            if (slot == 0) {
                job.done = true;
                failures_
                    << QStringLiteral("%1: the download list is full").arg(UrlForDisplay(job.url));
                continue;
            }
            FillNewRecord(list_.DownloadList[slot], parsed, encoded, 0, QString());
        }
        DownloadRecord& r = list_.DownloadList[slot];
        if (!options_.user.isEmpty()) {
            r.UserName = options_.user;
            r.Password = options_.password;
        }
        r.Queued = 0;
        r.Paused = FlagFalse;
        r.Failed = FlagFalse;
        r.RetryCount = 0;
        job.slot = slot;
        job.observer = std::make_unique<Observer>(*this, job);
        job.session = new DownloadSession(*context_, *job.observer, this);
        job.session->AttachRecord(slot);
        job.session->InitConnection();
        r.Running = FlagTrue;
        ++running;
    }
    finishIfDone();
}

QString GetRunner::describeFailure(const Job& job, const QString& why) const {
    QString reason = why;
    if (job.session != nullptr && (reason.isEmpty() || reason == u"no connection")) {
        switch (job.session->lastProbeError()) {
            case WinSock::ConnectionRefused:
                reason = QStringLiteral("connection refused");
                break;
            case WinSock::AddressNotAvailable:
                reason = QStringLiteral("host not found");
                break;
            case WinSock::TimedOut:
                reason = QStringLiteral("timed out");
                break;
            case WinSock::ConnectionReset:
                reason = QStringLiteral("connection reset");
                break;
            case 0:
                break;
            default:
                reason = QStringLiteral("network error %1").arg(job.session->lastProbeError());
        }
    }
    if (reason.isEmpty()) {
        reason = prompts_->lastMessage.isEmpty() ? QStringLiteral("not completed")
                                                 : prompts_->lastMessage;
    }
    return QStringLiteral("%1: %2").arg(UrlForDisplay(job.url), reason);
}

void GetRunner::jobEnded(Job& job, const QString& why) {
    if (job.done) {
        return;
    }
    job.done = true;
    DownloadRecord* r = list_.record(job.slot);
    progress_.clear();
    if (r != nullptr && r->Completed == FlagTrue) {
        std::printf("%s\n", QDir::toNativeSeparators(r->SavePath).toLocal8Bit().constData());
        std::fflush(stdout);
        // Finished entries leave the list; their slot is free for the next download.
        r->Active = FlagFalse;
        r->Removed = FlagTrue;
    } else {
        failures_ << describeFailure(job, why);
        if (r != nullptr) {
            r->Running = FlagFalse;
        }
    }
    job.session->deleteLater();
    job.session = nullptr;
    save();
    QTimer::singleShot(0, this, &GetRunner::startNext);
}

void GetRunner::finishIfDone() {
    if (finished_) {
        return;
    }
    for (const auto& job : jobs_) {
        if (!job->done) {
            return;
        }
    }
    finished_ = true;
    progress_.clear();
    save();
    for (const QString& failure : failures_) {
        PrintError(failure);
    }
    exitCode_ = failures_.isEmpty() ? 0 : 1;
    QCoreApplication::exit(exitCode_);
}

void GetRunner::save() {
    if (const QString why = SaveList(list_, listPath_); !why.isEmpty()) {
        PrintError(QStringLiteral("the download list was not saved: %1").arg(why));
    }
}

void GetRunner::quitNow(int /*signalNumber*/) {
    // As when the session ends: pause everything, keep the list, end.
    for (auto& job : jobs_) {
        if (job->session != nullptr) {
            job->session->PauseDownload();
        }
    }
    progress_.clear();
    save();
    PrintError(QStringLiteral("interrupted; run the same command again to continue"));
    finished_ = true;
    exitCode_ = 1;
    QCoreApplication::exit(exitCode_);
}

void GetRunner::drawProgress() {
    QStringList lines;
    for (const auto& job : jobs_) {
        if (job->session == nullptr || job->done) {
            continue;
        }
        const DownloadRecord* r = list_.record(job->slot);
        if (r == nullptr) {
            continue;
        }
        int active = 0;
        for (int j = 1; j <= r->SegmentCount; ++j) {
            active += r->Segments.at(j)->State == SegmentState::Receiving ? 1 : 0;
        }
        const double rate = r->ElapsedSeconds > 0 ? r->BytesDone.bytes() / r->ElapsedSeconds : 0;
        QString name = DecodeUrl(r->FileName);
        if (name.size() > 32) {
            name = name.left(31) + u'~';
        }
        lines << QStringLiteral("%1 %2% %3 / %4  %5/s  %6 left  %7 seg")
                     .arg(name, -32)
                     .arg(r->Percent, 5, 'f', 1)
                     .arg(FormatSize(r->BytesDone, texts_), FormatSize(r->FileSize, texts_),
                          FormatSize(Currency::fromBytes(static_cast<std::int64_t>(rate)), texts_),
                          FormatDuration(r->RemainingSeconds))
                     .arg(active);
    }
    progress_.draw(lines);
}
