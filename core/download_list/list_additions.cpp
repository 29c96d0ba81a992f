#include "core/download_list/list_additions.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "core/download_list/entry_state.h"

namespace {

// Whether text.toUpper() == upper, without making the upper-cased copy for every entry of a
// full list. An ASCII letter upper-cases to one letter; past the ASCII start of the text
// upper-casing may change the length (ß gives SS), so that rest goes through toUpper.
bool UpperCasedEquals(const QString& text, const QString& upper) {
    const qsizetype common = std::min(text.size(), upper.size());
    qsizetype i = 0;
    for (; i < common; ++i) {
        char16_t c = text[i].unicode();
        if (c >= 0x80) {
            return text.toUpper() == upper;
        }
        if (c >= u'a' && c <= u'z') {
            c = char16_t(c - u'a' + u'A');
        }
        if (c != upper[i].unicode()) {
            return false;
        }
    }
    for (; i < text.size(); ++i) {
        if (text[i].unicode() >= 0x80) {
            return text.toUpper() == upper;
        }
    }
    return text.size() == upper.size();
}

}  // namespace

int FindActiveDuplicate(const DownloadListState& list, const QString& encodedUrl) {
    const QString wanted = encodedUrl.toUpper();
    for (int slot = 1; slot <= UsedSlots(list); ++slot) {
        const DownloadRecord& r = list.DownloadList[slot];
        if (Listed(r) && UpperCasedEquals(r.Url, wanted)) {
            return slot;
        }
    }
    return 0;
}

int ChooseFreeSlot(DownloadListState& list) {
    for (int slot = 1; slot <= UsedSlots(list); ++slot) {
        if (!Listed(list.DownloadList[slot])) {
            return slot;
        }
    }
    if (list.DownloadCount >= MaxDownloadSlots) {
        return 0;
    }
    const int slot = list.DownloadCount + 1;
    list.DownloadList.resize(slot + 1);
    list.DownloadList[slot] = DownloadRecord{};
    list.DownloadCount = static_cast<std::int16_t>(slot);
    return slot;
}

void FillNewRecord(DownloadRecord& record, const ParsedUrl& parsed, const QString& encodedUrl,
                   int updateFlag, const QString& chosenSavePath) {
    const bool fetchAgain = Listed(record) && record.Reserved3 == ReplacesEarlierFile;

    record.IsUpdate = static_cast<std::int16_t>(
        std::min<std::int64_t>(std::abs(std::int64_t(updateFlag)), INT16_MAX));
    record.Segments.redim(0);
    record.SegmentCount = 0;
    record.SiteLogins.erase();  // the earlier addresses of what the slot held
    record.FileName = parsed.fileName;
    TakeAddress(record, parsed, encodedUrl);
    record.Reserved3 = fetchAgain ? ReplacesEarlierFile : FlagFalse;
    if (!chosenSavePath.isEmpty()) {
        record.SavePath = chosenSavePath;
        record.HasSavePath = FlagTrue;
    } else if (!fetchAgain) {
        record.SavePath.clear();
        record.HasSavePath = FlagFalse;
    }
    record.RangesSupported = FlagTrue;
    // A reused slot may come from a download that gave up; the new one has not failed yet and
    // must not show as failed while it waits.
    EnterList(record);
    record.RetryCount = 0;
    record.Referer.clear();
    // A browser's cookies belong to the address they came with.
    record.Reserved5.clear();
    record.Priority = 1;
    record.LastTick = 0;
    record.FileSize = Currency{};
    ForgetTransfer(record);
    record.DateAdded = OleDate::today();
}

void TakeAddress(DownloadRecord& record, const ParsedUrl& parsed, const QString& encodedUrl) {
    record.Url = encodedUrl;
    record.UrlPath = parsed.path;
    record.HostName = parsed.host;
    record.Port = parsed.port;
    record.Protocol = parsed.protocol;
    record.UserName = parsed.user;
    record.Password = parsed.password;
}

void ForgetTransfer(DownloadRecord& record) {
    record.BytesDone = Currency{};
    record.Percent = 0;
    record.ElapsedSeconds = 0;
    record.RemainingSeconds = 0;
}

void MarkFetchAgain(DownloadRecord& record) {
    record.Reserved3 = ReplacesEarlierFile;
    record.HasSavePath = record.SavePath.isEmpty() ? FlagFalse : FlagTrue;
}

int CountRunning(const DownloadListState& list) {
    int running = 0;
    for (int slot = 1; slot <= UsedSlots(list); ++slot) {
        const DownloadRecord& r = list.DownloadList[slot];
        running += StateOf(r) == ListEntryState::Running ? 1 : 0;
    }
    return running;
}
