#include "engine/checksum/checksum_checks.h"

#include "core/diagnostics/log_categories.h"
#include "core/download_list/checksum_note.h"
#include "core/download_list/download_list.h"
#include "core/download_list/entry_state.h"
#include "core/settings/settings.h"
#include "core/text/url_codec.h"
#include "engine/checksum/checksum_words.h"
#include "engine/checksum/file_hasher.h"
#include "engine/engine_context.h"
#include "engine/queue/download_queue.h"

namespace {

bool LooksUp(const EngineContext& ctx, const DownloadRecord& r) {
    return ctx.settings.ChecksumLookups != FlagFalse && r.Protocol != Protocol::Ftp;
}

}  // namespace

ChecksumChecks::ChecksumChecks(EngineContext& ctx, DownloadQueue& queue, QObject* parent)
    : QObject(parent), ctx_(ctx), queue_(queue), hasher_(std::make_unique<FileHasher>()) {
    connect(&queue_, &DownloadQueue::segmentsPlanned, this, &ChecksumChecks::onSegmentsPlanned);
    connect(&queue_, &DownloadQueue::sessionEnded, this,
            [this](int slot, const QString&) { onSessionEnded(slot); });
    connect(hasher_.get(), &FileHasher::finished, this, &ChecksumChecks::onHashed);
    connect(hasher_.get(), &FileHasher::progress, this,
            [this](std::int64_t done, std::int64_t total) {
                if (total >= ProgressFromBytes) {
                    emit hashing(hashingSlot_, done, total);
                }
            });
}

ChecksumChecks::~ChecksumChecks() = default;

bool ChecksumChecks::busy() const {
    return !lookups_.empty() || !waiting_.empty() || hasher_->running();
}

void ChecksumChecks::Forget(int slot) {
    lookups_.erase(slot);
    waiting_.erase(slot);
    if (hashingSlot_ == slot && hasher_->running()) {
        hasher_->Abort();
        hashingSlot_ = 0;
        pump();
    }
}

void ChecksumChecks::onSegmentsPlanned(int slot) {
    const DownloadRecord* r = ctx_.list.record(slot);
    if (r == nullptr || !LooksUp(ctx_, *r) || lookups_.contains(slot)) {
        return;
    }
    const ChecksumNote note = ReadChecksumNote(*r);
    if (!note.expected.valid() && !note.looked) {
        startLookup(slot);
    }
}

void ChecksumChecks::onSessionEnded(int slot) {
    const DownloadRecord* r = ctx_.list.record(slot);
    if (r != nullptr && StateOf(*r) == ListEntryState::Finished) {
        Check(slot);
    } else {
        lookups_.erase(slot);  // looked for again when it runs again
    }
}

void ChecksumChecks::Check(int slot) {
    const DownloadRecord* r = ctx_.list.record(slot);
    if (r == nullptr || StateOf(*r) != ListEntryState::Finished) {
        return;
    }
    const ChecksumNote note = ReadChecksumNote(*r);
    if (note.outcome != ChecksumNote::Outcome::Unchecked) {
        return;
    }
    if (!note.expected.valid() && !note.looked && LooksUp(ctx_, *r) && !lookups_.contains(slot)) {
        startLookup(slot);
    }
    waiting_.emplace(slot, false);
    pump();
}

void ChecksumChecks::ResumeChecks() {
    for (int slot = 1; slot <= ctx_.list.DownloadCount; ++slot) {
        const DownloadRecord* r = ctx_.list.record(slot);
        if (r == nullptr) {
            continue;
        }
        const ChecksumNote note = ReadChecksumNote(*r);
        if (StateOf(*r) == ListEntryState::Finished && note.expected.valid() &&
            note.outcome == ChecksumNote::Outcome::Unchecked) {
            Check(slot);
        }
    }
}

void ChecksumChecks::HashSha256(int slot) {
    const DownloadRecord* r = ctx_.list.record(slot);
    if (r != nullptr && StateOf(*r) == ListEntryState::Finished) {
        waiting_.emplace(slot, true);
        pump();
    }
}

void ChecksumChecks::startLookup(int slot) {
    auto lookup = std::make_unique<ChecksumLookup>(ctx_.sockets, ctx_.settings, sums_, nullptr,
                                                   ctx_.proxyResolver);
    lookup->setWait(lookupWait_);
    const QString url = ctx_.list.DownloadList[slot].Url;
    connect(lookup.get(), &ChecksumLookup::finished, this,
            [this, slot, url](const std::optional<Checksum>& found, const QString& source) {
                const auto running = lookups_.find(slot);
                DownloadRecord* r = ctx_.list.record(slot);
                if (r != nullptr && r->Url == url) {
                    ChecksumNote note = ReadChecksumNote(*r);
                    if (!note.expected.valid() && found) {
                        note.expected = *found;
                        note.source = source;
                        qCInfo(lcEngine).noquote() << DecodeUrl(r->FileName) << "has its"
                                                   << DigestName(found->kind) << "in" << source;
                    }
                    note.looked = true;
                    KeepChecksumNote(*r, note);
                }
                // The lookup is deleted after it has returned from its signal.
                running->second.release()->deleteLater();
                lookups_.erase(running);
                pump();
            });
    lookup->Start(ctx_.list.DownloadList[slot]);
    lookups_[slot] = std::move(lookup);
}

void ChecksumChecks::pump() {
    if (hasher_->running()) {
        return;
    }
    for (auto it = waiting_.begin(); it != waiting_.end();) {
        const int slot = it->first;
        const bool sha256Only = it->second;
        if (lookups_.contains(slot)) {
            ++it;
            continue;
        }
        it = waiting_.erase(it);
        DownloadRecord* r = ctx_.list.record(slot);
        if (r == nullptr || StateOf(*r) != ListEntryState::Finished) {
            continue;
        }
        ChecksumNote note = ReadChecksumNote(*r);
        if (!sha256Only && !note.expected.valid()) {
            note.outcome = ChecksumNote::Outcome::NoneFound;
            KeepChecksumNote(*r, note);
            saveSoon();
            emit checked(slot);
            continue;
        }
        if (sha256Only && !note.sha256.isEmpty()) {
            emit checked(slot);
            continue;
        }
        startHash(slot, sha256Only);
        return;
    }
}

void ChecksumChecks::startHash(int slot, bool sha256Only) {
    const DownloadRecord& r = ctx_.list.DownloadList[slot];
    const ChecksumNote note = ReadChecksumNote(r);
    std::vector<DigestKind> kinds{DigestKind::Sha256};
    if (!sha256Only && note.expected.kind != DigestKind::Sha256) {
        kinds.push_back(note.expected.kind);
    }
    hashingSlot_ = slot;
    hashingSha256Only_ = sha256Only;
    hashingUrl_ = r.Url;
    qCInfo(lcEngine).noquote() << "hashing" << r.SavePath;
    hasher_->Start(r.SavePath, kinds);
}

void ChecksumChecks::onHashed(const FileDigests& digests) {
    const int slot = std::exchange(hashingSlot_, 0);
    DownloadRecord* r = ctx_.list.record(slot);
    if (r != nullptr && r->Url == hashingUrl_ && StateOf(*r) == ListEntryState::Finished) {
        ChecksumNote note = ReadChecksumNote(*r);
        const auto sha256 = digests.hex.find(DigestKind::Sha256);
        note.sha256 = sha256 != digests.hex.end() ? sha256->second : note.sha256;
        if (!hashingSha256Only_ && !digests.error.isEmpty()) {
            note.outcome = ChecksumNote::Outcome::Unreadable;
            note.actual = digests.error;
        } else if (!hashingSha256Only_) {
            const auto actual = digests.hex.find(note.expected.kind);
            note.actual = actual != digests.hex.end() ? actual->second : QString();
            note.outcome = note.actual == note.expected.hex ? ChecksumNote::Outcome::Matches
                                                            : ChecksumNote::Outcome::Failed;
        }
        KeepChecksumNote(*r, note);
        qCInfo(lcEngine).noquote() << DecodeUrl(r->FileName) << ChecksumWords(note);
        saveSoon();
        emit checked(slot);
    }
    pump();
}

void ChecksumChecks::saveSoon() {
    if (ctx_.saveListSoon) {
        ctx_.saveListSoon();
    } else if (ctx_.saveList) {
        ctx_.saveList();
    } else if (!ctx_.listPath.isEmpty()) {
        SaveList(ctx_.list, ctx_.listPath);
    }
}
