#include "engine/address_change/address_change.h"

#include <algorithm>

#include "core/diagnostics/log_categories.h"
#include "core/download_list/checksum_note.h"
#include "core/download_list/download_list.h"
#include "core/download_list/entry_options.h"
#include "core/download_list/entry_state.h"
#include "core/download_list/file_identity.h"
#include "core/download_list/list_additions.h"
#include "core/download_list/part_layout.h"
#include "core/text/url_codec.h"
#include "core/urls/parse_url.h"
#include "engine/http/browser_handover.h"
#include "engine/session/failure_words.h"

namespace {

// The record's SiteLogins array, which no version of the program fills with logins (those live
// in the list's own table), holds the earlier addresses: Site is the address, LoginFlag this
// mark. Older versions read and write it as it is.
constexpr std::int32_t EarlierAddressMark = 2;
constexpr int EarlierAddressesKept = 8;

bool HasBytes(const DownloadRecord& r) {
    if (r.BytesDone.bytes() > 0) {
        return true;
    }
    for (const SegmentRecord& s : r.Segments.items) {
        if (StoredBytes(s) > 0) {
            return true;
        }
    }
    return false;
}

QString HostOfAddress(const QString& address) {
    const ParsedUrl parsed = ParseUrl(EncodeUrl(address));
    return parsed.status == UrlValid ? parsed.host.toLower() : QString();
}

}  // namespace

bool LinkExpired(const DownloadRecord& r) {
    if (!Unfinished(r) || !LastAttemptFailed(r) || !HasBytes(r)) {
        return false;
    }
    const std::int16_t code = FailureCodeOf(r);
    return code == 403 || code == 404 || code == 410 || code == FailureCode::NowWebPage;
}

bool ChangeAddress(DownloadRecord& r, const QString& newUrl, const QString& referer,
                   const QString& cookie) {
    const QString encoded = EncodeUrl(newUrl);
    const ParsedUrl parsed = ParseUrl(encoded);
    if (parsed.status != UrlValid || encoded == r.Url) {
        return parsed.status == UrlValid;
    }
    // The array also holds the entry's checksum note and its own options, which stay.
    const ChecksumNote note = ReadChecksumNote(r);
    const EntryOptions options = ReadEntryOptions(r);
    QVector<SiteLogin>& earlier = r.SiteLogins.items;
    earlier.erase(std::remove_if(earlier.begin(), earlier.end(),
                                 [&](const SiteLogin& l) {
                                     return l.LoginFlag != EarlierAddressMark || l.Site == r.Url;
                                 }),
                  earlier.end());
    SiteLogin old;
    old.Site = r.Url;
    old.LoginFlag = EarlierAddressMark;
    earlier.push_back(old);
    if (earlier.size() > EarlierAddressesKept) {
        earlier.erase(earlier.begin(), earlier.end() - EarlierAddressesKept);
    }
    KeepChecksumNote(r, note);
    KeepEntryOptions(r, options);
    r.SiteLogins.dimensioned = true;
    r.SiteLogins.lowerBound = 0;

    qCInfo(lcQueue).noquote() << DecodeUrl(r.FileName) << "goes on from"
                              << UrlForDisplay(DecodeUrl(encoded)) << "instead of"
                              << UrlForDisplay(DecodeUrl(r.Url));
    // The file's name stays: its bytes, its part file and its target are named after it.
    TakeAddress(r, parsed, encoded);
    r.Referer = HandedReferer(referer);
    r.Reserved5 = KeptCookie(encoded, cookie);
    r.RetryCount = 0;
    // The version the bytes are of was proved by their bytes; the new address's validators are
    // its own (another ETag, or none, for the same file): its next probe records them, as it
    // would a new download's, instead of asking with the old ones and getting the file whole.
    const FileIdentity was = ReadIdentity(r);
    FileIdentity unknown;
    unknown.noRestart = was.noRestart;
    unknown.page = was.page;
    KeepIdentity(r, unknown);
    return true;
}

QStringList EarlierAddresses(const DownloadRecord& r) {
    QStringList addresses;
    for (const SiteLogin& l : r.SiteLogins.items) {
        if (l.LoginFlag == EarlierAddressMark) {
            addresses << l.Site;
        }
    }
    return addresses;
}

std::vector<int> ContinuationCandidates(const DownloadListState& list, const QString& newUrl,
                                        const QString& referer) {
    const QString encoded = EncodeUrl(newUrl);
    const ParsedUrl parsed = ParseUrl(encoded);
    if (parsed.status != UrlValid || parsed.protocol == Protocol::Ftp) {
        return {};
    }
    const QString name = DecodeUrl(parsed.fileName);
    const QString host = parsed.host.toLower();
    const QString pageHost = HostOfAddress(referer);
    struct Found {
        int slot;
        bool byName;
        double added;
    };
    if (FindActiveDuplicate(list, encoded) > 0) {
        return {};  // the list has this address: it goes on as it is
    }
    std::vector<Found> found;
    for (int slot = 1; slot <= list.DownloadCount; ++slot) {
        const DownloadRecord& r = list.DownloadList.at(slot);
        if (!Unfinished(r) || StateOf(r) == ListEntryState::Running || !HasBytes(r) ||
            r.Protocol == Protocol::Ftp) {
            continue;
        }
        const bool byName = !name.isEmpty() && DecodeUrl(r.FileName) == name;
        const QString entryHost = r.HostName.toLower();
        const QString entryPage = HostOfAddress(r.Referer);
        const bool bySite = entryHost == host || (!pageHost.isEmpty() && pageHost == entryHost) ||
                            (!entryPage.isEmpty() && (entryPage == host || entryPage == pageHost));
        if (byName || bySite) {
            found.push_back({slot, byName, r.DateAdded.days()});
        }
    }
    std::stable_sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
        return a.byName != b.byName ? a.byName : a.added > b.added;
    });
    std::vector<int> best;
    for (const Found& f : found) {
        best.push_back(f.slot);
    }
    return best;
}
