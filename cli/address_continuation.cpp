#include "cli/address_continuation.h"

#include <algorithm>

#include "core/diagnostics/log_categories.h"
#include "core/download_list/download_list.h"
#include "core/download_list/file_identity.h"
#include "core/text/url_codec.h"
#include "core/urls/parse_url.h"
#include "engine/address_change/address_change.h"

AddressContinuation::AddressContinuation(DownloadListState& list, VelmoraSockets& sockets,
                                         const Settings& settings, QObject* parent)
    : QObject(parent), list_(list), search_(list, sockets, settings) {
    connect(&search_, &ContinuationSearch::found, this, &AddressContinuation::onFound);
    connect(&search_, &ContinuationSearch::none, this, &AddressContinuation::onNone);
}

bool AddressContinuation::Start(const QString& url) {
    const std::vector<int> candidates = ContinuationCandidates(list_, url);
    if (candidates.empty()) {
        return false;
    }
    url_ = url;
    name_ = ParseUrl(url).fileName;
    sameName_ = std::any_of(candidates.begin(), candidates.end(), [&](int slot) {
        const DownloadRecord* r = list_.record(slot);
        return r != nullptr && !name_.isEmpty() && r->FileName == name_;
    });
    qCInfo(lcQueue, "%s: %d unfinished downloads it may continue, checking",
           qUtf8Printable(UrlForDisplay(url)), int(candidates.size()));
    search_.Start(url);
    return true;
}

void AddressContinuation::onFound(int slot, const SameFileVerdict& verdict) {
    DownloadRecord* r = list_.record(slot);
    // The ETag is named only where the entry had one an answer's ETag had to match (the change
    // leaves the new address's validators to its next probe).
    const bool etag = r != nullptr && !ReadIdentity(*r).etag.isEmpty();
    if (r == nullptr || !ChangeAddress(*r, url_)) {
        onNone({QStringLiteral("its address could not be changed")});
        return;
    }
    qCInfo(lcQueue, "slot %d: continues from %s (answered by %s)", slot,
           qUtf8Printable(UrlForDisplay(url_)), qUtf8Printable(UrlForDisplay(verdict.finalUrl)));
    const QString line =
        QStringLiteral("%1: continuing from the new address (%2 checked), %3 bytes kept")
            .arg(DecodeUrl(r->FileName),
                 etag ? QStringLiteral("size, ETag and bytes") : QStringLiteral("size and bytes"),
                 QString::number(r->BytesDone.bytes()));
    emit decided(slot, line, true);
}

void AddressContinuation::onNone(const QStringList& refusals) {
    // Each refusal names the entry it concerns; the line already names the address's file.
    const QString ours = name_ + QStringLiteral(": ");
    QStringList why;
    for (const QString& refusal : refusals) {
        why << (refusal.startsWith(ours) ? refusal.mid(ours.size()) : refusal);
    }
    if (why.isEmpty()) {
        why << QStringLiteral("no unfinished download could be checked");
    }
    const QString line =
        QStringLiteral("%1: not continued from the new address: %2; fetching it as a new download")
            .arg(name_.isEmpty() ? UrlForDisplay(url_) : DecodeUrl(name_),
                 why.join(QStringLiteral("; ")));
    emit decided(0, line, sameName_);
}
