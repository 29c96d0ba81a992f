// A download the server puts off at its probe: it waits, holding no connection, and asks again.
#include "core/download_list/download_list.h"
#include "core/download_list/entry_state.h"
#include "engine/session/download_session.h"
#include "engine/session/failure_words.h"
#include "engine/session/session_log.h"
#include "engine/session/session_prompts.h"

void DownloadSession::probeBusy(std::optional<std::int64_t> retryAfterMs, std::int16_t code) {
    TimeOut.stop();
    endProbe();
    const QString why = FailureWords(code);
    lastProblem_ = why;
    const bool waits =
        probeBusy_.begin(retryAfterMs, core_.ctx.busyFirstWaitMs, core_.ctx.busyTries, [this] {
            const DownloadRecord* r = record();
            if (r != nullptr && Listed(*r) && !HeldByPause(*r)) {
                InitConnection();
            }
        });
    DownloadRecord* r = record();
    if (!waits) {
        qCInfo(lcEngine).noquote() << ProbeTag(RecordIndex) << "put off too often in a row:" << why;
        core_.ctx.prompts.showMessage(FailureWords(code, core_.ctx.texts),
                                      SessionPrompts::Icon::Critical);
        if (r != nullptr) {
            MarkFailed(*r, code);
        }
        closeWith(why);
        return;
    }
    qCInfo(lcEngine).noquote() << ProbeTag(RecordIndex) << why << "- waits"
                               << probeBusy_.lastWaitMs() << "ms"
                               << (retryAfterMs ? "as the server asked" : "");
    core_.observer.stateLabelChanged(Busy::Words(probeBusy_.msLeft(), core_.ctx.texts));
}

DownloadSession::BusyNotice DownloadSession::busyNotice() const {
    const bool probeLast = probeBusy_.waiting() || segments_.busyWaitsBegun() == 0;
    return {probeBusy_.begun() + segments_.busyWaitsBegun(),
            probeLast ? probeBusy_.lastWaitMs() : segments_.lastBusyWaitMs()};
}
