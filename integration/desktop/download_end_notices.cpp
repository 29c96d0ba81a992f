#include "integration/desktop/download_end_notices.h"

#include <utility>

#include "core/download_list/checksum_note.h"
#include "core/download_list/download_list.h"
#include "core/download_list/entry_state.h"
#include "engine/checksum/checksum_checks.h"
#include "engine/engine_context.h"
#include "engine/queue/download_queue.h"
#include "engine/session/failure_words.h"

DownloadEndNotices::DownloadEndNotices(EngineContext& ctx, DownloadQueue& queue,
                                       ChecksumChecks& checks, Tell tell, QObject* parent)
    : QObject(parent), ctx_(ctx), tell_(std::move(tell)) {
    connect(&queue, &DownloadQueue::sessionEnded, this, &DownloadEndNotices::sessionEnded);
    connect(&checks, &ChecksumChecks::checked, this, &DownloadEndNotices::checked);
}

void DownloadEndNotices::sessionEnded(int slot, const QString& why) {
    const DownloadRecord* r = ctx_.list.record(slot);
    if (r == nullptr) {
        return;
    }
    // A download that ran again is checked again.
    checksumTold_.erase(slot);
    if (StateOf(*r) == ListEntryState::Finished) {
        tell_({DownloadEnd::Kind::Finished, r->FileName, r->SavePath, {}});
        return;
    }
    // As the download window words it; a plain close (a pause) has no reason and is no end.
    const QString stored = FailureWords(FailureCodeOf(*r), ctx_.texts);
    const QString reason = stored.isEmpty() ? FailureReason(why, ctx_.texts) : stored;
    if (!reason.isEmpty()) {
        tell_({DownloadEnd::Kind::Failed, r->FileName, r->SavePath, reason});
    }
}

void DownloadEndNotices::checked(int slot) {
    const DownloadRecord* r = ctx_.list.record(slot);
    if (r == nullptr || ReadChecksumNote(*r).outcome != ChecksumNote::Outcome::Failed ||
        !checksumTold_.insert(slot).second) {
        return;
    }
    tell_({DownloadEnd::Kind::ChecksumFailed, r->FileName, r->SavePath, {}});
}
