// A download whose file changed on its server: asked, started again, or stopped.
#include <QFile>
#include <QPointer>
#include <QTimer>

#include "core/download_list/download_list.h"
#include "core/download_list/entry_state.h"
#include "core/download_list/file_identity.h"
#include "core/download_list/list_additions.h"
#include "engine/session/download_session.h"
#include "engine/session/failure_words.h"
#include "engine/session/session_log.h"
#include "engine/session/session_prompts.h"

void DownloadSession::fileChanged(const QString& how) {
    DownloadRecord* r = record();
    // Several connections may see it at once: the first one decides.
    if (r == nullptr || HeldByPause(*r)) {
        return;
    }
    qCInfo(lcEngine).noquote() << DownloadTag(RecordIndex)
                               << "the file on the server changed:" << how;
    // Every connection ends here, so nothing of the new version reaches the old parts.
    PauseDownload();
    const QString why = QLatin1String(SessionReason::FileChanged);
    const EngineContext::ChangedFile rule =
        ReadIdentity(*r).noRestart ? EngineContext::ChangedFile::Stop : core_.ctx.changedFile;
    // Twice in a row the file changed again at once: its server does not hold it still.
    constexpr int kMostStartsAgain = 2;
    if (rule == EngineContext::ChangedFile::Stop ||
        (rule == EngineContext::ChangedFile::StartAgain && startedAgain_ >= kMostStartsAgain)) {
        failWith(why);
        return;
    }
    if (rule == EngineContext::ChangedFile::StartAgain) {
        core_.ctx.prompts.showMessage(
            Worded(core_.ctx.texts, 1283,
                   QStringLiteral("The file on the server changed since the download began: "
                                  "starting again from the first byte.")),
            SessionPrompts::Icon::Information);
        ++startedAgain_;
        // From the event loop: other connections' answers of the new version may wait there
        // still, and must find this download paused, not started again.
        QTimer::singleShot(0, &core_.lifetime(), [this] {
            const DownloadRecord* r = record();
            if (r != nullptr && Listed(*r) && HeldByPause(*r)) {
                startAgain();
            }
        });
        return;
    }
    const QString megabytes = QString::number(double(r->BytesDone.bytes()) / (1024.0 * 1024.0), 'f',
                                              r->BytesDone.bytes() < 10 << 20 ? 1 : 0);
    const QString question =
        Worded(core_.ctx.texts, 1280,
               QStringLiteral("The file on the server changed since the download began: start "
                              "again? (%1 MB received are discarded)"))
            .arg(megabytes);
    QPointer<DownloadSession> self(this);
    // A hasty Enter must not throw away what was received.
    core_.ctx.prompts.askYesNo(
        question,
        [self, why](bool yes) {
            DownloadRecord* r = self ? self->record() : nullptr;
            // Resumed or removed meanwhile: the answer has nothing left to decide.
            if (r == nullptr || !Listed(*r) || !HeldByPause(*r)) {
                return;
            }
            if (yes) {
                self->startAgain();
                return;
            }
            MarkFailed(*r, FailureCode::FileChanged);
            self->closeWith(why);
        },
        SessionPrompts::Preferred::No);
}

void DownloadSession::startAgain() {
    DownloadRecord* r = record();
    if (r == nullptr) {
        return;
    }
    qCInfo(lcEngine).noquote() << DownloadTag(RecordIndex) << "starts again from the first byte";
    for (int j = 1; j <= r->SegmentCount; ++j) {
        QFile::remove(r->Segments.at(j)->PartFile);
    }
    r->Segments.redim(0);
    r->SegmentCount = 0;
    r->FileSize = Currency{};
    ForgetTransfer(*r);
    r->RangesSupported = FlagTrue;
    r->RetryCount = 0;
    FileIdentity none;
    none.noRestart = ReadIdentity(*r).noRestart;
    KeepIdentity(*r, none);
    MarkResuming(*r, false);
    // Without a plan, the resume asks the server anew and plans for what it finds.
    ResumeDownload();
}
